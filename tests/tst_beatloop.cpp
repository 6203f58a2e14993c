// SPDX-License-Identifier: GPL-3.0-or-later
// The beat engine through the real main window: what each beat and each release
// sends and shows, and the real beat loop stepped on a fake clock.
#include "ModalDriver.h"
#include "TestSupport.h"

#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"

#include <QTest>

using Access = frmMainTestAccess;
using SentBeats = QVector<QPair<std::uint32_t, std::uint32_t>>; // sent at, meant for

namespace {

// Sets the pattern in use as a fresh meter choice leaves it: cursor on the last position.
void choosePattern(frmMain &w, const QString &pattern)
{
    Access::pattern(w) = pattern;
    Access::beat(w) = static_cast<std::int16_t>(pattern.size() - 1);
}

QString lamp(frmMain &w, int i) { return w.imgLed[static_cast<std::size_t>(i)]->Picture(); }

} // namespace

class TestBeatLoop : public QObject {
    Q_OBJECT

private slots:
    void init();
    // The start state the rest of the program relies on.
    void startState();
    // A strong first beat, its release, and the weak beat after it, each on its own lamp.
    void strongThenWeak();
    // Meter "None": every beat is weak, on lamp 0.
    void singleWeakBeat();
    // A silent position sends nothing and shows the dark green lamp, at the beat and after.
    void silentPosition();
    // Muted: the lamps still flash, no note goes out, but the release still does.
    void mutedBeatsLightLampsOnly();
    // A meter change between a beat and its release acts on the new pattern's last
    // position, and still releases the note that sounds.
    void meterChangeBetweenBeatAndRelease();
    // The real loop for several seconds: every message and its time.
    void loopSendsEveryMessageOnTime();
    // The first pass after a held-up stretch makes one beat and keeps the grid's phase;
    // within the output's room for a late sender the beat is meant for its grid point.
    void heldLoopDropsMissedBeats_data();
    void heldLoopDropsMissedBeats();
    // Closing the window ends the loop: nothing more is sent, the output closes once.
    void closingEndsTheLoop();
    // A note still sounding when the window closes is released before the output closes.
    void noStuckNoteAtExit();
    // The beat goes on across the wrap of the millisecond count.
    void loopAcrossTheWrap();
    // Space stops: the note released at once, the lamps dark, nothing sent and no timing
    // work while stopped, mute and meter still work; Space again: the downbeat at once.
    void stopAndStart();
    // Four taps of T 400 ms apart: 150 bpm, and the downbeat heard one period after the
    // last tap, however long the output takes to sound it.
    void tapsMoveTheGrid_data();
    void tapsMoveTheGrid();
    // A beat's lamp and the row's description change when its note is heard, its
    // intended time plus the output's latency, muted or not; the notes go on the grid.
    void lampsChangeWhenHeard_data();
    void lampsChangeWhenHeard();
    // A custom meter chosen while beating, its dialog held open past a beat and closed with
    // Enter: the new bar's downbeat is meant for when the loop is back, not for a grid point
    // long gone, and its release a sounding time later, so it is heard whole.
    void downbeatAfterHeldDialog();
    // A stop, a mute or a new meter drops the beat sent and not heard yet, at once.
    void changesDropUnheardBeats_data();
    void changesDropUnheardBeats();

private:
    TempSettings m_settings;
};

void TestBeatLoop::init() { m_settings.clear(); }

void TestBeatLoop::startState()
{
    BeatHarness h;
    frmMain &w = h.window();
    QCOMPARE(w.m_intBpm, std::int16_t(120));
    QCOMPARE(Access::pattern(w), QStringLiteral("1"));
    QCOMPARE(Access::beat(w), std::int16_t(0));
    QCOMPARE(Access::channel(w), std::int16_t(10));
    QCOMPARE(Access::strongNote(w), std::int16_t(61));
    QCOMPARE(Access::strongVelocity(w), std::int16_t(80));
    QCOMPARE(Access::weakNote(w), std::int16_t(60));
    QCOMPARE(Access::weakVelocity(w), std::int16_t(50));
    QCOMPARE(w.imgDouble->Tag(), QStringLiteral("1"));
    QCOMPARE(w.imgMute->Tag(), QStringLiteral("0"));
    QCOMPARE(w.imgLed.size(), std::size_t(19));
    QVERIFY(w.imgLed[0]->isVisible());
    QCOMPARE(lamp(w, 0), QStringLiteral("LED_GOFF"));
    for (int i = 1; i < 19; ++i)
        QVERIFY(!w.imgLed[static_cast<std::size_t>(i)]->isVisible());
    QCOMPARE(w.imgLed[0]->geometry(), QRect(4, 4, 14, 14));
    QVERIFY(h.midi.messages.empty()); // nothing is sent before the loop opens the output
}

void TestBeatLoop::strongThenWeak()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    choosePattern(w, QStringLiteral("2111"));
    w.OnBeat();
    QCOMPARE(Access::beat(w), std::int16_t(0));
    QCOMPARE(lamp(w, 0), QStringLiteral("LED_RON"));
    w.OnBeatOff();
    QCOMPARE(lamp(w, 0), QStringLiteral("LED_ROFF"));
    w.OnBeat();
    QCOMPARE(lamp(w, 1), QStringLiteral("LED_GON"));
    QCOMPARE(lamp(w, 0), QStringLiteral("LED_ROFF"));
    w.OnBeatOff();
    w.OnBeatOff(); // repeating the release only repeats the same message and picture
    QCOMPARE(lamp(w, 1), QStringLiteral("LED_GOFF"));
    const std::vector<std::uint32_t> expected{NoteOn(9, 61, 80), NoteOn(9, 61, 0), NoteOn(9, 60, 50), NoteOn(9, 60, 0),
                                              NoteOn(9, 60, 0)};
    std::vector<std::uint32_t> sent;
    for (const auto &m : h.midi.messages)
        sent.push_back(m.message);
    QCOMPARE(sent, expected);
}

void TestBeatLoop::singleWeakBeat()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    for (int i = 0; i < 3; ++i) {
        w.OnBeat();
        QCOMPARE(Access::beat(w), std::int16_t(0));
        QCOMPARE(lamp(w, 0), QStringLiteral("LED_GON"));
        w.OnBeatOff();
        QCOMPARE(lamp(w, 0), QStringLiteral("LED_GOFF"));
    }
    QCOMPARE(h.midi.messages.size(), std::size_t(6));
    QCOMPARE(h.midi.messages[4].message, NoteOn(9, 60, 50));
    QCOMPARE(h.midi.messages[5].message, NoteOn(9, 60, 0));
}

void TestBeatLoop::silentPosition()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    choosePattern(w, QStringLiteral("2101"));
    w.OnBeat();
    w.OnBeatOff();
    w.OnBeat();
    w.OnBeatOff();
    h.midi.messages.clear();
    w.imgLed[2]->setPicture(QStringLiteral("LED_RON")); // whatever it showed before
    w.OnBeat();
    QCOMPARE(Access::beat(w), std::int16_t(2));
    QCOMPARE(lamp(w, 2), QStringLiteral("LED_GOFF"));
    w.imgLed[2]->setPicture(QStringLiteral("LED_GON"));
    w.OnBeatOff();
    QCOMPARE(lamp(w, 2), QStringLiteral("LED_GOFF"));
    QVERIFY(h.midi.messages.empty());
}

void TestBeatLoop::mutedBeatsLightLampsOnly()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    choosePattern(w, QStringLiteral("21"));
    w.imgMute->setTag(QStringLiteral("1"));
    w.OnBeat();
    QCOMPARE(lamp(w, 0), QStringLiteral("LED_RON"));
    QVERIFY(h.midi.messages.empty());
    w.OnBeatOff();
    QCOMPARE(lamp(w, 0), QStringLiteral("LED_ROFF"));
    QCOMPARE(h.midi.messages.size(), std::size_t(1));
    QCOMPARE(h.midi.messages[0].message, NoteOn(9, 61, 0));
    w.OnBeat();
    QCOMPARE(lamp(w, 1), QStringLiteral("LED_GON"));
    QCOMPARE(h.midi.messages.size(), std::size_t(1));
}

void TestBeatLoop::meterChangeBetweenBeatAndRelease()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    choosePattern(w, QStringLiteral("211"));
    w.OnBeat(); // strong beat on lamp 0
    w.cboMeter->setCurrentIndex(1);
    emit w.cboMeter->activated(1); // "4/4" chosen while the strong note sounds
    QCOMPARE(Access::beat(w), std::int16_t(3));
    h.midi.messages.clear();
    w.OnBeatOff();
    QCOMPARE(h.midi.messages.size(), std::size_t(2));
    QCOMPARE(h.midi.messages[0].message, NoteOn(9, 60, 0)); // position 3 is weak
    QCOMPARE(h.midi.messages[1].message, NoteOn(9, 61, 0)); // and the strong note is not left hanging
    QCOMPARE(lamp(w, 3), QStringLiteral("LED_GOFF"));
    w.OnBeat();
    QCOMPARE(Access::beat(w), std::int16_t(0)); // the bar restarts
    QCOMPARE(h.midi.messages.back().message, NoteOn(9, 61, 80));
}

void TestBeatLoop::loopSendsEveryMessageOnTime()
{
    BeatHarness h;
    h.clock.at(1800, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {201, NoteOn(9, 60, 0)},  // the release comes once the first sounding time has passed
        {501, NoteOn(9, 60, 0)},  // and again in the pass that beats
        {501, NoteOn(9, 60, 50)}, // the first beat, one full period after start
        {701, NoteOn(9, 60, 0)},  {1001, NoteOn(9, 60, 0)},  {1001, NoteOn(9, 60, 50)}, {1201, NoteOn(9, 60, 0)},
        {1501, NoteOn(9, 60, 0)}, {1501, NoteOn(9, 60, 50)}, {1701, NoteOn(9, 60, 0)},
    };
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sent;
    for (const auto &m : h.messages())
        sent.emplace_back(m.timeMs, m.message);
    QCOMPARE(sent, expected);
    // Each beat's clock beat goes out before the beat's note: an audio thread that took
    // the note would otherwise place the beat's first tick a cycle late.
    int beats = 0;
    for (std::size_t i = 0; i < h.midi.messages.size(); ++i) {
        const pulsewerk::RecordedMessage &m = h.midi.messages[i];
        if (m.data2() == 0)
            continue;
        ++beats;
        const auto clockBeat = std::find_if(h.midi.clockBeats.begin(), h.midi.clockBeats.end(),
                                            [&m](const auto &beat) { return beat.first == m.atMs; });
        QVERIFY2(clockBeat != h.midi.clockBeats.end() && clockBeat->second <= i, qPrintable(QString::number(i)));
    }
    QCOMPARE(beats, 3);
    QCOMPARE(h.midi.opens, 1);
    QCOMPARE(h.midi.closes, 1);
}

void TestBeatLoop::heldLoopDropsMissedBeats_data()
{
    QTest::addColumn<std::uint32_t>("heldAt");
    QTest::addColumn<std::uint32_t>("heldFor");
    QTest::addColumn<std::uint32_t>("room");
    QTest::addColumn<SentBeats>("beats");
    // A dialog held open: 501, one beat at 2334 (grid point 2000), then 2500 on the old grid,
    // sent with the late beat's lamp change, a moment before its time.
    QTest::newRow("held 1734 ms") << 600u << 1734u << pulsewerk::kLateRoomMs
                                  << SentBeats{{501, 500}, {2334, 2334}, {2500, 2500}};
    QTest::newRow("70 ms late, 50 ms of room")
        << 990u << 80u << 50u << SentBeats{{501, 500}, {1070, 1070}, {1501, 1500}};
    QTest::newRow("70 ms late, 75 ms of room")
        << 990u << 80u << 75u << SentBeats{{501, 500}, {1070, 1000}, {1501, 1500}};
}

void TestBeatLoop::heldLoopDropsMissedBeats()
{
    QFETCH(std::uint32_t, heldAt);
    QFETCH(std::uint32_t, heldFor);
    QFETCH(std::uint32_t, room);
    QFETCH(SentBeats, beats);
    BeatHarness h;
    h.midi.lateRoomMs = room;
    // A handler that holds the loop, as an open dialog or a busy machine does.
    h.clock.at(heldAt, [&h, heldFor] { h.clock.advance(heldFor); });
    h.clock.at(std::max(1700u, heldAt + heldFor + 400), [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    SentBeats sent;
    for (const auto &m : h.messages()) {
        if (m.data2() != 0)
            sent.append({m.timeMs, m.atMs});
    }
    QCOMPARE(sent, beats);
}

void TestBeatLoop::closingEndsTheLoop()
{
    BeatHarness h;
    h.clock.at(1001, [] { mdlMain::g_frmMain->close(); }); // at the very moment a beat is due
    QCOMPARE(h.runLoop(), 1);
    QVERIFY(mdlMain::g_blnQuit);
    for (const auto &m : h.messages())
        QVERIFY2(m.timeMs <= 1001 && !(m.timeMs == 1001 && m.data2() != 0), "a beat after the close");
    QCOMPARE(h.midi.closes, 1);
    QCOMPARE(h.midi.sentWhileClosed, 0);
}

void TestBeatLoop::noStuckNoteAtExit()
{
    BeatHarness h;
    h.clock.at(1550, [] { mdlMain::g_frmMain->close(); }); // the 1501 beat still sounds
    QCOMPARE(h.runLoop(), 1);
    const auto messages = h.messages();
    QVERIFY(!messages.empty());
    QCOMPARE(messages.back().timeMs, 1550u);
    QCOMPARE(messages.back().message, NoteOn(9, 60, 0));
    QCOMPARE(h.midi.closes, 1);
    QCOMPARE(h.midi.sentWhileClosed, 0);
}

void TestBeatLoop::loopAcrossTheWrap()
{
    BeatHarness h(0xFFFFFE00u); // the count wraps 512 ms after start
    h.clock.at(2100, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    std::vector<std::uint32_t> beats;
    for (const auto &m : h.messages()) {
        if (m.data2() != 0)
            beats.push_back(m.timeMs);
    }
    const std::vector<std::uint32_t> expected{501, 1001, 1501, 2001};
    QCOMPARE(beats, expected);
}

void TestBeatLoop::stopAndStart()
{
    BeatHarness h;
    frmMain &w = h.window();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto space = [&w] { QTest::keyClick(w.Text1, Qt::Key_Space); };
    QStringList lamps;
    int waitsWhileStopped = 0;
    h.clock.at(600, space); // the 501 beat still sounds
    h.clock.at(700, [&h, &waitsWhileStopped] { waitsWhileStopped = -h.clock.waits(); });
    h.clock.at(1000, [&w] { QTest::mouseClick(w.imgMute, Qt::LeftButton, {}, QPoint(5, 5)); });
    h.clock.at(1100, [&w] { QTest::mouseClick(w.imgMute, Qt::LeftButton, {}, QPoint(5, 5)); });
    h.clock.at(1200, [&w] {
        w.cboMeter->setCurrentIndex(1);
        emit w.cboMeter->activated(1); // 4/4
    });
    h.clock.at(1900, [&h, &w, &lamps, &waitsWhileStopped] {
        waitsWhileStopped += h.clock.waits();
        for (int i = 0; i < 4; ++i)
            lamps << lamp(w, i);
    });
    h.clock.at(2000, space);
    h.clock.at(2700, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);

    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {201, NoteOn(9, 60, 0)},   {501, NoteOn(9, 60, 0)},
        {501, NoteOn(9, 60, 50)},  {600, NoteOn(9, 60, 0)},  // stopped: released at once
        {2000, NoteOn(9, 61, 80)},                           // started: the downbeat of 4/4 at once
        {2201, NoteOn(9, 61, 0)},  {2501, NoteOn(9, 61, 0)}, // the grid runs from the start
        {2501, NoteOn(9, 60, 50)}, {2700, NoteOn(9, 60, 0)},
    };
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sent;
    for (const auto &m : h.messages())
        sent.emplace_back(m.timeMs, m.message);
    QCOMPARE(sent, expected);
    QCOMPARE(lamps, (QStringList{"LED_ROFF", "LED_GOFF", "LED_GOFF", "LED_GOFF"}));
    QCOMPARE(waitsWhileStopped, 4);                   // one wait for each event, 1000 to 1900
    QCOMPARE(w.Text1->text(), QStringLiteral("120")); // the box took no blank
    QCOMPARE(w.imgMute->Tag(), QStringLiteral("0"));
}

void TestBeatLoop::tapsMoveTheGrid_data()
{
    QTest::addColumn<std::uint32_t>("latency");
    QTest::newRow("heard at once") << 0u;
    QTest::newRow("desktop stream") << 30u;
    QTest::newRow("Bluetooth headset") << 250u;
}

void TestBeatLoop::tapsMoveTheGrid()
{
    QFETCH(std::uint32_t, latency);
    BeatHarness h;
    h.midi.latencyMs = latency;
    frmMain &w = h.window();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    h.clock.at(100, [&w] {
        w.cboMeter->setCurrentIndex(3);
        emit w.cboMeter->activated(3); // 2/4
    });
    for (std::uint32_t tap : {1000u, 1400u, 1800u, 2200u})
        h.clock.at(tap, [&w] { QTest::keyClick(w.Text1, Qt::Key_T); });
    h.clock.at(3500, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> beats;
    for (const auto &m : h.messages()) {
        if (m.data2() != 0 && m.timeMs > 2200)
            beats.emplace_back(m.atMs + latency, m.message); // heard then
    }
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{
        {2600, NoteOn(9, 61, 80)}, {3000, NoteOn(9, 60, 50)}, {3400, NoteOn(9, 61, 80)}};
    QCOMPARE(beats, expected);
    QCOMPARE(w.m_intBpm, std::int16_t(150));
    QCOMPARE(w.Text1->text(), QStringLiteral("150"));
}

void TestBeatLoop::lampsChangeWhenHeard_data()
{
    QTest::addColumn<std::uint32_t>("latency");
    QTest::addColumn<bool>("muted");
    QTest::newRow("heard at once") << 0u << false;
    QTest::newRow("desktop stream") << 25u << false;
    QTest::newRow("Bluetooth headset") << 200u << false;
    QTest::newRow("muted headset") << 200u << true;
}

void TestBeatLoop::lampsChangeWhenHeard()
{
    QFETCH(std::uint32_t, latency);
    QFETCH(bool, muted);
    BeatHarness h;
    h.midi.latencyMs = latency;
    frmMain &w = h.window();
    if (muted)
        h.clock.at(100, [&w] { QTest::mouseClick(w.imgMute, Qt::LeftButton, {}, QPoint(5, 5)); });
    QStringList seen;
    // An action at a clock reading runs before that reading's pass: at the due time the
    // lamp is as it was, a millisecond later it has changed. The beat of grid point 500 is
    // heard at 500 + latency (sent at 501, it cannot be shown before), its release sent at
    // 701 at 701 + latency.
    for (std::uint32_t at : {500u, 502u, 701u, 702u})
        h.clock.at(at + latency, [&w, &seen] { seen << lamp(w, 0) + " " + w.Picture1->accessibleDescription(); });
    h.clock.at(1300, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    const QStringList expected{"LED_GOFF none of 1 lit", "LED_GON 1 of 1, weak", "LED_GON 1 of 1, weak",
                               "LED_GOFF 1 of 1, weak"};
    QCOMPARE(seen, expected);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> beats;
    for (const auto &m : h.messages()) {
        if (m.data2() != 0)
            beats.emplace_back(m.timeMs, m.atMs);
    }
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> sounded{{501, 500}, {1001, 1000}};
    QCOMPARE(beats, muted ? decltype(beats){} : sounded);
}

void TestBeatLoop::downbeatAfterHeldDialog()
{
    BeatHarness h;
    h.midi.latencyMs = 25;
    frmMain &w = h.window();
    QString lampAtDownbeat;
    h.clock.at(600, [&h, &w] {
        whileModal(
            [&w] {
                w.cboMeter->setCurrentIndex(4);
                emit w.cboMeter->activated(4); // Custom ...
            },
            [&h](QDialog &dialog) {
                h.clock.advance(1734); // held open past the beat of grid point 2000
                press(dialog, Qt::Key_Tab);
                press(dialog, Qt::Key_Tab);
                type(dialog, QStringLiteral("2101"));
                press(dialog, Qt::Key_Return);
            });
    });
    h.clock.at(2360, [&w, &lampAtDownbeat] { lampAtDownbeat = lamp(w, 0); });
    h.clock.at(2700, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> late;
    for (const auto &m : h.messages()) {
        if (m.timeMs >= 2334)
            late.emplace_back(m.timeMs, m.message, m.atMs);
    }
    const std::vector<std::tuple<std::uint32_t, std::uint32_t, std::uint32_t>> expected{
        {2334, NoteOn(9, 60, 0), 2334},  // the new pattern's last position released
        {2334, NoteOn(9, 61, 80), 2334}, // the downbeat, when the loop is back
        {2334, NoteOn(9, 61, 0), 2500},  // released at the next grid point, not with it
        {2360, NoteOn(9, 61, 0), 2360},  // (the check of the lamp is an event: its pass releases again)
        {2501, NoteOn(9, 61, 0), 2500},  {2501, NoteOn(9, 60, 50), 2500}, {2700, NoteOn(9, 60, 0), 2700}};
    QCOMPARE(late, expected);
    QCOMPARE(lampAtDownbeat, QStringLiteral("LED_RON")); // lit at 2334 + 25
}

void TestBeatLoop::changesDropUnheardBeats_data()
{
    QTest::addColumn<int>("change");
    QTest::addColumn<QString>("lampAfter"); // lamp 0 once the beat would have been heard
    QTest::newRow("stop") << 0 << "LED_ROFF";
    QTest::newRow("mute") << 1 << "LED_RON"; // muted lamps keep their timing
    QTest::newRow("new meter") << 2 << "LED_ROFF";
}

void TestBeatLoop::changesDropUnheardBeats()
{
    QFETCH(int, change);
    QFETCH(QString, lampAfter);
    BeatHarness h;
    h.midi.latencyMs = 25;
    frmMain &w = h.window();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    choosePattern(w, QStringLiteral("2111"));
    h.clock.at(510, [&w, change] { // the beat of 500 sent, heard at 525
        if (change == 0)
            QTest::keyClick(w.Text1, Qt::Key_Space);
        else if (change == 1)
            QTest::mouseClick(w.imgMute, Qt::LeftButton, {}, QPoint(5, 5));
        if (change != 2)
            return;
        w.cboMeter->setCurrentIndex(1);
        emit w.cboMeter->activated(1); // 4/4 again
    });
    QString lampSeen;
    h.clock.at(530, [&w, &lampSeen] { lampSeen = lamp(w, 0); });
    h.clock.at(540, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    QCOMPARE(h.midi.drops, std::vector<std::uint32_t>{1510}); // the clock started at 1000
    QCOMPARE(lampSeen, lampAfter);
}

QTEST_MAIN(TestBeatLoop)
#include "tst_beatloop.moc"
