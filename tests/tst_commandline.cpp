// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: help, version and mistakes answered by the real program with no
// display, and the start options applied to a loaded main window as typing and clicks.
#include "TestSupport.h"

#include "dialogs/frmCustomMeter.h"
#include "engine/CommandLine.h"
#include "mainwindow/PracticeSettings.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>

namespace {

struct Outcome {
    int exitCode = -1;
    QString out;
    QStringList errLines;
};

// Runs the real program with `arguments` and no display of any kind; its standard
// output to `outputFile` if given, under a file-size limit of `sizeLimit` bytes if not 0.
Outcome runProgram(const QStringList &arguments, const QString &outputFile = {}, rlim_t sizeLimit = 0)
{
    QProcess program;
    if (!outputFile.isEmpty())
        program.setStandardOutputFile(outputFile, QIODevice::Truncate);
    if (sizeLimit != 0) {
        program.setChildProcessModifier([sizeLimit] {
            const rlimit limit{sizeLimit, sizeLimit};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, SIG_DFL); // as a shell leaves it
        });
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(PULSEWERK_EXECUTABLE), arguments);
    Outcome outcome;
    if (!program.waitForFinished(30000) || program.exitStatus() != QProcess::NormalExit)
        return outcome;
    outcome.exitCode = program.exitCode();
    outcome.out = QString::fromLocal8Bit(program.readAllStandardOutput());
    outcome.errLines =
        QString::fromLocal8Bit(program.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return outcome;
}

} // namespace

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    // Help or version needing a display, a wrong exit status, or a mistake that opens
    // the window, says nothing, or does not name the option and the values it takes.
    void answersWithoutDisplay_data();
    void answersWithoutDisplay();
    // A help or version text that could not be written (a full disk, the file-size
    // limit) ending with status 0, or the program killed by SIGXFSZ.
    void failedWriteIsAnError_data();
    void failedWriteIsAnError();
    // An option applied other than as the user's typing and clicks would apply it, or a
    // start without options that differs from the plain start.
    void appliesStartOptions_data();
    void appliesStartOptions();
    // A sound option, or PULSEWERK_AUDIO, read into the wrong setting or not at all;
    // one that has no effect accepted without a word, or said more than once.
    void readsAudioOptions_data();
    void readsAudioOptions();
    // The custom meter dialog left off screen, or left open, after a pattern was applied.
    void customMeterDialogShowsLater();
    // A count-in asked for at start not played, too long, or the beat after it off its grid.
    void countInAtStart();

private:
    TempSettings m_settings;
};

void TestCommandLine::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("Pulsewerk"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.1"));
    QVERIFY(pulsewerk::writeSongs({{"Slow blues", 72, "3/4", 4, 1}}));
}

void TestCommandLine::answersWithoutDisplay_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    // What standard output holds, or the words of the one line on standard error.
    QTest::addColumn<QStringList>("expected");

    const QStringList tempoRange{"40 to 208"};
    const QStringList meterRange{"none, 4/4, 3/4, 2/4", "1 to 19"};
    QTest::newRow("--help") << QStringList{"--help"} << 0
                            << QStringList{"Usage: pulsewerk [options]",
                                           "--tempo <BPM>",
                                           "--meter <METER>",
                                           "--multiplier <N>",
                                           "--mute",
                                           "--jack",
                                           "--no-connect",
                                           "--no-synth",
                                           "--link",
                                           "--transport"};
    QTest::newRow("-h") << QStringList{"-h"} << 0 << QStringList{"Usage:"};
    QTest::newRow("--version") << QStringList{"--version"} << 0 << QStringList{"Pulsewerk 1.1", "GPL-3.0-or-later"};
    QTest::newRow("-v after a tempo") << QStringList{"-t", "100", "-v"} << 0 << QStringList{"Pulsewerk 1.1"};
    QTest::newRow("unknown long") << QStringList{"--bogus"} << 2 << QStringList{"--bogus", "--tempo", "--mute"};
    QTest::newRow("unknown short") << QStringList{"-q"} << 2 << QStringList{"-q", "-h/--help"};
    QTest::newRow("argument") << QStringList{"fast"} << 2 << QStringList{"\"fast\"", "--tempo"};
    QTest::newRow("tempo too high") << QStringList{"-t", "300"} << 2 << (QStringList{"\"300\""} + tempoRange);
    QTest::newRow("tempo too low") << QStringList{"--tempo=39.4"} << 2 << (QStringList{"\"39.4\""} + tempoRange);
    QTest::newRow("tempo rounds above") << QStringList{"-t", "208.6"} << 2 << tempoRange;
    QTest::newRow("tempo with a sign") << QStringList{"-t", "-90"} << 2 << tempoRange;
    QTest::newRow("tempo not a number") << QStringList{"-t", "fast"} << 2 << tempoRange;
    QTest::newRow("tempo missing") << QStringList{"-t"} << 2 << (QStringList{"-t"} + tempoRange);
    QTest::newRow("meter unknown") << QStringList{"-m", "5/4"} << 2 << (QStringList{"\"5/4\""} + meterRange);
    QTest::newRow("pattern with a 3") << QStringList{"-m", "2131"} << 2 << meterRange;
    QTest::newRow("pattern of 20") << QStringList{"--meter", "21111111111111111111"} << 2 << meterRange;
    QTest::newRow("meter empty") << QStringList{"--meter="} << 2 << meterRange;
    QTest::newRow("multiplier 3") << QStringList{"-x", "3"} << 2 << QStringList{"\"3\"", "1, 2 or 4"};
    QTest::newRow("multiplier missing") << QStringList{"--multiplier"} << 2 << QStringList{"1, 2 or 4"};
    QTest::newRow("mute with a value") << QStringList{"--mute=yes"} << 2 << QStringList{"--mute"};
    QTest::newRow("count-in 5") << QStringList{"--count-in", "5"} << 2 << QStringList{"\"5\"", "0 to 4 bars"};
    QTest::newRow("count-in missing") << QStringList{"--count-in"} << 2 << QStringList{"--count-in", "0 to 4 bars"};
    QTest::newRow("song missing") << QStringList{"--song"} << 2 << QStringList{"--song", "setlist"};
    QTest::newRow("jack with a value") << QStringList{"--jack=yes"} << 2 << QStringList{"--jack", "--no-synth"};
    QTest::newRow("link with a value") << QStringList{"--link=1"} << 2 << QStringList{"--link"};
    QTest::newRow("tempo repeated, the first bad")
        << QStringList{"-t", "300", "-t", "100"} << 2 << (QStringList{"\"300\""} + tempoRange);
    QTest::newRow("multiplier repeated, the first bad")
        << QStringList{"-x", "8", "-x", "1"} << 2 << QStringList{"\"8\""};
    QTest::newRow("meter repeated, the first bad")
        << QStringList{"-m", "5/4", "--meter=3/4"} << 2 << QStringList{"\"5/4\""};
    QTest::newRow("control characters in a value") << QStringList{"-m", "\x1b[2J"} << 2 << QStringList{"\"\\x1b[2J\""};
    QTest::newRow("control characters in an option")
        << QStringList{"--a\x07\u202e"} << 2 << QStringList{"--a\\x07\\u{202e}"};
    QTest::newRow("control characters in an argument") << QStringList{"\r\x7f"} << 2 << QStringList{"\"\\x0d\\x7f\""};
}

void TestCommandLine::answersWithoutDisplay()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QStringList, expected);
    const Outcome outcome = runProgram(arguments);
    QCOMPARE(outcome.exitCode, exitCode);
    if (exitCode == 0) {
        QVERIFY2(outcome.errLines.isEmpty(), qPrintable(outcome.errLines.join(u'\n')));
        for (const QString &text : expected)
            QVERIFY2(outcome.out.contains(text), qPrintable(outcome.out));
    } else {
        QVERIFY(outcome.out.isEmpty());
        QCOMPARE(outcome.errLines.size(), 1);
        for (const QChar c : outcome.errLines[0])
            QVERIFY2(c.isPrint(), qPrintable(outcome.errLines[0]));
        QVERIFY2(outcome.errLines[0].startsWith(QStringLiteral("pulsewerk: ")), qPrintable(outcome.errLines[0]));
        for (const QString &text : expected)
            QVERIFY2(outcome.errLines[0].contains(text), qPrintable(outcome.errLines[0]));
    }
}

void TestCommandLine::failedWriteIsAnError_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("sizeLimit"); // of a file of the test's own; 0: to /dev/full
    QTest::newRow("help to a full disk") << QStringList{"--help"} << 0;
    QTest::newRow("version to a full disk") << QStringList{"-v"} << 0;
    QTest::newRow("help past the file-size limit") << QStringList{"-h"} << 100;
}

void TestCommandLine::failedWriteIsAnError()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, sizeLimit);
    QTemporaryDir dir;
    const QString output = sizeLimit ? dir.filePath(QStringLiteral("help.txt")) : QStringLiteral("/dev/full");
    const Outcome outcome = runProgram(arguments, output, rlim_t(sizeLimit));
    QCOMPARE(outcome.exitCode, 1); // -1: killed by a signal
    QCOMPARE(outcome.errLines, QStringList{"pulsewerk: could not write to standard output: " +
                                           QString::fromLocal8Bit(std::strerror(sizeLimit ? EFBIG : ENOSPC))});
}

void TestCommandLine::readsAudioOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("audio"); // PULSEWERK_AUDIO
    QTest::addColumn<bool>("jack");
    QTest::addColumn<bool>("connectPorts");
    QTest::addColumn<bool>("synth");
    QTest::addColumn<bool>("transport");
    QTest::addColumn<QStringList>("said"); // words of each line on standard error
    const QStringList none;
    QTest::newRow("none") << QStringList{} << QByteArray() << false << true << true << false << none;
    QTest::newRow("--jack") << QStringList{"--jack"} << QByteArray() << true << true << true << false << none;
    QTest::newRow("environment") << QStringList{} << QByteArray("jack") << true << true << true << false << none;
    QTest::newRow("environment, other") << QStringList{} << QByteArray("pulse") << false << true << true << false
                                        << QStringList{"PULSEWERK_AUDIO=\"pulse\" has no effect"};
    QTest::newRow("environment, FluidSynth's driver (the benchmarks' alone)")
        << QStringList{} << QByteArray("fluidsynth") << false << true << true << false
        << QStringList{"PULSEWERK_AUDIO=\"fluidsynth\" has no effect"};
    QTest::newRow("all") << QStringList{"--jack", "--no-connect", "--no-synth", "--link"} << QByteArray() << true
                         << false << false << false << none;
    QTest::newRow("link") << QStringList{"--link"} << QByteArray() << false << true << true << false << none;
    QTest::newRow("no synth from the environment's JACK")
        << QStringList{"--no-synth"} << QByteArray("jack") << true << true << false << false << none;
    QTest::newRow("no synth without JACK") << QStringList{"--no-synth"} << QByteArray() << false << true << false
                                           << false << QStringList{"--no-synth has no effect without --jack"};
    QTest::newRow("both without JACK, twice")
        << QStringList{"--no-connect", "--no-synth", "--no-connect"} << QByteArray("\x1b[2J") << false << false << false
        << false
        << QStringList{"PULSEWERK_AUDIO=\"\\x1b[2J\"", "--no-connect and --no-synth have no effect without --jack"};
    QTest::newRow("--transport: JACK, its transport followed or led")
        << QStringList{"--transport"} << QByteArray() << true << true << true << true << none;
    QTest::newRow("--transport with the MIDI port alone")
        << QStringList{"--transport", "--no-synth"} << QByteArray() << true << true << false << true << none;
}

void TestCommandLine::readsAudioOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, audio);
    QFETCH(bool, jack);
    QFETCH(bool, connectPorts);
    QFETCH(bool, synth);
    qputenv("PULSEWERK_AUDIO", audio);
    const pulsewerk::CommandLine commandLine = pulsewerk::parseCommandLine(QStringList{"pulsewerk"} + arguments);
    qunsetenv("PULSEWERK_AUDIO");
    QVERIFY(commandLine.run);
    QCOMPARE(commandLine.options.sound.jack, jack);
    QCOMPARE(commandLine.options.sound.connectPorts, connectPorts);
    QCOMPARE(commandLine.options.sound.audioPorts, synth);
    QCOMPARE(commandLine.options.link, arguments.contains("--link"));
    QFETCH(bool, transport);
    QCOMPARE(commandLine.options.sound.transport, transport);
    QFETCH(QStringList, said);
    const QStringList lines = commandLine.error.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), said.size());
    for (int i = 0; i < lines.size(); ++i) {
        QVERIFY2(lines[i].startsWith(QStringLiteral("pulsewerk: ")), qPrintable(lines[i]));
        QVERIFY2(lines[i].contains(said[i]), qPrintable(lines[i]));
    }
}

void TestCommandLine::appliesStartOptions_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("bpm");
    QTest::addColumn<QString>("tempoBox");
    QTest::addColumn<QString>("meterEntry");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("multiplier");
    QTest::addColumn<QString>("mute");

    QTest::newRow("none") << QStringList{} << 120 << "120"
                          << "None"
                          << "1"
                          << "1"
                          << "0";
    QTest::newRow("tempo") << QStringList{"-t", "96"} << 96 << "96"
                           << "None"
                           << "1"
                           << "1"
                           << "0";
    QTest::newRow("tempo at the bottom") << QStringList{"--tempo=40"} << 40 << "40"
                                         << "None"
                                         << "1"
                                         << "1"
                                         << "0";
    QTest::newRow("tempo halves to even") << QStringList{"-t", "100.5"} << 100 << "100"
                                          << "None"
                                          << "1"
                                          << "1"
                                          << "0";
    QTest::newRow("tempo rounds into range") << QStringList{"-t", "39.6"} << 40 << "40"
                                             << "None"
                                             << "1"
                                             << "1"
                                             << "0";
    QTest::newRow("leading zeros") << QStringList{"-t", "0072"} << 72 << "72"
                                   << "None"
                                   << "1"
                                   << "1"
                                   << "0";
    QTest::newRow("meter none") << QStringList{"-m", "NONE"} << 120 << "120"
                                << "None"
                                << "1"
                                << "1"
                                << "0";
    QTest::newRow("meter 4/4") << QStringList{"-m", "4/4"} << 120 << "120"
                               << "4/4"
                               << "2111"
                               << "1"
                               << "0";
    QTest::newRow("meter 3/4") << QStringList{"-m", "3/4"} << 120 << "120"
                               << "3/4"
                               << "211"
                               << "1"
                               << "0";
    QTest::newRow("meter 2/4") << QStringList{"--meter=2/4"} << 120 << "120"
                               << "2/4"
                               << "21"
                               << "1"
                               << "0";
    QTest::newRow("pattern") << QStringList{"-m", "21121"} << 120 << "120"
                             << "Custom ..."
                             << "21121"
                             << "1"
                             << "0";
    QTest::newRow("pattern of 19 with silences") << QStringList{"-m", "2.10000000000000001"} << 120 << "120"
                                                 << "Custom ..."
                                                 << "2.10000000000000001"
                                                 << "1"
                                                 << "0";
    QTest::newRow("multiplier 2") << QStringList{"-x", "2"} << 120 << "120"
                                  << "None"
                                  << "1"
                                  << "2"
                                  << "0";
    QTest::newRow("multiplier 4") << QStringList{"--multiplier=4"} << 120 << "120"
                                  << "None"
                                  << "1"
                                  << "4"
                                  << "0";
    QTest::newRow("multiplier 1") << QStringList{"-x", "1"} << 120 << "120"
                                  << "None"
                                  << "1"
                                  << "1"
                                  << "0";
    QTest::newRow("mute") << QStringList{"--mute"} << 120 << "120"
                          << "None"
                          << "1"
                          << "1"
                          << "1";
    QTest::newRow("all") << QStringList{"-t", "208", "-m", "3/4", "-x", "4", "--mute"} << 208 << "208"
                         << "3/4"
                         << "211"
                         << "4"
                         << "1";
    QTest::newRow("a song, its multiplier changed") << QStringList{"--song", "Slow blues", "-x", "2"} << 72 << "72"
                                                    << "3/4"
                                                    << "211"
                                                    << "2"
                                                    << "0";
}

void TestCommandLine::appliesStartOptions()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, bpm);
    QFETCH(QString, tempoBox);
    QFETCH(QString, meterEntry);
    QFETCH(QString, pattern);
    QFETCH(QString, multiplier);
    QFETCH(QString, mute);

    const pulsewerk::CommandLine commandLine = pulsewerk::parseCommandLine(QStringList{"pulsewerk"} + arguments);
    QVERIFY(commandLine.run);
    BeatHarness h;
    frmMain &w = h.window();
    pulsewerk::applyStartOptions(w, commandLine.options);

    QCOMPARE(int(w.m_intBpm), bpm);
    QCOMPARE(w.Slider1->value(), bpm);
    QCOMPARE(w.Text1->text(), tempoBox);
    QCOMPARE(w.cboMeter->currentText(), meterEntry);
    QCOMPARE(frmMainTestAccess::pattern(w), pattern);
    QCOMPARE(int(frmMainTestAccess::beat(w)), pattern.size() - 1); // the next beat is the bar's first
    for (int lamp = 0; lamp < int(w.imgLed.size()); ++lamp)
        QCOMPARE(w.imgLed[lamp]->isVisibleTo(&w), lamp < pattern.size());
    QCOMPARE(w.imgDouble->Tag(), multiplier);
    QCOMPARE(w.imgDouble->Picture(), QStringLiteral("X%1_U").arg(multiplier));
    QCOMPARE(w.imgMute->Tag(), mute);
    if (commandLine.options.mute)
        QCOMPARE(w.imgMute->Picture(), QStringLiteral("MUTE_D"));
}

void TestCommandLine::customMeterDialogShowsLater()
{
    BeatHarness h;
    frmMain &w = h.window();
    pulsewerk::applyStartOptions(w, pulsewerk::parseCommandLine({"pulsewerk", "-m", "2101"}).options);
    frmCustomMeter *dialog = frmMainTestAccess::customMeter(w);
    QVERIFY(dialog);
    QVERIFY(!dialog->isVisible());
    QCOMPARE(dialog->m_strMeter, QStringLiteral("2101"));
    QVERIFY(!dialog->testAttribute(Qt::WA_DontShowOnScreen));
}

void TestCommandLine::countInAtStart()
{
    BeatHarness h;
    frmMain &w = h.window();
    pulsewerk::applyStartOptions(w, pulsewerk::parseCommandLine({"pulsewerk", "-m", "2/4", "--count-in", "2"}).options);
    h.clock.at(3200, [&w] { w.close(); });
    QCOMPARE(h.runLoop(), 1);
    QStringList notes;
    for (const auto &m : h.messages()) {
        if (m.data2() != 0)
            notes << QStringLiteral("%1:%2").arg(m.atMs).arg(m.data1());
    }
    // Two bars of 2/4 as side stick from the first beat, one period after the start.
    QCOMPARE(notes, (QStringList{"500:37", "1000:37", "1500:37", "2000:37", "2500:61", "3000:60"}));
}

QTEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
