// SPDX-License-Identifier: GPL-3.0-or-later
// Picture lookup by name. QPixmap keeps decoded resources in QPixmapCache, so a
// lamp switched at every beat is not decoded again each time.
#include "platform/Pictures.h"

#include <QGuiApplication>
#include <QPixmapCache>

static void initResources()
{
    // The resources are compiled into a static library; this keeps them linked.
    Q_INIT_RESOURCE(resources);
}

namespace pulsewerk {

namespace {

void ensureResources()
{
    static const bool initialised = (initResources(), true);
    (void)initialised;
}

} // namespace

QPixmap loadPicture(const QString &name)
{
    ensureResources();
    // A screen with more than one device pixel to a logical pixel gets the picture drawn
    // at twice the size, shown at the same logical size. It is cached with its ratio
    // set, so the ratio is not set on a fresh copy at every beat.
    if (qGuiApp && qGuiApp->devicePixelRatio() > 1.0) {
        const QString key = QStringLiteral("pulsewerk/") + name + QStringLiteral("@2x");
        QPixmap sharp;
        if (QPixmapCache::find(key, &sharp))
            return sharp;
        sharp.load(QStringLiteral(":/bitmaps/") + name + QStringLiteral("@2x.bmp"));
        if (!sharp.isNull()) {
            sharp.setDevicePixelRatio(2.0);
            QPixmapCache::insert(key, sharp);
            return sharp;
        }
    }
    return QPixmap(QStringLiteral(":/bitmaps/") + name + QStringLiteral(".bmp"));
}

} // namespace pulsewerk

QIcon pulsewerk::applicationIcon()
{
    ensureResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/pulsewerk-%1.png").arg(size), QSize(size, size));
    return icon;
}
