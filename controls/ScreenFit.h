// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's scale on a screen too small for it: Qt reads QT_SCALE_FACTOR once,
// when the application is made, so the screen is measured before that.
#pragma once

#include <QSize>
#include <QtGlobal>

namespace pulsewerk {

// With QT_SCALE_FACTOR above 1, measures the primary screen before the application is
// made and lowers the factor, in quarters and not below 1, until a window of
// `windowSize` at scale 1, with room for its frame, fits the screen's available area;
// says so in one line when it does. `argc` and `argv` are the application's.
void fitScaleToScreen(const QSize &windowSize, int &argc, char **argv);

// The largest factor, at most `asked` and in quarters, at which a window of
// `windowSize` with room for its frame fits `available` (device pixels) on a screen
// that scales by `screenFactor` of its own; never below 1.
qreal fittingScale(const QSize &windowSize, const QSize &available, qreal asked, qreal screenFactor);

} // namespace pulsewerk
