// A whole session on a fake clock, as a musician would play it: the exact MIDI
// messages and their times, and the lamps, from start to exit.
#include "TestSupport.h"

#include "dialogs/frmAbout.h"
#include "dialogs/frmCustomMeter.h"
#include "dialogs/frmOptions.h"
#include "engine/mdlMain.h"

#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>

namespace {

void click(PictureBox *button) { QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center()); }

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
    for (PictureBox *lamp : w.imgLed)
        lit += lamp->isVisible() && lamp->Picture().endsWith(QStringLiteral("ON"));
    return lit;
}

} // namespace

class TestScenario : public QObject {
    Q_OBJECT

private slots:
    // Tempo by keys, 3/4, x2, mute, options, a custom meter, a dialog held open, exit.
    void wholeSession();
};

void TestScenario::wholeSession()
{
    TempSettings settings;
    BeatHarness h;
    frmMain &w = h.window();
    QStringList lamps; // snapshots: the pictures of the shown lamps
    auto snapshot = [&w, &lamps] {
        QStringList shown;
        for (PictureBox *lamp : w.imgLed) {
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

QTEST_MAIN(TestScenario)
#include "tst_scenario.moc"
