// SPDX-License-Identifier: GPL-3.0-or-later
// Whether a window can be shown at all, and one line instead of the toolkit's abort
// when it cannot.
#pragma once

#include <QtGlobal>

namespace pulsewerk {

// True when a platform Qt may use can show windows: an X or Wayland display named by
// DISPLAY or WAYLAND_DISPLAY answers on its socket, or another platform (offscreen,
// vnc ...) is chosen with QT_QPA_PLATFORM.
bool displayAvailable();

// Has the toolkit send the window's pixels to an X server on its socket, not through
// shared memory, unless QT_XCB_NO_MITSHM is set already. Call it before the toolkit starts.
void paintOverTheSocket();

// Writes the one line that says there is no display and how to run headless.
void reportNoDisplay();

// With no session bus named, none at XDG_RUNTIME_DIR and no dbus-launch to start one,
// names a bus that refuses at once: the toolkit's accessibility bridge then finds none
// instead of having the D-Bus library try to start one, a try that can hang the start
// for good. Call it before any thread starts.
void skipSessionBusLaunch();

// While it lives, a toolkit that cannot reach its display ends the process with
// reportNoDisplay's line and exit status 1, instead of aborting with its own report.
// The toolkit's other messages are held back and passed on when the guard goes.
class DisplayConnectionGuard {
public:
    DisplayConnectionGuard();
    ~DisplayConnectionGuard();
    Q_DISABLE_COPY_MOVE(DisplayConnectionGuard)
};

} // namespace pulsewerk
