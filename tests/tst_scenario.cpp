// SPDX-License-Identifier: GPL-3.0-or-later
// A whole session on a fake clock, as a musician would play it: the exact MIDI
// messages and their times, and the lamps, from start to exit.
#include "TestSupport.h"

#include "dialogs/frmAbout.h"
#include "dialogs/frmCustomMeter.h"
#include "dialogs/frmGapTrainer.h"
#include "dialogs/frmOptions.h"
#include "dialogs/frmSpeedTrainer.h"
#include "engine/mdlMain.h"
#include "mainwindow/PracticeSettings.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {

void click(pulsewerk::PictureBox *button) { QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center()); }

// Runs `act` on the modal dialog that the next event opens.
template <typename Dialog> void onNextDialog(std::function<void(Dialog *)> act)
{
    QTimer::singleShot(0, [act] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        act(dialog);
    });
}

struct Sent {
    std::uint32_t time;
    std::uint32_t message;
    bool operator==(const Sent &other) const { return time == other.time && message == other.message; }
};

QByteArray describe(const Sent &s) { return QStringLiteral("%1: %2").arg(s.time).arg(s.message, 6, 16).toUtf8(); }

int litLamps(frmMain &w)
{
    int lit = 0;
    for (pulsewerk::PictureBox *lamp : w.imgLed)
        lit += lamp->isVisible() && lamp->Picture().endsWith(QStringLiteral("ON"));
    return lit;
}

} // namespace

class TestScenario : public QObject {
    Q_OBJECT

private slots:
    // Tempo by keys, 3/4, x2, mute, options, a custom meter, a dialog held open, exit.
    void wholeSession();
    // The speed trainer for minutes: a step at the wrong bar, a step past the end tempo,
    // a bar miscounted for "None" or three beats, or the values not stored.
    void trainerSessions_data();
    void trainerSessions();
    // A tempo set by hand while the trainer runs: the trainer must stop for good.
    void handSetTempoStopsTheTrainer();
    // A meter chosen in mid-bar, or a stop and start: the bar cut short counted as a bar.
    void barCutShortIsNoBar();
    // A count-in of the wrong length for a meter or multiplier, in the beat's sound, with
    // a silent place sounded, or a first beat after it off the grid or not the downbeat.
    void countIn_data();
    void countIn();
    // The speed trainer's count-in not played, or its bar counted as the trainer's first.
    void trainerCountsIn();
    // The gap trainer muting a count-in beat or a bar it should play, sounding a bar it
    // should mute, darkening the lamps in a gap, or the beat back off its grid.
    void gapTrainerBars();
    // PageDown or PageUp to the wrong song, a song's values not all applied, or its beat
    // not restarting on its first beat at its own tempo and count-in.
    void songSteps();
};

namespace {

// Chooses entry `index` of the meter list, as a click on it does.
void chooseMeter(frmMain &w, int index)
{
    w.cboMeter->setCurrentIndex(index);
    emit w.cboMeter->activated(index);
}

// Starts the speed trainer by Ctrl+T with the values given, typed into its boxes.
void startTrainer(frmMain &w, int start, int end, int step, int bars)
{
    onNextDialog<frmSpeedTrainer>([=](frmSpeedTrainer *trainer) {
        const std::array<std::pair<QSpinBox *, int>, 4> boxes{
            {{trainer->txtStart, start}, {trainer->txtEnd, end}, {trainer->txtStep, step}, {trainer->txtBars, bars}}};
        for (const auto &[box, value] : boxes) {
            box->selectAll();
            QTest::keyClicks(box, QString::number(value));
        }
        trainer->cmdStart->click();
    });
    QTest::keyClick(w.Text1, Qt::Key_T, Qt::ControlModifier);
}

// The note-on times from `from` on.
std::vector<std::uint32_t> beatTimes(const BeatHarness &h, std::uint32_t from)
{
    std::vector<std::uint32_t> times;
    for (const auto &m : h.messages()) {
        if (m.data2() != 0 && m.timeMs >= from)
            times.push_back(m.timeMs);
    }
    return times;
}

} // namespace

void TestScenario::wholeSession()
{
    TempSettings settings;
    BeatHarness h;
    frmMain &w = h.window();
    QStringList lamps; // snapshots: the pictures of the shown lamps
    auto snapshot = [&w, &lamps] {
        QStringList shown;
        for (pulsewerk::PictureBox *lamp : w.imgLed) {
            if (lamp->isVisible())
                shown << lamp->Picture();
        }
        lamps << shown.join(QLatin1Char(' '));
    };
    int mostLit = 0;

    // 120 bpm, meter "None": weak beats at 501 and 1001. Then 150 typed and Enter.
    h.clock.at(1100, [&w] {
        w.Text1->selectAll();
        QTest::keyClicks(w.Text1, QStringLiteral("150"));
        QTest::keyClick(w.Text1, Qt::Key_Return);
    });
    // 3/4 chosen from the list by keyboard: two steps down from "None" pass "4/4".
    h.clock.at(1850, [&w] {
        w.cboMeter->setFocus();
        QTest::keyClick(w.cboMeter, Qt::Key_Down);
        QTest::keyClick(w.cboMeter, Qt::Key_Down);
        w.Text1->setFocus();
    });
    h.clock.at(2250, snapshot);
    // x2 at 3450: period 200, sounding time 100.
    h.clock.at(3450, [&w] { click(w.imgDouble); });
    // Mute while the strong beat of 4001 sounds, unmute before 4601.
    h.clock.at(4050, [&w] { click(w.imgMute); });
    h.clock.at(4250, snapshot);
    h.clock.at(4450, [&w] { click(w.imgMute); });
    // Options: channel 1, strong note 70 at velocity 100.
    h.clock.at(4650, [&w] {
        onNextDialog<frmOptions>([](frmOptions *options) {
            options->txtChannel->setText(QStringLiteral("1"));
            options->txtStrong->setText(QStringLiteral("70"));
            options->txtStrongVelocity->setText(QStringLiteral("100"));
            options->cmdOK->click();
        });
        click(w.imgOptions);
    });
    // A custom meter with a silent third beat.
    h.clock.at(5250, [&w] {
        onNextDialog<frmCustomMeter>([](frmCustomMeter *meter) {
            meter->txtMeter->setText(QStringLiteral("2101"));
            meter->cmdOK->click();
        });
        w.cboMeter->setCurrentIndex(4);
        emit w.cboMeter->activated(4);
    });
    h.clock.at(5850, snapshot);
    // The about dialog held open for 1234 ms: the beats in between are dropped.
    h.clock.at(6050, [&w, &h] {
        onNextDialog<frmAbout>([&h](frmAbout *about) {
            h.clock.advance(1234);
            about->cmdOK->click();
        });
        click(w.imgAbout);
    });
    h.clock.at(7450, [&w, &mostLit] {
        mostLit = std::max(mostLit, litLamps(w));
        click(w.imgExit);
    });
    for (std::uint32_t t = 25; t < 7450; t += 50)
        h.clock.at(t, [&w, &mostLit] { mostLit = std::max(mostLit, litLamps(w)); });

    QCOMPARE(h.runLoop(), 1);

    std::vector<Sent> noteOns;
    std::vector<Sent> releases;
    for (const auto &m : h.messages())
        (m.data2() != 0 ? noteOns : releases).push_back({m.timeMs, m.message});
    const std::vector<Sent> expected{
        {501, NoteOn(9, 60, 50)},   {1001, NoteOn(9, 60, 50)}, // 120 bpm
        {1401, NoteOn(9, 60, 50)},  {1801, NoteOn(9, 60, 50)}, // 150 bpm from the old beat time
        {2201, NoteOn(9, 61, 80)},  {2601, NoteOn(9, 60, 50)}, {3001, NoteOn(9, 60, 50)},  // 3/4
        {3401, NoteOn(9, 61, 80)},  {3601, NoteOn(9, 60, 50)}, {3801, NoteOn(9, 60, 50)},  // x2
        {4001, NoteOn(9, 61, 80)},                                                         // muted: 4201, 4401
        {4601, NoteOn(9, 61, 80)},                                                         // unmuted
        {4801, NoteOn(0, 60, 50)},  {5001, NoteOn(0, 60, 50)}, {5201, NoteOn(0, 70, 100)}, // channel 1
        {5401, NoteOn(0, 70, 100)}, {5601, NoteOn(0, 60, 50)}, {6001, NoteOn(0, 60, 50)},  // 2101
        {7284, NoteOn(0, 70, 100)}, {7401, NoteOn(0, 60, 50)}, // after the held dialog, in phase
    };
    QCOMPARE(noteOns, expected);

    // Every note-on is released no later than the next beat (a held dialog holds the
    // release too), the mute releases at once, and the last note is released at exit.
    for (std::size_t i = 0; i < noteOns.size(); ++i) {
        const Sent &on = noteOns[i];
        const std::uint32_t off = on.message & 0x00FFFF;
        const std::uint32_t deadline = i + 1 < noteOns.size() ? noteOns[i + 1].time : 7450;
        const bool released = std::any_of(releases.begin(), releases.end(), [&](const Sent &r) {
            return r.message == off && r.time > on.time && r.time <= deadline;
        });
        QVERIFY2(released, describe(on).constData());
    }
    QVERIFY(std::find(releases.begin(), releases.end(), Sent{4050, NoteOn(9, 61, 0)}) != releases.end());
    QCOMPARE(releases.back(), (Sent{7450, NoteOn(0, 60, 0)}));
    QCOMPARE(h.midi.opens, 1);
    QCOMPARE(h.midi.closes, 1);
    QCOMPARE(h.midi.sentWhileClosed, 0);

    QCOMPARE(lamps, (QStringList{
                        "LED_RON LED_GOFF LED_GOFF",           // 2250: the strong beat of 3/4 lit
                        "LED_ROFF LED_GON LED_GOFF",           // 4250: muted, the lamp still lights
                        "LED_ROFF LED_GOFF LED_GOFF LED_GOFF", // 5850: the silent beat shows dark
                    }));
    QCOMPARE(mostLit, 1);
    QCOMPARE(w.Text1->text(), QStringLiteral("150"));
    QVERIFY(QFile::exists(settings.fileName())); // only the options' OK wrote the store
}

void TestScenario::trainerSessions_data()
{
    QTest::addColumn<int>("meter"); // index in the meter list
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("bars");
    QTest::newRow("4/4, 100 up to 110 by 5 every bar") << 1 << 100 << 110 << 5 << 1;
    QTest::newRow("4/4, 80 up to 120 by 4 every 4 bars") << 1 << 80 << 120 << 4 << 4;
    QTest::newRow("None, 60 up to 208 by 50 every 3 bars") << 0 << 60 << 208 << 50 << 3;
    QTest::newRow("3/4, 120 down to 90 by 7 every 2 bars") << 2 << 120 << 90 << 7 << 2;
}

void TestScenario::trainerSessions()
{
    QFETCH(int, meter);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(int, step);
    QFETCH(int, bars);
    TempSettings settings;
    BeatHarness h;
    frmMain &w = h.window();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const QString pattern = QStringList{"1", "2111", "211"}.at(meter);

    // The tempo of every bar from the trainer's start, and when the session is over.
    std::vector<int> barTempo;
    std::uint32_t length = 0;
    for (int tempo = start, bar = 0; bar < 200; ++bar) {
        if (bar > 0 && bar % bars == 0 && tempo != end)
            tempo = end > start ? std::min(tempo + step, end) : std::max(tempo - step, end);
        barTempo.push_back(tempo);
        length += static_cast<std::uint32_t>(pattern.size() * (60000 / tempo));
        if (tempo == end && bar % bars == bars - 1 && barTempo.size() > std::size_t(bars) + 2)
            break;
    }
    QStringList menuWhileRunning;
    h.clock.at(100, [&w, meter] { chooseMeter(w, meter); });
    h.clock.at(1000, [&w, start, end, step, bars] { startTrainer(w, start, end, step, bars); });
    h.clock.at(1001, [&w, &menuWhileRunning] { menuWhileRunning << w.actSpeedTrainer->text(); });
    h.clock.at(1000 + length, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);

    const std::vector<std::uint32_t> beats = beatTimes(h, 1000);
    QCOMPARE(beats.size(), barTempo.size() * std::size_t(pattern.size()));
    QCOMPARE(beats.front(), 1000u); // the first bar starts at once
    for (std::size_t j = 0; j + 1 < beats.size(); ++j) {
        const int tempo = barTempo[j / std::size_t(pattern.size())];
        const std::uint32_t period = static_cast<std::uint32_t>(60000 / tempo) + (j == 0 ? 1 : 0);
        QVERIFY2(beats[j + 1] - beats[j] == period, qPrintable(QStringLiteral("beat %1 at %2: next after %3 ms, not %4")
                                                                   .arg(j)
                                                                   .arg(beats[j])
                                                                   .arg(beats[j + 1] - beats[j])
                                                                   .arg(period)));
    }
    QCOMPARE(w.m_intBpm, std::int16_t(end));
    QCOMPARE(w.Text1->text(), QString::number(end));
    QCOMPARE(menuWhileRunning, QStringList{"Stop speed trainer"});
    QCOMPARE(w.actSpeedTrainer->text(), QStringLiteral("Speed trainer...")); // over at the end tempo
    QSettings store(settings.fileName(), QSettings::IniFormat);
    QCOMPARE(store.childGroups(), QStringList{"Trainer"});
    for (const auto &[key, value] : {std::pair{"Start", start}, {"End", end}, {"Step", step}, {"Bars", bars}})
        QCOMPARE(store.value(QStringLiteral("Trainer/") + key).toString(), QString::number(value));
}

void TestScenario::handSetTempoStopsTheTrainer()
{
    TempSettings settings;
    BeatHarness h;
    frmMain &w = h.window();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QStringList menu;
    auto readMenu = [&w, &menu] { menu << w.actSpeedTrainer->text(); };
    // Meter "None": a bar is one beat, so 80, 90, 100 ... at every beat.
    h.clock.at(1000, [&w] { startTrainer(w, 80, 200, 10, 1); });
    h.clock.at(2000, readMenu); // beats at 1000 (80), 1750 (90)
    h.clock.at(2100, [&w] {
        w.Text1->selectAll();
        QTest::keyClicks(w.Text1, QStringLiteral("150"));
        QTest::keyClick(w.Text1, Qt::Key_Return);
    });
    h.clock.at(2101, readMenu);
    h.clock.at(4000, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    // 1000 at 80, 1751 at 90; 150 typed at 2100 holds: 400 ms from 1750 on, where the
    // trainer would have gone on to 100 (600 ms) at 2151.
    const std::vector<std::uint32_t> expected{1000, 1751, 2151, 2551, 2951, 3351, 3751};
    QCOMPARE(beatTimes(h, 1000), expected);
    QCOMPARE(menu, (QStringList{"Stop speed trainer", "Speed trainer..."}));
    QCOMPARE(w.m_intBpm, std::int16_t(150));
}

void TestScenario::barCutShortIsNoBar()
{
    TempSettings settings;
    BeatHarness h;
    frmMain &w = h.window();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    h.clock.at(100, [&w] { chooseMeter(w, 1); }); // 4/4
    h.clock.at(1000, [&w] { startTrainer(w, 100, 120, 10, 1); });
    h.clock.at(2000, [&w] { chooseMeter(w, 3); });                       // 2/4 after two beats of the first bar
    h.clock.at(4000, [&w] { QTest::keyClick(w.Text1, Qt::Key_Space); }); // stop in mid-bar
    h.clock.at(4100, [&w] { QTest::keyClick(w.Text1, Qt::Key_Space); });
    h.clock.at(6000, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    // 100 bpm: 1000, 1601 (4/4), then 2/4 from 2201: 2201, 2801 is the first whole bar;
    // 110 from 3401 (3401, 3946); stopped at 4000, and from 4100 the bar starts afresh at
    // 110 (4100, 4646); 120 from 5191.
    const std::vector<std::uint32_t> expected{1000, 1601, 2201, 2801, 3401, 3946, 4100, 4646, 5191, 5691};
    QCOMPARE(beatTimes(h, 1000), expected);
}

namespace {

// The note-ons from `from` on: the time each was meant for and its note.
std::vector<std::pair<std::uint32_t, int>> notesMeant(const BeatHarness &h, std::uint32_t from)
{
    std::vector<std::pair<std::uint32_t, int>> notes;
    for (const auto &m : h.messages()) {
        if (m.data2() != 0 && m.atMs >= from)
            notes.emplace_back(m.atMs, m.data1());
    }
    return notes;
}

// The notes of whole bars of `pattern` from `from` every `period` ms: `note` for every
// sounding place ("2" `strong` in place of `note` when it is 0), none for a silent one.
void addBars(std::vector<std::pair<std::uint32_t, int>> &notes, std::uint32_t &from, std::uint32_t period,
             const QString &pattern, int bars, int note)
{
    for (int beat = 0; beat < bars * pattern.size(); ++beat, from += period) {
        const QChar place = pattern.at(beat % pattern.size());
        if (place == u'2' || place == u'1')
            notes.emplace_back(from, note != 0 ? note : (place == u'2' ? 61 : 60));
    }
}

} // namespace

void TestScenario::countIn_data()
{
    QTest::addColumn<int>("meter"); // index in the meter list; 4 for the custom pattern "2101"
    QTest::addColumn<int>("multiplier");
    QTest::addColumn<int>("bars");
    QTest::newRow("4/4, one bar") << 1 << 1 << 1;
    QTest::newRow("3/4, two bars") << 2 << 1 << 2;
    QTest::newRow("None, four bars") << 0 << 1 << 4;
    QTest::newRow("2/4 at x4, three bars") << 3 << 4 << 3;
    QTest::newRow("2101 at x2, one bar") << 4 << 2 << 1;
    QTest::newRow("4/4, none") << 1 << 1 << 0;
}

void TestScenario::countIn()
{
    QFETCH(int, meter);
    QFETCH(int, multiplier);
    QFETCH(int, bars);
    TempSettings settings;
    BeatHarness h;
    frmMain &w = h.window();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    const QString pattern = QStringList{"1", "2111", "211", "21", "2101"}.at(meter);
    h.clock.at(100, [&w, meter, multiplier, bars] {
        if (meter == 4) {
            onNextDialog<frmCustomMeter>([](frmCustomMeter *custom) {
                custom->txtMeter->setText(QStringLiteral("2101"));
                custom->cmdOK->click();
            });
        }
        chooseMeter(w, meter);
        for (int m = 1; m < multiplier; m *= 2)
            click(w.imgDouble);
        QTest::keyClick(w.Text1, Qt::Key(Qt::Key_0 + bars), Qt::ControlModifier);
        QTest::keyClick(w.Text1, Qt::Key_Space); // stop
    });
    h.clock.at(1000, [&w] { QTest::keyClick(w.Text1, Qt::Key_Space); }); // start: counted in
    h.clock.at(9000, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);

    const std::uint32_t period = 500 / static_cast<std::uint32_t>(multiplier);
    std::vector<std::pair<std::uint32_t, int>> expected;
    std::uint32_t t = 1000;
    addBars(expected, t, period, pattern, bars, 37); // side stick
    addBars(expected, t, period, pattern, static_cast<int>(9000 / period / pattern.size()), 0);
    expected.erase(std::find_if(expected.begin(), expected.end(), [](const auto &note) { return note.first >= 9000; }),
                   expected.end()); // the window closed at 9000
    QCOMPARE(notesMeant(h, 1000), expected);
    // The count-in's notes sound at the strong velocity and are released.
    int releases = 0;
    for (const auto &m : h.messages()) {
        if (m.data1() == 37 && m.data2() != 0)
            QCOMPARE(int(m.data2()), 80);
        releases += m.data1() == 37 && m.data2() == 0;
    }
    QCOMPARE(releases > 0, bars > 0);
}

void TestScenario::trainerCountsIn()
{
    TempSettings settings;
    BeatHarness h;
    frmMain &w = h.window();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    h.clock.at(100, [&w] { chooseMeter(w, 1); }); // 4/4
    h.clock.at(1000, [&w] {
        onNextDialog<frmSpeedTrainer>([](frmSpeedTrainer *trainer) {
            QCOMPARE(trainer->txtCountIn->value(), 0);
            trainer->txtStart->setValue(100);
            trainer->txtEnd->setValue(110);
            trainer->txtStep->setValue(5);
            trainer->txtBars->setValue(1);
            trainer->txtCountIn->selectAll();
            QTest::keyClicks(trainer->txtCountIn, QStringLiteral("1"));
            trainer->cmdStart->click();
        });
        QTest::keyClick(w.Text1, Qt::Key_T, Qt::ControlModifier);
    });
    h.clock.at(6500, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    // A bar of side stick at 100, the first bar at 100, then 105 from the second bar on.
    std::vector<std::pair<std::uint32_t, int>> expected;
    std::uint32_t t = 1000;
    addBars(expected, t, 600, "2111", 1, 37);
    addBars(expected, t, 600, "2111", 1, 0);
    addBars(expected, t, 571, "2", 1, 0);
    expected.emplace_back(t, 60);
    QCOMPARE(notesMeant(h, 1000), expected);
    QCOMPARE(w.countInBars(), 1);
}

void TestScenario::gapTrainerBars()
{
    TempSettings settings;
    for (const auto &[key, value] : {std::pair{"Random", "0"}, {"Play", "1"}, {"Mute", "2"}})
        QSettings(settings.fileName(), QSettings::IniFormat).setValue(QStringLiteral("GapTrainer/") + key, value);
    BeatHarness h;
    frmMain &w = h.window();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QList<int> litInGaps;
    h.clock.at(100, [&w] {
        chooseMeter(w, 3); // 2/4
        QTest::keyClick(w.Text1, Qt::Key_1, Qt::ControlModifier);
    });
    h.clock.at(1000, [&w] {
        onNextDialog<frmGapTrainer>([](frmGapTrainer *gap) { gap->cmdStart->click(); });
        QTest::keyClick(w.Text1, Qt::Key_G, Qt::ControlModifier);
    });
    // A gap: bars 2 and 3 after the count-in, 3000..5000 ms.
    for (std::uint32_t at = 3100; at < 5000; at += 500)
        h.clock.at(at, [&w, &litInGaps] { litInGaps << litLamps(w); });
    h.clock.at(7950, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);

    std::vector<std::pair<std::uint32_t, int>> expected;
    std::uint32_t t = 1000;
    addBars(expected, t, 500, "21", 1, 37); // the count-in: never muted
    for (int bar = 0; bar < 6; ++bar, t += 1000) {
        std::uint32_t from = t;
        if (bar % 3 == 0) // one bar played, two muted
            addBars(expected, from, 500, "21", 1, 0);
    }
    QCOMPARE(notesMeant(h, 1000), expected);
    QCOMPARE(litInGaps, (QList<int>{1, 1, 1, 1}));
    QCOMPARE(w.actGapTrainer->text(), QStringLiteral("Stop gap trainer"));
    QSettings store(settings.fileName(), QSettings::IniFormat);
    QCOMPARE(store.value(QStringLiteral("GapTrainer/Mute")).toString(), QStringLiteral("2"));
}

void TestScenario::songSteps()
{
    TempSettings settings;
    QVERIFY(pulsewerk::writeSongs({{"Ballad", 60, "3/4", 1, 0}, {"Shuffle", 150, "2.1", 2, 1}}));
    BeatHarness h;
    frmMain &w = h.window();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QStringList shown;
    auto look = [&w, &shown] {
        shown << QStringLiteral("%1 %2 x%3").arg(w.Text1->text(), w.cboMeter->currentText(), w.imgDouble->Tag());
    };
    h.clock.at(1200, [&w] { QTest::keyClick(w.Text1, Qt::Key_PageDown); });
    h.clock.at(1201, look);
    h.clock.at(3000, [&w] { QTest::keyClick(w.cboMeter, Qt::Key_PageDown); });
    h.clock.at(3001, look);
    h.clock.at(5000, [&w] { QTest::keyClick(w.Text1, Qt::Key_PageDown); }); // the last: stays
    h.clock.at(5200, [&w] { QTest::keyClick(w.Text1, Qt::Key_PageUp); });
    h.clock.at(5201, look);
    h.clock.at(6500, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);

    // 120 in None: 500, 1000. Ballad at 1200: 60 in 3/4 from its downbeat at once.
    // Shuffle at 3000: a bar of side stick on "2.1" every 200 ms (150 at x2), then its
    // beat. Ballad again at 5200.
    const std::vector<std::pair<std::uint32_t, int>> expected{
        {500, 60},  {1000, 60}, {1200, 61}, {2200, 60}, {3000, 37}, {3400, 37}, {3600, 61},
        {4000, 60}, {4200, 61}, {4600, 60}, {4800, 61}, {5200, 61}, {6200, 60}};
    QCOMPARE(notesMeant(h, 0), expected);
    QCOMPARE(shown, (QStringList{"60 3/4 x1", "150 Custom ... x2", "60 3/4 x1"}));
}

QTEST_MAIN(TestScenario)
#include "tst_scenario.moc"
