// SPDX-License-Identifier: GPL-3.0-or-later
// Bitmaps carried as Qt resources, looked up by their exact upper-case name.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace pulsewerk {

// The bitmap named `name` (for example "LED_RON"); a null pixmap when there is none.
// Where the screens have a device pixel ratio above 1 it is the picture drawn at twice
// the size, with a device pixel ratio of 2: the same logical size, sharp.
QPixmap loadPicture(const QString &name);

// The program's icon: a pyramid-shaped beat-keeper, 16 and 32 pixels and larger.
QIcon applicationIcon();

} // namespace pulsewerk
