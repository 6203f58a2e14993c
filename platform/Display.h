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

// Writes the one line that says there is no display and how to run headless.
void reportNoDisplay();

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
