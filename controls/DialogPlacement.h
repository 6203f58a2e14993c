// SPDX-License-Identifier: GPL-3.0-or-later
// Looks the three dialogs share: the help banner in the theme's tooltip colours, and
// the first placement at the centre of the screen.
#pragma once

class QWidget;

namespace pulsewerk {

// Fills `banner` with the tooltip background; its labels stay transparent over it.
void showBanner(QWidget *banner);
// Moves the top-level `dialog` to the centre of its screen's available area.
void centreOnScreen(QWidget *dialog);

} // namespace pulsewerk
