// SPDX-License-Identifier: GPL-3.0-or-later
// Drives a modal dialog from inside its own event loop, the way a user works in it
// while the caller's exec() waits, and sends keys through the window system.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>

// Runs `open`, which must show a modal dialog and wait for it (exec). Once the dialog
// is up and active, `steps` works in it. A dialog still open after the steps is
// closed with its close command, so a failed check never leaves the test waiting.
// Returns whether the dialog was still open after the steps.
inline bool whileModal(const std::function<void()> &open, const std::function<void(QDialog &)> &steps)
{
    bool reached = false;
    bool stillOpen = false;
    QTimer timer; // destroyed with this call, so it never fires after a dialog that did not open
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        if (!dialog->isActiveWindow())
            dialog->activateWindow();
        reached = QTest::qWaitForWindowActive(dialog);
        if (reached)
            steps(*dialog);
        stillOpen = dialog->isVisible();
        if (stillOpen)
            dialog->close();
    });
    timer.start(0);
    open();
    if (!reached)
        QTest::qFail("no active modal dialog opened", __FILE__, __LINE__);
    return stillOpen;
}

// One key pressed and released on the keyboard: it goes to the active window's focus widget.
inline void press(QDialog &dialog, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(dialog.windowHandle(), key, modifiers);
}

// Characters typed on the keyboard, one key each.
inline void type(QDialog &dialog, const QString &text)
{
    for (const QChar c : text)
        QTest::keyClick(dialog.windowHandle(), c.toLatin1());
}
