// The display check. Without it, Qt's xcb platform aborts with a long message.
#include "platform/Display.h"

#include <QByteArray>
#include <QFileInfo>
#include <QRegularExpression>
#include <QString>
#include <QtGlobal>

namespace platform {
namespace {

// A local X display (":N" or "unix:N") answers on its socket; others are assumed reachable.
bool x11DisplayReachable(const QByteArray &display)
{
    static const QRegularExpression local(QStringLiteral("^(unix)?:(\\d+)(\\.\\d+)?$"));
    const QRegularExpressionMatch match = local.match(QString::fromLocal8Bit(display));
    if (!match.hasMatch())
        return true;
    return QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X") + match.captured(2));
}

} // namespace

bool DisplayAvailable()
{
    const QByteArray platformName = qgetenv("QT_QPA_PLATFORM");
    if (!platformName.isEmpty() && !platformName.startsWith("xcb") && !platformName.startsWith("wayland"))
        return true;
    if (!qgetenv("WAYLAND_DISPLAY").isEmpty())
        return true;
    const QByteArray display = qgetenv("DISPLAY");
    return !display.isEmpty() && x11DisplayReachable(display);
}

} // namespace platform
