// SPDX-License-Identifier: GPL-3.0-or-later
// Ending on SIGTERM, SIGINT and SIGHUP: the same end as the window's close (the note
// released, the output closed, status 0), an open dialog closed first, and a second
// signal that ends at once.
#include "ModalDriver.h"
#include "TestSupport.h"

#include "dialogs/frmOptions.h"
#include "engine/mdlMain.h"
#include "platform/Signals.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The copy of this program that the second-signal test starts: it says "ready", and on
// the first signal says "ending" and then never ends by itself.
int holdOnEnd(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    pulsewerk::endOnSignals([] {
        std::fputs("ending\n", stdout);
        std::fflush(stdout);
        for (;;)
            pause();
    });
    std::fputs("ready\n", stdout);
    std::fflush(stdout);
    return app.exec();
}

char *volatile g_lost = nullptr;

// The copy of this program that the leak-check test starts: it leaks a block, then runs
// the beat loop to the process's own end.
int leakAtEnd(int argc, char *argv[])
{
    QApplication app(argc, argv);
    g_lost = new char[64];
    g_lost = nullptr;
    TempSettings settings;
    BeatHarness h;
    h.program.context.endProcess = [] { pulsewerk::endProcessNow(0); }; // the program's own end
    h.clock.at(600, [&h] { h.window().close(); });
    return h.runLoop();
}

// A socket where an X client looks for display `number` (abstract namespace) that
// takes connections and never answers; returns it listening, or -1.
int silentXServer(int number)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray path = "/tmp/.X11-unix/X" + QByteArray::number(number);
    std::memcpy(address.sun_path + 1, path.constData(), std::size_t(path.size()));
    const auto length = socklen_t(offsetof(sockaddr_un, sun_path) + 1 + std::size_t(path.size()));
    return bind(fd, reinterpret_cast<const sockaddr *>(&address), length) == 0 && listen(fd, 8) == 0 ? fd : -1;
}

// Whether `pid` has `signal` in the mask `field` ("SigCgt:" caught, "SigIgn:" ignored).
bool inSignalMask(qint64 pid, const QByteArray &field, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
    const qsizetype at = text.indexOf(field);
    return at >= 0 && (text.mid(at + field.size()).trimmed().left(16).toULongLong(nullptr, 16) >> (signal - 1)) & 1;
}

// Waits until `line` has come on the process's output (standard error merged in).
bool waitForLine(QProcess &process, const QByteArray &line)
{
    QByteArray seen;
    while (!seen.contains(line)) {
        if (!process.waitForReadyRead(10000))
            return false;
        seen += process.readAll();
    }
    return true;
}

} // namespace

class TestSignals : public QObject {
    Q_OBJECT

private slots:
    // A signal that leaves a note sounding, the output open, or the loop running.
    void endsLikeClose_data();
    void endsLikeClose();
    // A signal while the options dialog is open that keeps waiting for the dialog, or
    // that takes the dialog's values over.
    void closesAnOpenDialog();
    // The real program ending by the signal itself, or with a status other than 0: also
    // before its window exists (while the toolkit waits for a display server); SIGHUP
    // caught although it was ignored at start (nohup); SIGXFSZ not ignored.
    void programEndsWithStatusZero_data();
    void programEndsWithStatusZero();
    // A second signal that waits for an end that does not come.
    void secondSignalEndsAtOnce();
    // The program's own end skipping the sanitizer build's leak check.
    void endChecksForLeaks();

private:
    TempSettings m_settings;
};

void TestSignals::endsLikeClose_data()
{
    QTest::addColumn<int>("signal");
    QTest::newRow("SIGTERM") << SIGTERM;
    QTest::newRow("SIGINT") << SIGINT;
    QTest::newRow("SIGHUP") << SIGHUP;
}

void TestSignals::endsLikeClose()
{
    QFETCH(int, signal);
    BeatHarness h;
    mdlMain::closeOnSignals();
    h.clock.at(600, [signal] { std::raise(signal); }); // the beat of 501 still sounds
    QCOMPARE(h.runLoop(), 1);
    const auto sent = h.messages();
    QVERIFY(!sent.empty());
    QCOMPARE(sent.back().message, NoteOn(9, 60, 0));
    QVERIFY(sent.back().timeMs >= 600 && sent.back().timeMs < 701); // released at the end, not by the beat
    QCOMPARE(h.midi.opens, 1);
    QCOMPARE(h.midi.closes, 1);
    QCOMPARE(h.midi.sentWhileClosed, 0);
    QVERIFY(h.window().isHidden());
}

void TestSignals::closesAnOpenDialog()
{
    BeatHarness h;
    frmMain &w = h.window();
    mdlMain::closeOnSignals();
    bool closedBySignal = false;
    h.clock.at(600, [&] {
        whileModal([&] { QTest::mouseClick(w.imgOptions, Qt::LeftButton); },
                   [&](QDialog &d) {
                       auto &dialog = static_cast<frmOptions &>(d);
                       QTest::mouseClick(dialog.txtChannel, Qt::LeftButton);
                       press(d, Qt::Key_Up);
                       std::raise(SIGTERM);
                       QCoreApplication::processEvents(); // the pipe's notifier
                       closedBySignal = !d.isVisible();
                   });
    });
    QCOMPARE(h.runLoop(), 1);
    QVERIFY(closedBySignal);
    QVERIFY(!frmMainTestAccess::options(w)->m_blnOK);
    QCOMPARE(frmMainTestAccess::channel(w), std::int16_t(10));
    QCOMPARE(h.midi.closes, 1);
    QCOMPARE(h.messages().back().message, NoteOn(9, 60, 0));
}

void TestSignals::programEndsWithStatusZero_data()
{
    QTest::addColumn<int>("signal");
    QTest::addColumn<bool>("early"); // before the window
    QTest::addColumn<bool>("nohup"); // SIGHUP ignored at start
    QTest::newRow("SIGTERM") << SIGTERM << false << false;
    QTest::newRow("SIGINT") << SIGINT << false << false;
    QTest::newRow("SIGHUP") << SIGHUP << false << false;
    QTest::newRow("SIGTERM before the window") << SIGTERM << true << false;
    QTest::newRow("SIGHUP before the window") << SIGHUP << true << false;
    QTest::newRow("SIGTERM under nohup") << SIGTERM << false << true;
}

void TestSignals::programEndsWithStatusZero()
{
    QFETCH(int, signal);
    QFETCH(bool, early);
    QFETCH(bool, nohup);
    QTemporaryDir config;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/pulse/native"));
    const int display = 4000 + int(getpid() % 1000), server = early ? silentXServer(display) : -1;
    if (early) {
        QVERIFY(server >= 0);
        for (const char *name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "QT_SCALE_FACTOR"})
            env.remove(QString::fromLatin1(name));
        env.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(display));
    }
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    if (nohup)
        program.setChildProcessModifier([] { std::signal(SIGHUP, SIG_IGN); });
    program.start(QStringLiteral(PULSEWERK_EXECUTABLE), {});
    QVERIFY(program.waitForStarted());
    pollfd connection{server, POLLIN, 0};
    if (early) {
        QCOMPARE(poll(&connection, 1, 30000), 1); // the toolkit's call to the display
        ::close(server);
    } else {
        // The line about the missing audio server comes once the beat loop has opened the output.
        QVERIFY(waitForLine(program, "audio server"));
        QCOMPARE(inSignalMask(program.processId(), "SigCgt:", SIGHUP), !nohup);
        QVERIFY(inSignalMask(program.processId(), "SigIgn:", SIGXFSZ));
    }
    QCOMPARE(::kill(static_cast<pid_t>(program.processId()), signal), 0);
    QVERIFY(program.waitForFinished(10000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
}

void TestSignals::secondSignalEndsAtOnce()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold-on-end")});
    QVERIFY(waitForLine(child, "ready"));
    const auto pid = static_cast<pid_t>(child.processId());
    QCOMPARE(::kill(pid, SIGTERM), 0);
    QVERIFY(waitForLine(child, "ending"));
    QCOMPARE(::kill(pid, SIGINT), 0);
    const bool ended = child.waitForFinished(10000);
    if (!ended)
        child.kill();
    QVERIFY(ended);
    QCOMPARE(child.exitStatus(), QProcess::CrashExit); // by the signal
}

void TestSignals::endChecksForLeaks()
{
#ifndef PULSEWERK_SANITIZE
    QSKIP("the leak check is in the sanitizer build");
#endif
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LSAN_OPTIONS")); // no suppression of this leak
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--leak-at-end")});
    QVERIFY(child.waitForFinished(30000));
    QVERIFY2(child.readAllStandardError().contains("LeakSanitizer: detected memory leaks"), "no leak check");
}

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--hold-on-end") == 0)
        return holdOnEnd(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--leak-at-end") == 0)
        return leakAtEnd(argc, argv);
    QApplication app(argc, argv);
    TestSignals test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_signals.moc"
