// Picture lookup by name. QPixmap keeps decoded resources in QPixmapCache, so a
// lamp switched at every beat is not decoded again each time.
#include "platform/Pictures.h"

static void initResources()
{
    // The resources are compiled into a static library; this keeps them linked.
    Q_INIT_RESOURCE(resources);
}

namespace platform {

namespace {

void ensureResources()
{
    static const bool initialised = (initResources(), true);
    (void)initialised;
}

} // namespace

QPixmap LoadPicture(const QString &name)
{
    ensureResources();
    return QPixmap(QStringLiteral(":/bitmaps/") + name + QStringLiteral(".bmp"));
}

} // namespace platform

QIcon platform::ApplicationIcon()
{
    ensureResources();
    QIcon icon;
    for (const int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/pulsewerk-%1.png").arg(size), QSize(size, size));
    return icon;
}
