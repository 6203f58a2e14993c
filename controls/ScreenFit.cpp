// SPDX-License-Identifier: GPL-3.0-or-later
// Lowering QT_SCALE_FACTOR until the fixed-size main window fits its screen.
#include "controls/ScreenFit.h"

#include "platform/Say.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pulsewerk {
namespace {

// Room for the frame and title bar the window manager draws, in device pixels.
const QSize kFrameAllowance(16, 48);

} // namespace

qreal fittingScale(const QSize &windowSize, const QSize &available, qreal asked, qreal screenFactor)
{
    const QSizeF room = QSizeF(available - kFrameAllowance) / screenFactor;
    const qreal most = std::min(room.width() / windowSize.width(), room.height() / windowSize.height());
    return std::max(1.0, std::min(asked, std::floor(most * 4) / 4));
}

void fitScaleToScreen(const QSize &windowSize, int &argc, char **argv)
{
    const QByteArray text = qgetenv("QT_SCALE_FACTOR");
    bool number = false;
    const qreal asked = text.toDouble(&number);
    if (!number || asked <= 1)
        return;
    qreal fitted = asked;
    {
        const QGuiApplication measuring(argc, argv);
        const QScreen *screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        const qreal ratio = screen->devicePixelRatio(); // the asked factor times the screen's own
        const QSize available = (QSizeF(screen->availableGeometry().size()) * ratio).toSize();
        fitted = fittingScale(windowSize, available, asked, ratio / asked);
    }
    if (fitted >= asked)
        return;
    qputenv("QT_SCALE_FACTOR", QByteArray::number(fitted));
    say(QStringLiteral("the window does not fit the screen at QT_SCALE_FACTOR=%1; it is shown at scale %2.")
            .arg(QString::fromLocal8Bit(text), QString::number(fitted))
            .toLocal8Bit()
            .constData());
}

} // namespace pulsewerk
