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
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
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
    // The real program ending by the signal itself, or with a status other than 0.
    void programEndsWithStatusZero_data();
    void programEndsWithStatusZero();
    // A second signal that waits for an end that does not come.
    void secondSignalEndsAtOnce();

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

void TestSignals::programEndsWithStatusZero_data() { endsLikeClose_data(); }

void TestSignals::programEndsWithStatusZero()
{
    QFETCH(int, signal);
    QTemporaryDir config;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
    env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/pulse/native"));
    program.setProcessEnvironment(env);
    program.setProcessChannelMode(QProcess::MergedChannels);
    program.start(QStringLiteral(PULSEWERK_EXECUTABLE), {});
    QVERIFY(program.waitForStarted());
    // The line about the missing audio server comes once the beat loop has opened the output.
    QVERIFY(waitForLine(program, "audio server"));
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

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--hold-on-end") == 0)
        return holdOnEnd(argc, argv);
    QApplication app(argc, argv);
    TestSignals test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_signals.moc"
