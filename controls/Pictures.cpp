// SPDX-License-Identifier: GPL-3.0-or-later
// Picture lookup by name, decoded once and kept in QPixmapCache, so a lamp switched at
// every beat costs a hash lookup.
#include "controls/Pictures.h"

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
    // Kept under the picture's own name: loading by file name would ask the resource
    // for its time stamp (and the system for its time zone) at every beat.
    // A screen with more than one device pixel to a logical pixel gets the picture drawn
    // at twice the size, shown at the same logical size, cached with its ratio set.
    const bool sharpScreen = qGuiApp && qGuiApp->devicePixelRatio() > 1.0;
    const QString key = QStringLiteral("pulsewerk/") + name + (sharpScreen ? QStringLiteral("@2x") : QString());
    QPixmap picture;
    if (QPixmapCache::find(key, &picture))
        return picture;
    if (sharpScreen && picture.load(QStringLiteral(":/bitmaps/") + name + QStringLiteral("@2x.bmp")))
        picture.setDevicePixelRatio(2.0);
    else
        picture.load(QStringLiteral(":/bitmaps/") + name + QStringLiteral(".bmp"));
    if (!picture.isNull())
        QPixmapCache::insert(key, picture);
    return picture;
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
