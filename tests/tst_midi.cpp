// SPDX-License-Identifier: GPL-3.0-or-later
// The MIDI output: the packed bytes of a note-on, the guard against malformed
// messages, the release of sounding notes, and silence when no output is present.
#include "TestSupport.h"

#include "RecordingMidiOut.h"
#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"
#include "platform/MidiOut.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using pulsewerk::RecordingMidiOut;

class TestMidi : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    // A wrong shift or status would send another note, velocity or message type.
    void packedBytes_data();
    void packedBytes();
    // Values out of range would make the status or data bytes malformed.
    void outOfRangeIsNotSent_data();
    void outOfRangeIsNotSent();
    // Nothing reaches a device that is not open, and close happens once.
    void openSendClose();
    // A note still sounding at the end would hang in the synthesizer.
    void releaseSoundingNotes();
    // No output device at all: every call returns normally.
    void noDeviceIsSilent();
    // A beat the loop sends late, and the release sent with it, carry the beat's grid
    // point to the device; every other message carries its sending time.
    void intendedTimeRidesWithTheMessage();
    // The SoundFont: the one chosen by PULSEWERK_SOUNDFONT, else the first General MIDI
    // SoundFont in the user's, then the system's data folders.
    void soundFontSearchOrder_data();
    void soundFontSearchOrder();

private:
    RecordingMidiOut::Log m_log;
};

void TestMidi::init()
{
    m_log = {};
    pulsewerk::setMidiOutFactory([this] { return std::make_unique<RecordingMidiOut>(m_log); });
    mdlMidi::OpenMidiOut();
}

void TestMidi::cleanup()
{
    mdlMidi::CloseMidiOut();
    pulsewerk::setMidiOutFactory({});
}

void TestMidi::packedBytes_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("note");
    QTest::addColumn<int>("velocity");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("channel 10 strong") << 9 << 61 << 80 << QByteArray::fromHex("993d5000");
    QTest::newRow("channel 10 release") << 9 << 61 << 0 << QByteArray::fromHex("993d0000");
    QTest::newRow("channel 1 weak") << 0 << 60 << 50 << QByteArray::fromHex("903c3200");
    QTest::newRow("channel 16 top values") << 15 << 127 << 127 << QByteArray::fromHex("9f7f7f00");
}

void TestMidi::packedBytes()
{
    QFETCH(int, channel);
    QFETCH(int, note);
    QFETCH(int, velocity);
    QFETCH(QByteArray, bytes);
    const std::int16_t c = static_cast<std::int16_t>(channel);
    const std::int16_t n = static_cast<std::int16_t>(note);
    const std::int16_t v = static_cast<std::int16_t>(velocity);
    mdlMidi::PlayNote(c, n, v);
    QCOMPARE(m_log.messages.size(), std::size_t(1));
    const auto &sent = m_log.messages.front();
    QByteArray actual;
    for (const std::uint8_t byte : {sent.status(), sent.data1(), sent.data2(), sent.byte3()})
        actual.append(static_cast<char>(byte));
    QCOMPARE(actual.toHex(), bytes.toHex());
}

void TestMidi::outOfRangeIsNotSent_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("note");
    QTest::addColumn<int>("velocity");
    QTest::newRow("channel 16") << 16 << 60 << 50;
    QTest::newRow("channel -1") << -1 << 60 << 50;
    QTest::newRow("note 128") << 9 << 128 << 50;
    QTest::newRow("note -1") << 9 << -1 << 50;
    QTest::newRow("velocity 128") << 9 << 60 << 128;
    QTest::newRow("velocity 300") << 9 << 60 << 300;
    QTest::newRow("velocity -1") << 9 << 60 << -1;
    QTest::newRow("note 32767") << 9 << 32767 << 50;
}

void TestMidi::outOfRangeIsNotSent()
{
    QFETCH(int, channel);
    QFETCH(int, note);
    QFETCH(int, velocity);
    const std::int16_t c = static_cast<std::int16_t>(channel);
    const std::int16_t n = static_cast<std::int16_t>(note);
    const std::int16_t v = static_cast<std::int16_t>(velocity);
    mdlMidi::PlayNote(c, n, v);
    QVERIFY(m_log.messages.empty());
}

void TestMidi::openSendClose()
{
    QCOMPARE(m_log.opens, 1);
    mdlMidi::OpenMidiOut(); // a second open keeps the one device
    QCOMPARE(m_log.opens, 1);
    mdlMidi::CloseMidiOut();
    mdlMidi::CloseMidiOut();
    QCOMPARE(m_log.closes, 1);
    const std::int16_t c = 9, n = 60, v = 50;
    mdlMidi::PlayNote(c, n, v);
    QVERIFY(m_log.messages.empty());
    QCOMPARE(m_log.sentWhileClosed, 0);
}

void TestMidi::releaseSoundingNotes()
{
    const std::int16_t drums = 9, piano = 0, off = 0, loud = 100;
    const std::int16_t a = 60, b = 61, c = 62;
    mdlMidi::PlayNote(drums, a, loud);
    mdlMidi::PlayNote(drums, b, loud);
    mdlMidi::PlayNote(drums, b, off);
    mdlMidi::PlayNote(piano, c, loud);
    m_log.messages.clear();
    mdlMidi::releaseSoundingNotes();
    QCOMPARE(m_log.messages.size(), std::size_t(2));
    QCOMPARE(m_log.messages[0].message, NoteOn(0, 62, 0));
    QCOMPARE(m_log.messages[1].message, NoteOn(9, 60, 0));
    m_log.messages.clear();
    mdlMidi::releaseSoundingNotes(); // already released: nothing more
    QVERIFY(m_log.messages.empty());
}

void TestMidi::noDeviceIsSilent()
{
    mdlMidi::CloseMidiOut();
    pulsewerk::setMidiOutFactory([] { return std::unique_ptr<pulsewerk::MidiOutDevice>(); });
    mdlMidi::OpenMidiOut();
    const std::int16_t c = 9, n = 60, v = 50;
    mdlMidi::PlayNote(c, n, v);
    mdlMidi::releaseSoundingNotes();
    mdlMidi::CloseMidiOut();
    QVERIFY(!mdlMidi::g_hMidiOut);
}

void TestMidi::intendedTimeRidesWithTheMessage()
{
    mdlMidi::CloseMidiOut();
    BeatHarness h;
    h.clock.at(600, [&h] { h.clock.advance(1734); }); // the loop held up, as by a dialog
    h.clock.at(2700, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sentAndMeant;
    for (const auto &m : h.messages())
        sentAndMeant.emplace_back(m.timeMs, m.atMs);
    // The start's release; the release and beat of grid point 500; the loop held from 600
    // to 2334, then the late beat of grid point 2000 with the release sent before it, and
    // its own release at once (its sounding time is over); the beat of 2500 with its
    // release before it; the exit's release.
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{{201, 201},   {501, 500},   {501, 500},
                                                                        {2334, 2000}, {2334, 2000}, {2334, 2334},
                                                                        {2501, 2500}, {2501, 2500}, {2700, 2700}};
    QCOMPARE(sentAndMeant, expected);
}

void TestMidi::soundFontSearchOrder_data()
{
    QTest::addColumn<QStringList>("present"); // files under the temporary folder
    QTest::addColumn<QString>("chosenVariable");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the variable wins") << QStringList{"home/sounds/sf2/default-GM.sf2", "mine.sf2"} << "mine.sf2"
                                       << "mine.sf2";
    QTest::newRow("the user's data first")
        << QStringList{"home/soundfonts/TimGM6mb.sf2", "a/sounds/sf2/default-GM.sf2"} << ""
        << "home/soundfonts/TimGM6mb.sf2";
    QTest::newRow("data folders in order")
        << QStringList{"b/sounds/sf2/default-GM.sf2", "a/soundfonts/default.sf2"} << ""
        << "a/soundfonts/default.sf2";
    QTest::newRow("sounds/sf2 before soundfonts")
        << QStringList{"a/soundfonts/default-GM.sf2", "a/sounds/sf2/TimGM6mb.sf2"} << ""
        << "a/sounds/sf2/TimGM6mb.sf2";
    QTest::newRow("the General MIDI set before a small one")
        << QStringList{"b/sounds/sf2/TimGM6mb.sf2", "b/sounds/sf2/default-GM.sf2"} << ""
        << "b/sounds/sf2/default-GM.sf2";
    QTest::newRow("a missing choice finds none") << QStringList{"a/sounds/sf2/default-GM.sf2"} << "gone.sf2"
                                                 << "";
}

void TestMidi::soundFontSearchOrder()
{
    QFETCH(QStringList, present);
    QFETCH(QString, chosenVariable);
    QFETCH(QString, expected);
    QTemporaryDir root;
    for (const QString &path : present) {
        QDir(root.path()).mkpath(QFileInfo(path).path());
        QFile file(root.filePath(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QByteArray saved[] = {qgetenv("PULSEWERK_SOUNDFONT"), qgetenv("XDG_DATA_HOME"), qgetenv("XDG_DATA_DIRS")};
    if (chosenVariable.isEmpty())
        qunsetenv("PULSEWERK_SOUNDFONT");
    else
        qputenv("PULSEWERK_SOUNDFONT", root.filePath(chosenVariable).toLocal8Bit());
    qputenv("XDG_DATA_HOME", root.filePath("home").toLocal8Bit());
    qputenv("XDG_DATA_DIRS", (root.filePath("a") + ':' + root.filePath("b")).toLocal8Bit());
    const QString chosen = pulsewerk::chooseSoundFont();
    qputenv("PULSEWERK_SOUNDFONT", saved[0]);
    qputenv("XDG_DATA_HOME", saved[1]);
    qputenv("XDG_DATA_DIRS", saved[2]);
    QCOMPARE(chosen, expected.isEmpty() ? QString() : root.filePath(expected));
}

QTEST_MAIN(TestMidi)
#include "tst_midi.moc"
