#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
# Walks the running program's AT-SPI tree as a screen reader does and works it through
# the press actions alone: names, roles, the checked state of Mute, the tempo value,
# the options dialog's boxes, and Exit. Prints TAP lines; exits 1 on any failure.
# Run by atspi-test.sh, which starts the program, the display and the buses.
import sys
import time

import pyatspi

failures = 0


def check(what, condition):
    global failures
    print(("ok - " if condition else "not ok - ") + what)
    if not condition:
        failures += 1
    return condition


def wait_for(condition, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            value = condition()
            if value:
                return value
        except Exception:  # the tree changes under us while a window opens or closes
            pass
        time.sleep(0.05)
    return None


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def application():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Pulsewerk" and app.childCount > 0:
            return app
    return None


def find(root, name, role=None):
    for node in walk(root):
        if node.name == name and (role is None or node.getRoleName() == role):
            return node
    return None


def window(app, title):
    """The shown top-level window of that title (a closed dialog may stay in the tree)."""
    for i in range(app.childCount):
        child = app.getChildAtIndex(i)
        if child is not None and child.name == title and child.getState().contains(pyatspi.STATE_SHOWING):
            return child
    return None


def press(node):
    action = node.queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    return "Press" in names and action.doAction(names.index("Press"))


def checked(node):
    return node.getState().contains(pyatspi.STATE_CHECKED)


app = wait_for(application, 30)
if not check("the program is on the accessibility bus", app is not None):
    sys.exit(1)
main = wait_for(lambda: window(app, "Pulsewerk"))
if not check("the main window is there", main is not None):
    sys.exit(1)
check("the main window is a frame", main.getRoleName() == "frame")

roles = {node.getRoleName() for node in walk(main)}
check("no unnamed picture in the tree (roles: %s)" % ", ".join(sorted(roles)), "image" not in roles)
for name in ["Multiplier \u00d71", "Mute", "Options", "About", "Exit"]:
    button = find(main, name, "push button")
    if check("%s is a push button" % name, button is not None):
        action = button.queryAction()
        check("%s has a press action" % name, "Press" in [action.getName(i) for i in range(action.nActions)])
        check("%s's description names its keys" % name, "(" in button.description)

slider = find(main, "Tempo", "slider")
if check("the slider is named Tempo", slider is not None):
    check("the slider tells 120 beats per minute",
          slider.queryValue().currentValue == 120 and slider.description == "beats per minute")
tempo_box = find(main, "Tempo in beats per minute", "text")
check("the tempo box is named", tempo_box is not None)
meter = next((n for n in walk(main) if n.getRoleName() == "combo box"), None)
labels = [t.name for r in meter.getRelationSet() if r.getRelationType() == pyatspi.RELATION_LABELLED_BY
          for t in (r.getTarget(i) for i in range(r.getNTargets()))] if meter else []
check("the meter list is labelled Meter (%s)" % labels, "Meter" in labels)
beat = find(main, "Beat", "animation")
check("the lamp row is one element Beat", beat is not None and beat.childCount == 0)

# The tempo set through the slider's value reaches the tempo box, as a drag does.
if slider is not None and tempo_box is not None:
    slider.queryValue().currentValue = 150
    check("a tempo of 150 set on the slider shows in the tempo box",
          wait_for(lambda: tempo_box.queryText().getText(0, -1) == "150"))

multiplier = find(main, "Multiplier \u00d71", "push button")
if multiplier is not None:
    press(multiplier)
    check("pressing the multiplier makes it x2", wait_for(lambda: find(main, "Multiplier \u00d72", "push button")))

mute = find(main, "Mute", "push button")
if mute is not None:
    check("Mute starts unchecked", not checked(mute))
    press(mute)
    check("pressing Mute checks it and names it Unmute",
          wait_for(lambda: checked(mute) and mute.name == "Unmute"))
    press(mute)
    check("pressing it again unchecks it and names it Mute",
          wait_for(lambda: not checked(mute) and mute.name == "Mute"))

options_button = find(main, "Options", "push button")
if options_button is not None:
    press(options_button)
    dialog = wait_for(lambda: window(app, "Options"))
    if check("pressing Options opens the options dialog", dialog is not None):
        for name in ["Channel", "Strong Beat Note", "Strong Beat Velocity", "Weak Beat Note", "Weak Beat Velocity"]:
            check("the options dialog has a box named %s" % name, find(dialog, name, "text") is not None)
        cancel = find(dialog, "Cancel", "push button")
        check("Cancel is bound to Alt+C",
              cancel is not None and "C" in cancel.queryAction().getKeyBinding(0).upper())
        press(cancel)
        check("pressing Cancel closes it", wait_for(lambda: window(app, "Options") is None))

exit_button = find(main, "Exit", "push button")
if exit_button is not None:
    try:
        press(exit_button)
    except Exception:  # the program may end before its answer leaves: atspi-test.sh checks the end
        pass

sys.exit(1 if failures else 0)
