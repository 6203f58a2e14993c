// SPDX-License-Identifier: GPL-3.0-or-later
// How assistive technology sees the classic-style controls: a picture that answers
// clicks is a push button with a press action, an indicator panel is one element, and a
// plain widget shown as a window is a window.
#pragma once

namespace pulsewerk {

// Registers the controls' accessible interfaces with Qt; the first control built calls it.
void installAccessibleControls();

} // namespace pulsewerk
