// SPDX-License-Identifier: GPL-3.0-or-later
// The display check. Without it, Qt's xcb and wayland platforms abort with a long
// message when nobody answers.
#include "platform/Display.h"

#include "platform/Say.h"
#include "platform/Signals.h"

#include <QByteArray>
#include <QFileInfo>
#include <QList>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pulsewerk {
namespace {

// Whether a server accepts a connection on the Unix socket `path`; a leading '@'
// names a socket in the abstract namespace.
bool unixSocketAnswers(const QByteArray &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || static_cast<std::size_t>(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    if (path.startsWith('@'))
        address.sun_path[0] = '\0';
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + static_cast<std::size_t>(path.size()));
    const bool answered = ::connect(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0;
    ::close(fd);
    return answered;
}

// A local X display (":N" or "unix:N") answers on its socket, in the file system or
// the abstract namespace; a display on another host is left to the toolkit to try.
bool x11DisplayAnswers()
{
    const QByteArray display = qgetenv("DISPLAY");
    if (display.isEmpty())
        return false;
    static const QRegularExpression local(QStringLiteral("^(unix)?:(\\d+)(\\.\\d+)?$"));
    const QRegularExpressionMatch match = local.match(QString::fromLocal8Bit(display));
    if (!match.hasMatch())
        return true;
    const QByteArray socket = "/tmp/.X11-unix/X" + match.captured(2).toLatin1();
    return unixSocketAnswers(socket) || unixSocketAnswers('@' + socket);
}

// A Wayland compositor answers on WAYLAND_DISPLAY's socket: an absolute path, or a
// name in XDG_RUNTIME_DIR ("wayland-0" when the platform is chosen but no name given).
bool waylandDisplayAnswers(bool chosen)
{
    QByteArray name = qgetenv("WAYLAND_DISPLAY");
    if (name.isEmpty() && !chosen)
        return false;
    if (name.isEmpty())
        name = "wayland-0";
    if (name.startsWith('/'))
        return unixSocketAnswers(name);
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && unixSocketAnswers(runtime + '/' + name);
}

// The guard's state: messages held back while the toolkit starts.
struct HeldMessage {
    QtMsgType type;
    QByteArray category;
    QString text;
};
QtMessageHandler g_previousHandler = nullptr;
QList<HeldMessage> g_heldMessages;

void guardMessages(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtFatalMsg) {
        // The only fatal message while the toolkit starts is that it found no display.
        reportNoDisplay();
        endProcessNow(1);
    }
    g_heldMessages.append({type, QByteArray(context.category), text});
}

} // namespace

bool displayAvailable()
{
    // With no platform chosen, Qt picks X or Wayland by the session; a list is tried in turn.
    const QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    bool x11 = platforms.isEmpty();
    bool wayland = platforms.isEmpty();
    bool waylandChosen = false;
    for (const QByteArray &platform : platforms.split(';')) {
        const QByteArray name = platform.split(':').constFirst();
        if (name.isEmpty())
            continue;
        if (name == "xcb") {
            x11 = true;
        } else if (name.startsWith("wayland")) {
            wayland = true;
            waylandChosen = true;
        } else {
            return true; // offscreen, vnc, eglfs ...: no display server to ask
        }
    }
    return (x11 && x11DisplayAnswers()) || (wayland && waylandDisplayAnswers(waylandChosen));
}

void skipSessionBusLaunch()
{
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        return;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")))
        return; // the D-Bus library finds the session's bus there
    if (!QStandardPaths::findExecutable(QStringLiteral("dbus-launch")).isEmpty())
        return; // an X session without a bus named may share one started through it
    // Without it, the library's autolaunch forks a helper from this threaded process to
    // run a program that is not there; that helper has been seen to hang, and the
    // window's first accessibility query waits for it.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/pulsewerk-no-session-bus");
}

void paintOverTheSocket()
{
    // The window repaints a lamp or two at every beat. Through shared memory each repaint
    // first waits for the X server to be done with the last one (a round trip that holds
    // the beat loop while the server is busy) and brings a completion event back, which
    // wakes the toolkit's X thread; a lamp's few pixels cost no more sent on the socket.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM"))
        qputenv("QT_XCB_NO_MITSHM", "1");
}

void reportNoDisplay()
{
    say("no display to show its window on (neither DISPLAY nor WAYLAND_DISPLAY names one that answers); run it in a "
        "desktop session, or headless with: xvfb-run -a pulsewerk");
}

DisplayConnectionGuard::DisplayConnectionGuard() { g_previousHandler = qInstallMessageHandler(guardMessages); }

DisplayConnectionGuard::~DisplayConnectionGuard()
{
    qInstallMessageHandler(g_previousHandler);
    for (const HeldMessage &message : std::as_const(g_heldMessages)) {
        const QMessageLogContext context(nullptr, 0, nullptr, message.category.constData());
        g_previousHandler(message.type, context, message.text);
    }
    g_heldMessages.clear();
}

} // namespace pulsewerk
