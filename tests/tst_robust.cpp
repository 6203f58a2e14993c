// SPDX-License-Identifier: GPL-3.0-or-later
// The program with parts missing: no SoundFont, no audio server, no display. It
// says why in one line, beats on in silence where it can, and never crashes.
#include "StderrCapture.h"
#include "TestSupport.h"

#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"
#include "sound/MidiOut.h"

#include <QFile>
#include <QProcess>
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
    // Without a SoundFont the synthesizer stays silent and says so once.
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
}

void TestRobust::noSoundFont()
{
    pulsewerk::SoundConfig sound;
    sound.soundFonts = QStringList{QStringLiteral("/nonexistent/none.sf2")};
    const mdlMain::Context program = mdlMain::programContext(sound); // the real synthesizer
    const mdlMain::UsingContext inUse(program);
    StderrCapture captured;
    mdlMidi::OpenMidiOut();
    const std::int16_t channel = 9, note = 60, velocity = 50, release = 0;
    mdlMidi::PlayNote(channel, note, velocity);
    mdlMidi::PlayNote(channel, note, release);
    mdlMidi::CloseMidiOut();
    const QStringList lines = captured.lines();
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines[0].contains(QStringLiteral("SoundFont")), qPrintable(lines[0]));
    QVERIFY(lines[0].contains(QStringLiteral("silence")));
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
    for (const std::uint32_t t : {550u, 750u, 1050u})
        h.clock.at(t, [&h, &lamp0] { lamp0 << h.window().imgLed[0]->Picture(); });
    h.clock.at(1100, [&h] { h.window().close(); });
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

QTEST_MAIN(TestRobust)
#include "tst_robust.moc"
