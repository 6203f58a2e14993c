// SPDX-License-Identifier: GPL-3.0-or-later
// The program with parts missing: no SoundFont, no audio server, no display. It
// says why in one line, beats on in silence where it can, and never crashes.
#include "StderrCapture.h"
#include "TestSupport.h"

#include "controls/ScreenFit.h"
#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"
#include "platform/Display.h"
#include "sound/MidiOut.h"

#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTest>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The environment of a desktop session with nothing to show windows on.
QProcessEnvironment withoutDisplay()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    return env;
}

} // namespace

class TestRobust : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    // Without a SoundFont the synthesizer stays silent and says so once: a line that
    // names neither the file PULSEWERK_SOUNDFONT names nor what is wrong with it, or the
    // libraries' own noise beside it, is a fault.
    void noSoundFont_data();
    void noSoundFont();
    // Without an audio server the synthesizer stays silent and says so once; asked for
    // JACK without a JACK server, it says so in one line and turns to the desktop's.
    void noAudioServer_data();
    void noAudioServer();
    // With a silent synthesizer the beat loop and the lamps go on as usual.
    void loopRunsInSilence();
    // Without a display the program says so in one line and exits non-zero.
    void noDisplay_data();
    void noDisplay();
    // With no session bus to be found and no dbus-launch, none is launched: a bus that
    // refuses is named instead; a bus named, one at XDG_RUNTIME_DIR or dbus-launch is left.
    void sessionBusNotLaunched_data();
    void sessionBusNotLaunched();
    // A window scaled past its screen (QT_SCALE_FACTOR=3 on 800x600) left off the screen,
    // a window that fits scaled down, or the change not said once.
    void scaledWindowFitsTheScreen_data();
    void scaledWindowFitsTheScreen();
    // The real program started with no sound: one line, and it keeps running.
    void programRunsWithoutSound_data();
    void programRunsWithoutSound();

private:
    TempSettings m_settings;
};

void TestRobust::init() { qputenv("PULSE_SERVER", "unix:/nonexistent/pulse/native"); }

void TestRobust::cleanup()
{
    mdlMidi::CloseMidiOut();
    qunsetenv("PULSE_SERVER");
    qunsetenv("PULSEWERK_SOUNDFONT");
}

void TestRobust::noSoundFont_data()
{
    QTest::addColumn<QString>("variable");    // PULSEWERK_SOUNDFONT; %1 is a folder of the test's
    QTest::addColumn<QByteArray>("contents"); // of the file the variable names, if any
    QTest::addColumn<QStringList>("expected");
    const QByteArray riff = QByteArray("RIFF") + QByteArray::fromHex("e8030000") + "sfbkLIST" + QByteArray(64, '\0');
    QTest::newRow("none found") << QString() << QByteArray() << QStringList{"SoundFont"};
    QTest::newRow("a missing file") << "%1/none.sf2" << QByteArray()
                                    << QStringList{"PULSEWERK_SOUNDFONT", "%1/none.sf2", "does not exist"};
    QTest::newRow("a folder") << "%1" << QByteArray() << QStringList{"PULSEWERK_SOUNDFONT", "%1,", "folder"};
    QTest::newRow("not a SoundFont") << "%1/text.sf2" << QByteArray("not a SoundFont\n")
                                     << QStringList{"%1/text.sf2", "(Not a RIFF file)"};
    QTest::newRow("a SoundFont cut short")
        << "%1/short.sf2" << riff << QStringList{"%1/short.sf2", "(SoundFont file size mismatch)"};
}

void TestRobust::noSoundFont()
{
    QFETCH(QString, variable);
    QFETCH(QByteArray, contents);
    QFETCH(QStringList, expected);
    QTemporaryDir dir;
    pulsewerk::SoundConfig sound;
    if (variable.isEmpty())
        sound.soundFonts = QStringList{QStringLiteral("/nonexistent/none.sf2")};
    variable = variable.arg(dir.path());
    qputenv("PULSEWERK_SOUNDFONT", variable.toLocal8Bit());
    if (!contents.isEmpty()) {
        QFile file(variable);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    const mdlMain::Context program = mdlMain::programContext(sound); // the real synthesizer
    const mdlMain::UsingContext inUse(program);
    StderrCapture captured;
    mdlMidi::OpenMidiOut();
    const std::int16_t channel = 9, note = 60, velocity = 50, release = 0;
    mdlMidi::PlayNote(channel, note, velocity);
    mdlMidi::PlayNote(channel, note, release);
    mdlMidi::CloseMidiOut();
    const QByteArray said = captured.finish();
    const QStringList lines = QString::fromLocal8Bit(said).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    QCOMPARE(said.count('\n'), 1); // no blank line either
    QVERIFY(lines[0].contains(QStringLiteral("silence")));
    for (const QString &words : expected)
        QVERIFY2(lines[0].contains(words.arg(dir.path())), qPrintable(lines[0]));
}

void TestRobust::noAudioServer_data()
{
    QTest::addColumn<bool>("jack");
    QTest::addColumn<bool>("synth");
    QTest::addColumn<QStringList>("expected"); // a word of each line said
    QTest::newRow("desktop") << false << true << QStringList{"audio server"};
    QTest::newRow("JACK") << true << true << QStringList{"JACK server", "audio server"};
    QTest::newRow("JACK, MIDI port only") << true << false << QStringList{"JACK server", "audio server"};
}

void TestRobust::noAudioServer()
{
    QFETCH(bool, jack);
    QFETCH(bool, synth);
    QFETCH(QStringList, expected);
    qputenv("JACK_DEFAULT_SERVER", "pulsewerk-test-none");
    pulsewerk::SoundConfig sound;
    sound.jack = jack;
    sound.audioPorts = synth;
    const mdlMain::Context program = mdlMain::programContext(sound);
    const mdlMain::UsingContext inUse(program);
    StderrCapture captured;
    mdlMidi::OpenMidiOut();
    const std::int16_t channel = 9, note = 61, velocity = 80;
    mdlMidi::PlayNote(channel, note, velocity);
    mdlMidi::releaseSoundingNotes();
    mdlMidi::CloseMidiOut();
    qunsetenv("JACK_DEFAULT_SERVER");
    const QStringList lines = captured.lines();
    QCOMPARE(lines.size(), expected.size());
    for (int i = 0; i < lines.size(); ++i)
        QVERIFY2(lines[i].contains(expected[i]), qPrintable(lines[i]));
}

void TestRobust::loopRunsInSilence()
{
    BeatHarness h;
    h.program.context.openMidiOut = [] { return pulsewerk::createSynthOut({}); }; // finds no audio server
    QStringList lamp0;
    // Looked at once each change is heard: the lamps keep the timing they have with sound.
    for (const std::uint32_t t : {650u, 850u, 1150u})
        h.clock.at(t, [&h, &lamp0] { lamp0 << h.window().imgLed[0]->Picture(); });
    h.clock.at(1200, [&h] { h.window().close(); });
    StderrCapture captured;
    QCOMPARE(h.runLoop(), 1);
    QCOMPARE(captured.lines().size(), 1);
    QCOMPARE(lamp0, (QStringList{"LED_GON", "LED_GOFF", "LED_GON"}));
}

void TestRobust::noDisplay_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("display");
    QTest::newRow("unset") << QString() << QString();
    QTest::newRow("X not answering") << "DISPLAY"
                                     << ":987";
    // A display on another host is left to the toolkit, which finds nobody there.
    QTest::newRow("X refused by the toolkit") << "DISPLAY"
                                              << "127.0.0.1:87";
    QTest::newRow("Wayland not answering") << "WAYLAND_DISPLAY"
                                           << "wayland-pulsewerk-none";
    QTest::newRow("Wayland not answering, absolute") << "WAYLAND_DISPLAY"
                                                     << "/nonexistent/wayland-0";
}

void TestRobust::noDisplay()
{
    QFETCH(QString, variable);
    QFETCH(QString, display);
    QTemporaryDir runtime;
    QProcess program;
    QProcessEnvironment env = withoutDisplay();
    if (!variable.isEmpty())
        env.insert(variable, display);
    if (variable == QLatin1String("WAYLAND_DISPLAY")) {
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        env.insert(QStringLiteral("XDG_SESSION_TYPE"), QStringLiteral("wayland"));
    }
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(PULSEWERK_EXECUTABLE), {});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit); // no abort
    QCOMPARE(program.exitCode(), 1);
    const QStringList lines =
        QString::fromLocal8Bit(program.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].contains(QStringLiteral("xvfb-run -a pulsewerk")), qPrintable(lines[0]));
    QVERIFY2(!lines[0].contains(QStringLiteral("scripts/run")), qPrintable(lines[0]));
}

void TestRobust::sessionBusNotLaunched_data()
{
    QTest::addColumn<QString>("given"); // "address", "runtime bus", "dbus-launch" or none
    QTest::addColumn<bool>("named");    // a refusing bus named
    QTest::newRow("address") << "address" << false;
    QTest::newRow("runtime bus") << "runtime bus" << false;
    QTest::newRow("dbus-launch") << "dbus-launch" << false;
    QTest::newRow("none") << QString() << true;
}

void TestRobust::sessionBusNotLaunched()
{
    QFETCH(QString, given);
    QFETCH(bool, named);
    const QByteArray path = qgetenv("PATH"), address = qgetenv("DBUS_SESSION_BUS_ADDRESS"),
                     runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    QTemporaryDir runtime, bin;
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    qputenv("PATH", bin.path().toLocal8Bit());
    if (given == QLatin1String("address"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/run/bus-of-the-session");
    if (given == QLatin1String("runtime bus"))
        QFile(runtime.filePath(QStringLiteral("bus"))).open(QIODevice::WriteOnly);
    QFile launcher(bin.filePath(QStringLiteral("dbus-launch")));
    if (given == QLatin1String("dbus-launch"))
        QVERIFY(launcher.open(QIODevice::WriteOnly) && launcher.setPermissions(QFile::ExeOwner | QFile::ReadOwner));
    pulsewerk::skipSessionBusLaunch();
    const QByteArray after = qgetenv("DBUS_SESSION_BUS_ADDRESS");
    qputenv("PATH", path);
    qputenv("XDG_RUNTIME_DIR", runtimeDir);
    qputenv("DBUS_SESSION_BUS_ADDRESS", address);
    for (const char *name : {"XDG_RUNTIME_DIR", "DBUS_SESSION_BUS_ADDRESS"}) {
        if (qgetenv(name).isEmpty())
            qunsetenv(name);
    }
    QCOMPARE(after.startsWith("unix:path=/nonexistent/"), named);
    QCOMPARE(after == "unix:path=/run/bus-of-the-session", given == QLatin1String("address"));
}

void TestRobust::scaledWindowFitsTheScreen_data()
{
    QTest::addColumn<QByteArray>("factor"); // QT_SCALE_FACTOR on the 800x600 offscreen screen
    QTest::addColumn<qreal>("scale");       // the window's, as shown
    QTest::newRow("3") << QByteArray("3") << 1.5;
    QTest::newRow("1.5, which fits") << QByteArray("1.5") << 1.5;
    QTest::newRow("none") << QByteArray() << 1.0;
}

void TestRobust::scaledWindowFitsTheScreen()
{
    QFETCH(QByteArray, factor);
    QFETCH(qreal, scale);
    QTemporaryFile screens;
    QVERIFY(screens.open());
    screens.write(R"({"screens": [{"name": "small", "x": 0, "y": 0, "width": 800, "height": 600,
                                   "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
    screens.close();
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen:configfile=") + screens.fileName());
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(factor));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_settings.folder());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--scaled-window")});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(child.readAllStandardOutput().trimmed(), "scale " + QByteArray::number(scale) + " fits");
    const QByteArray said = child.readAllStandardError();
    QCOMPARE(said.count("Pulsewerk: "), factor.toDouble() > scale ? 1 : 0);
    QCOMPARE(said.count("does not fit the screen at QT_SCALE_FACTOR=" + factor + "; it is shown at scale 1.5."),
             factor.toDouble() > scale ? 1 : 0);
}

void TestRobust::programRunsWithoutSound_data()
{
    QTest::addColumn<QString>("audio"); // PULSEWERK_AUDIO
    QTest::addColumn<QByteArray>("said");
    QTest::addColumn<bool>("fifo"); // the settings file a FIFO, which no one writes to
    QTest::newRow("desktop") << QString() << QByteArray("Pulsewerk: no audio server answered") << false;
    QTest::newRow("JACK without a JACK server")
        << QStringLiteral("jack") << QByteArray("Pulsewerk: no JACK server is running; the sound goes to the desktop's")
        << false;
    QTest::newRow("settings file a FIFO") << QString() << QByteArray("Pulsewerk: no audio server answered") << true;
}

void TestRobust::programRunsWithoutSound()
{
    QFETCH(QString, audio);
    QFETCH(QByteArray, said);
    QFETCH(bool, fifo);
    QFile store(m_settings.fileName());
    QVERIFY(QDir().mkpath(QFileInfo(store).path()));
    if (fifo) {
        QFile::remove(store.fileName());
        QVERIFY(mkfifo(QFile::encodeName(store.fileName()).constData(), 0600) == 0);
    } else {
        QVERIFY(store.open(QIODevice::WriteOnly));
        store.write("[Options]\nChannel=abc\nStrongNote=\x01\x02\nWeakVel=99999\n");
        store.close();
    }
    const QByteArray before = [&] {
        QFile f(m_settings.fileName());
        return fifo || !f.open(QIODevice::ReadOnly) ? QByteArray() : f.readAll();
    }();

    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/pulse/native"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_settings.folder());
    env.insert(QStringLiteral("PULSEWERK_AUDIO"), audio);
    env.insert(QStringLiteral("JACK_DEFAULT_SERVER"), QStringLiteral("pulsewerk-test-none"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(PULSEWERK_EXECUTABLE), {});
    program.setReadChannel(QProcess::StandardError);
    QVERIFY(program.waitForStarted(30000));
    QByteArray err;
    while (!err.contains("audio server answered") && program.state() == QProcess::Running &&
           program.waitForReadyRead(30000))
        err += program.readAllStandardError();
    QVERIFY2(err.contains(said), err.constData());
    QVERIFY2(err.contains("audio server answered"), err.constData());
    QCOMPARE(program.state(), QProcess::Running); // beating on in silence
    program.terminate();
    QVERIFY(program.waitForFinished(30000));

    if (fifo) {
        QVERIFY(QFileInfo(m_settings.fileName()).exists() && !QFileInfo(m_settings.fileName()).isFile());
        QFile::remove(m_settings.fileName());
        return;
    }
    QFile after(m_settings.fileName());
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before); // a corrupt store is read, never rewritten
}

namespace {

// The copy of this program that the scale test starts: it fits the scale as the program
// does, shows the main window, and writes its scale and whether it fits its screen.
int showScaledWindow(int argc, char *argv[])
{
    pulsewerk::fitScaleToScreen(QSize(199, 338), argc, argv);
    QApplication app(argc, argv);
    frmMain window;
    window.show();
    const bool fits =
        window.screen()->availableGeometry().contains(window.frameGeometry()) && window.size() == QSize(199, 338);
    std::printf("scale %s %s\n", QByteArray::number(window.devicePixelRatio()).constData(),
                fits ? "fits" : "does not fit");
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrcmp(argv[1], "--scaled-window") == 0)
        return showScaledWindow(argc, argv);
    QApplication app(argc, argv);
    TestRobust test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_robust.moc"
