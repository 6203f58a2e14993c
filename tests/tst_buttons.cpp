// SPDX-License-Identifier: GPL-3.0-or-later
// The five picture buttons of the main window: their pressed and released looks,
// their actions, double clicks, and the keys that click them.
#include "ModalDriver.h"
#include "TestSupport.h"

#include "dialogs/frmAbout.h"
#include "dialogs/frmOptions.h"
#include "engine/mdlMain.h"

#include <QApplication>
#include <QFile>
#include <QTest>
#include <QTimer>

using Access = frmMainTestAccess;

namespace {

QPoint centre(QWidget *w) { return w->rect().center(); }

// Closes every modal dialog as soon as it shows, counting the showings; `act` runs
// on the dialog first.
class DialogCloser {
public:
    explicit DialogCloser(std::function<void(QWidget *)> act = {}) : m_act(std::move(act))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            QWidget *modal = QApplication::activeModalWidget();
            if (!modal || !modal->isVisible())
                return;
            ++showings;
            dialogs.push_back(modal);
            if (m_act)
                m_act(modal);
            if (modal->isVisible())
                static_cast<QDialog *>(modal)->reject();
        });
        m_timer.start(0);
    }
    int showings = 0;
    std::vector<QWidget *> dialogs;

private:
    std::function<void(QWidget *)> m_act;
    QTimer m_timer;
};

// A quick double click through the window, as the windowing system delivers it:
// press, release, double-click, release.
void doubleClick(frmMain &w, QWidget *target)
{
    QTest::mouseDClick(w.windowHandle(), Qt::LeftButton, {}, target->mapTo(&w, centre(target)));
}

// What a click or a key did, seen from outside: the button's picture after each
// press, release and click it raised, its tag, the MIDI sent, the settings written,
// the dialogs shown, the quit flag and the tempo box.
struct Outcome {
    QStringList pictures;
    QString tag;
    std::vector<std::uint32_t> midi;
    QByteArray settings;
    int dialogs = 0;
    bool quit = false;
    QString tempoText;
};

// Runs `act` on a fresh main window whose 4/4 strong beat is sounding, with the tempo
// box (or the meter list) holding the focus; an options dialog that opens gets channel 3
// and OK, any other dialog is closed.
Outcome runOn(const TempSettings &settings, const QString &button, bool focusOnMeter,
              const std::function<void(frmMain &, pulsewerk::PictureBox *)> &act)
{
    settings.clear();
    Outcome out;
    BeatHarness h;
    frmMain &w = h.window();
    w.activateWindow();
    if (!QTest::qWaitForWindowActive(&w))
        return out;
    h.openOutput();
    w.cboMeter->setCurrentIndex(1);
    emit w.cboMeter->activated(1);
    w.OnBeat();
    h.midi.messages.clear();
    if (focusOnMeter)
        w.cboMeter->setFocus(Qt::TabFocusReason);
    auto *target = w.findChild<pulsewerk::PictureBox *>(button);
    for (auto signal :
         {&pulsewerk::PictureBox::MouseDown, &pulsewerk::PictureBox::MouseUp, &pulsewerk::PictureBox::Click})
        QObject::connect(target, signal, [&out, target] { out.pictures << target->Picture(); });
    DialogCloser closer([](QWidget *dialog) {
        if (auto *options = qobject_cast<frmOptions *>(dialog)) {
            options->txtChannel->setText(QStringLiteral("3"));
            options->cmdOK->click();
        }
    });
    act(w, target);
    out.tag = target->Tag();
    for (const auto &m : h.midi.messages)
        out.midi.push_back(m.message);
    TempSettings::waitForSaves();
    QFile stored(settings.fileName());
    if (stored.open(QIODevice::ReadOnly))
        out.settings = stored.readAll();
    out.dialogs = closer.showings;
    out.quit = mdlMain::g_blnQuit;
    out.tempoText = w.Text1->text();
    return out;
}

} // namespace

class TestButtons : public QObject {
    Q_OBJECT

private slots:
    void init();
    // The multiplier cycles 1, 2, 4, 1 with its pictures; the tempo display never changes.
    void multiplierCycle();
    // The multiplier changes the beat period the loop uses at once.
    void multiplierPeriods();
    // A press released off the button shows the released look and does nothing.
    void pressMovedOffDoesNothing();
    // A double click advances the multiplier once, and its second press shows no picture.
    void doubleClickOnMultiplier();
    // Muting releases the sounding beat at once and latches the button down.
    void muteReleasesAndLatches();
    // Unmuting shows the button up and the next beat sounds.
    void unmuteSoundsAgain();
    // Options with Cancel leaves the window's values; reopening shows them again.
    void optionsCancel();
    // Options with OK: the next beat uses the new channel, notes and velocities.
    void optionsOk();
    // A double click on the options or about button opens one dialog, not two.
    void doubleClickOpensOneDialog_data();
    void doubleClickOpensOneDialog();
    // Each about click shows a fresh dialog.
    void aboutIsFreshEachTime();
    // Pressed and released looks of the three plain buttons.
    void plainButtonLooks_data();
    void plainButtonLooks();
    // Exit unloads the window like its close box: quit flag, nothing written, no question.
    void exitEndsTheProgram();
    // Each shortcut does what its clicks do, pictures, MIDI, settings and dialogs alike,
    // wherever the focus is, and types nothing into the tempo box.
    void shortcutsClick_data();
    void shortcutsClick();
    // No shortcut of the main window fires while a dialog is open.
    void shortcutsSilentInDialogs_data();
    void shortcutsSilentInDialogs();

private:
    TempSettings m_settings;
};

void TestButtons::init() { m_settings.clear(); }

void TestButtons::multiplierCycle()
{
    BeatHarness h;
    frmMain &w = h.window();
    QCOMPARE(w.imgDouble->Picture(), QStringLiteral("X1_U"));
    const QStringList tags{"2", "4", "1"};
    const QStringList pictures{"X2_U", "X4_U", "X1_U"};
    for (int i = 0; i < 3; ++i) {
        QTest::mouseClick(w.imgDouble, Qt::LeftButton, {}, centre(w.imgDouble));
        QCOMPARE(w.imgDouble->Tag(), tags[i]);
        QCOMPARE(w.imgDouble->Picture(), pictures[i]);
        QCOMPARE(w.imgDouble->size(), QSize(30, 31));
        QCOMPARE(w.Text1->text(), QStringLiteral("120"));
        QCOMPARE(w.m_intBpm, std::int16_t(120));
        QVERIFY(w.lblTempo[5]->font().bold());
    }
}

void TestButtons::multiplierPeriods()
{
    BeatHarness h;
    frmMain &w = h.window();
    // Clicks between beats: x2 after the first beat, x4 after two more, back to x1.
    h.clock.at(600, [&w] { QTest::mouseClick(w.imgDouble, Qt::LeftButton, {}, centre(w.imgDouble)); });
    h.clock.at(1100, [&w] { QTest::mouseClick(w.imgDouble, Qt::LeftButton, {}, centre(w.imgDouble)); });
    h.clock.at(1400, [&w] { QTest::mouseClick(w.imgDouble, Qt::LeftButton, {}, centre(w.imgDouble)); });
    h.clock.at(2600, [&w] { w.close(); });
    QCOMPARE(h.runLoop(), 1);
    std::vector<std::uint32_t> beats;
    for (const auto &m : h.messages()) {
        if (m.data2() != 0)
            beats.push_back(m.timeMs);
    }
    // x1: 501; x2 (250): 751, 1001; x4 (125): 1126, 1251, 1376; x1 (500): 1876, 2376.
    const std::vector<std::uint32_t> expected{501, 751, 1001, 1126, 1251, 1376, 1876, 2376};
    QCOMPARE(beats, expected);
    QCOMPARE(w.Text1->text(), QStringLiteral("120"));
}

void TestButtons::pressMovedOffDoesNothing()
{
    BeatHarness h;
    frmMain &w = h.window();
    QTest::mouseClick(w.imgDouble, Qt::LeftButton, {}, centre(w.imgDouble)); // to x2
    QTest::mousePress(w.imgDouble, Qt::LeftButton, {}, centre(w.imgDouble));
    QCOMPARE(w.imgDouble->Picture(), QStringLiteral("X2_D"));
    QTest::mouseRelease(w.imgDouble, Qt::LeftButton, {}, QPoint(60, 60)); // let go beside it
    QCOMPARE(w.imgDouble->Picture(), QStringLiteral("X2_U"));
    QCOMPARE(w.imgDouble->Tag(), QStringLiteral("2"));
}

void TestButtons::doubleClickOnMultiplier()
{
    BeatHarness h;
    frmMain &w = h.window();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    doubleClick(w, w.imgDouble);
    QCOMPARE(w.imgDouble->Tag(), QStringLiteral("2"));
    QCOMPARE(w.imgDouble->Picture(), QStringLiteral("X2_U"));
    doubleClick(w, w.imgMute);
    QCOMPARE(w.imgMute->Tag(), QStringLiteral("1"));
    QCOMPARE(w.imgMute->Picture(), QStringLiteral("MUTE_U")); // the release after the double click
}

void TestButtons::muteReleasesAndLatches()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    w.cboMeter->setCurrentIndex(1);
    emit w.cboMeter->activated(1); // 4/4
    w.OnBeat();                    // the strong beat sounds
    h.midi.messages.clear();
    QTest::mousePress(w.imgMute, Qt::LeftButton, {}, centre(w.imgMute));
    QCOMPARE(w.imgMute->Picture(), QStringLiteral("MUTE_D"));
    QTest::mouseRelease(w.imgMute, Qt::LeftButton, {}, centre(w.imgMute));
    QCOMPARE(w.imgMute->Tag(), QStringLiteral("1"));
    QCOMPARE(w.imgMute->Picture(), QStringLiteral("MUTE_D"));
    QCOMPARE(w.imgLed[0]->Picture(), QStringLiteral("LED_ROFF"));
    QCOMPARE(h.midi.messages.size(), std::size_t(1));
    QCOMPARE(h.midi.messages[0].message, NoteOn(9, 61, 0));
    w.OnBeat(); // later beats light their lamps and send nothing
    QCOMPARE(w.imgLed[1]->Picture(), QStringLiteral("LED_GON"));
    QCOMPARE(h.midi.messages.size(), std::size_t(1));
}

void TestButtons::unmuteSoundsAgain()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    QTest::mouseClick(w.imgMute, Qt::LeftButton, {}, centre(w.imgMute));
    h.midi.messages.clear();
    QTest::mouseClick(w.imgMute, Qt::LeftButton, {}, centre(w.imgMute));
    QCOMPARE(w.imgMute->Tag(), QStringLiteral("0"));
    QCOMPARE(w.imgMute->Picture(), QStringLiteral("MUTE_U"));
    QVERIFY(h.midi.messages.empty()); // unmuting sounds nothing by itself
    w.OnBeat();
    QCOMPARE(h.midi.messages.size(), std::size_t(1));
    QCOMPARE(h.midi.messages[0].message, NoteOn(9, 60, 50));
}

void TestButtons::optionsCancel()
{
    BeatHarness h;
    frmMain &w = h.window();
    QStringList shown;
    DialogCloser closer([&shown](QWidget *dialog) {
        auto *options = qobject_cast<frmOptions *>(dialog);
        QVERIFY(options);
        shown << options->txtChannel->text() << options->txtStrong->text();
        options->txtChannel->setText(QStringLiteral("3"));
        options->txtStrong->setText(QStringLiteral("99"));
        QTest::keyClick(options->txtStrong, Qt::Key_Up); // changes the dialog's field
        options->cmdCancel->click();
    });
    QTest::mouseClick(w.imgOptions, Qt::LeftButton, {}, centre(w.imgOptions));
    QTest::mouseClick(w.imgOptions, Qt::LeftButton, {}, centre(w.imgOptions));
    QCOMPARE(closer.showings, 2);
    QCOMPARE(shown, (QStringList{"10", "61", "10", "61"})); // the window's values each time
    QCOMPARE(Access::channel(w), std::int16_t(10));
    QCOMPARE(Access::strongNote(w), std::int16_t(61));
    QVERIFY(!QFile::exists(m_settings.fileName()));
    QCOMPARE(w.imgOptions->Picture(), QStringLiteral("OPTIONS_U"));
}

void TestButtons::optionsOk()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    DialogCloser closer([](QWidget *dialog) {
        auto *options = qobject_cast<frmOptions *>(dialog);
        QVERIFY(options);
        options->txtChannel->setText(QStringLiteral("1"));
        options->txtStrong->setText(QStringLiteral("70"));
        options->txtStrongVelocity->setText(QStringLiteral("100"));
        options->txtWeak->setText(QStringLiteral("72"));
        options->txtWeakVelocity->setText(QStringLiteral("30"));
        options->cmdOK->click();
    });
    QTest::mouseClick(w.imgOptions, Qt::LeftButton, {}, centre(w.imgOptions));
    QCOMPARE(closer.showings, 1);
    w.cboMeter->setCurrentIndex(3);
    emit w.cboMeter->activated(3); // 2/4
    w.OnBeat();
    w.OnBeatOff();
    w.OnBeat();
    const std::vector<std::uint32_t> expected{NoteOn(0, 70, 100), NoteOn(0, 70, 0), NoteOn(0, 72, 30)};
    std::vector<std::uint32_t> sent;
    for (const auto &m : h.midi.messages)
        sent.push_back(m.message);
    QCOMPARE(sent, expected);
}

void TestButtons::doubleClickOpensOneDialog_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("pressed");
    QTest::newRow("options") << "imgOptions"
                             << "OPTIONS_D";
    QTest::newRow("about") << "imgAbout"
                           << "ABOUT_D";
}

void TestButtons::doubleClickOpensOneDialog()
{
    QFETCH(QString, button);
    QFETCH(QString, pressed);
    BeatHarness h;
    frmMain &w = h.window();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    auto *target = w.findChild<pulsewerk::PictureBox *>(button);
    QVERIFY(target);
    DialogCloser closer;
    doubleClick(w, target);
    QCOMPARE(closer.showings, 1);
    QCOMPARE(target->Picture(), pressed.left(pressed.size() - 2) + QStringLiteral("_U"));
    // The second press of a double click alone: the pressed look, and no action on release.
    QTest::mouseDClick(target, Qt::LeftButton, {}, centre(target));
    QCOMPARE(target->Picture(), pressed);
    QTest::mouseRelease(target, Qt::LeftButton, {}, centre(target));
    QCOMPARE(closer.showings, 1);
}

void TestButtons::aboutIsFreshEachTime()
{
    BeatHarness h;
    frmMain &w = h.window();
    QStringList marks;
    DialogCloser closer([&marks](QWidget *dialog) {
        QVERIFY(qobject_cast<frmAbout *>(dialog));
        marks << dialog->property("seen").toString();
        dialog->setProperty("seen", QStringLiteral("yes"));
    });
    QTest::mouseClick(w.imgAbout, Qt::LeftButton, {}, centre(w.imgAbout));
    QTest::mouseClick(w.imgAbout, Qt::LeftButton, {}, centre(w.imgAbout));
    QCOMPARE(closer.showings, 2);
    QCOMPARE(marks, (QStringList{QString(), QString()})); // the second dialog never saw the first's mark
}

void TestButtons::plainButtonLooks_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("up");
    QTest::addColumn<QString>("down");
    QTest::addColumn<QSize>("size");
    QTest::newRow("options") << "imgOptions"
                             << "OPTIONS_U"
                             << "OPTIONS_D" << QSize(64, 28);
    QTest::newRow("about") << "imgAbout"
                           << "ABOUT_U"
                           << "ABOUT_D" << QSize(24, 24);
    QTest::newRow("exit") << "imgExit"
                          << "EXIT_U"
                          << "EXIT_D" << QSize(56, 28);
}

void TestButtons::plainButtonLooks()
{
    QFETCH(QString, button);
    QFETCH(QString, up);
    QFETCH(QString, down);
    QFETCH(QSize, size);
    BeatHarness h;
    frmMain &w = h.window();
    auto *target = w.findChild<pulsewerk::PictureBox *>(button);
    QVERIFY(target);
    QCOMPARE(target->Picture(), up);
    QTest::mousePress(target, Qt::LeftButton, {}, centre(target));
    QCOMPARE(target->Picture(), down);
    QCOMPARE(target->size(), size);
    QTest::mouseRelease(target, Qt::LeftButton, {}, QPoint(-5, -5)); // off the button: no action
    QCOMPARE(target->Picture(), up);
    QVERIFY(!mdlMain::g_blnQuit);
    QVERIFY(!QApplication::activeModalWidget());
}

void TestButtons::exitEndsTheProgram()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.clock.at(700, [&w] { QTest::mouseClick(w.imgExit, Qt::LeftButton, {}, centre(w.imgExit)); });
    QCOMPARE(h.runLoop(), 1);
    QVERIFY(mdlMain::g_blnQuit);
    QVERIFY(!w.isVisible());
    QCOMPARE(h.midi.opens, 1);
    QCOMPARE(h.midi.closes, 1);
    for (const auto &m : h.messages())
        QVERIFY(m.timeMs <= 700);
    QVERIFY(!QFile::exists(m_settings.fileName()));
}

void TestButtons::shortcutsClick_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("clicks"); // the mouse clicks the keys stand for
    QTest::addColumn<QKeyCombination>("keys");
    QTest::addColumn<bool>("focusOnMeter");
    QTest::addColumn<QString>("tag"); // the button's tag afterwards
    QTest::newRow("* in the tempo box") << "imgDouble" << 1 << QKeyCombination(Qt::Key_Asterisk) << false << "2";
    QTest::newRow("* on the meter list") << "imgDouble" << 1 << QKeyCombination(Qt::Key_Asterisk) << true << "2";
    QTest::newRow("keypad *") << "imgDouble" << 1 << QKeyCombination(Qt::KeypadModifier | Qt::Key_Asterisk) << false
                              << "2";
    QTest::newRow("Alt+1 at x1") << "imgDouble" << 0 << QKeyCombination(Qt::ALT | Qt::Key_1) << false << "1";
    QTest::newRow("Alt+2") << "imgDouble" << 1 << QKeyCombination(Qt::ALT | Qt::Key_2) << false << "2";
    QTest::newRow("Alt+4") << "imgDouble" << 2 << QKeyCombination(Qt::ALT | Qt::Key_4) << true << "4";
    QTest::newRow("Alt+M") << "imgMute" << 1 << QKeyCombination(Qt::ALT | Qt::Key_M) << false << "1";
    QTest::newRow("Alt+M on the meter list") << "imgMute" << 1 << QKeyCombination(Qt::ALT | Qt::Key_M) << true << "1";
    QTest::newRow("Alt+O") << "imgOptions" << 1 << QKeyCombination(Qt::ALT | Qt::Key_O) << false << "";
    QTest::newRow("F1") << "imgAbout" << 1 << QKeyCombination(Qt::Key_F1) << false << "";
    QTest::newRow("F1 on the meter list") << "imgAbout" << 1 << QKeyCombination(Qt::Key_F1) << true << "";
    QTest::newRow("Alt+X") << "imgExit" << 1 << QKeyCombination(Qt::ALT | Qt::Key_X) << false << "";
    QTest::newRow("Ctrl+Q") << "imgExit" << 1 << QKeyCombination(Qt::CTRL | Qt::Key_Q) << true << "";
    QTest::newRow("Escape presses nothing") << "imgExit" << 0 << QKeyCombination(Qt::Key_Escape) << false << "";
}

void TestButtons::shortcutsClick()
{
    QFETCH(QString, button);
    QFETCH(int, clicks);
    QFETCH(QKeyCombination, keys);
    QFETCH(bool, focusOnMeter);
    QFETCH(QString, tag);
    const Outcome clicked = runOn(m_settings, button, focusOnMeter, [clicks](frmMain &, pulsewerk::PictureBox *target) {
        for (int i = 0; i < clicks; ++i)
            QTest::mouseClick(target, Qt::LeftButton, {}, centre(target));
    });
    const Outcome keyed = runOn(m_settings, button, focusOnMeter, [keys](frmMain &w, pulsewerk::PictureBox *) {
        QTest::keyClick(w.windowHandle(), keys.key(), keys.keyboardModifiers());
    });
    QCOMPARE(keyed.pictures.size(), 3 * clicks);
    QCOMPARE(keyed.pictures, clicked.pictures);
    QCOMPARE(keyed.tag, tag);
    QCOMPARE(keyed.tag, clicked.tag);
    QCOMPARE(keyed.midi, clicked.midi);
    QCOMPARE(keyed.settings, clicked.settings);
    QCOMPARE(keyed.dialogs, clicked.dialogs);
    QCOMPARE(keyed.quit, clicked.quit);
    QCOMPARE(keyed.tempoText, QStringLiteral("120")); // nothing typed into the box
}

void TestButtons::shortcutsSilentInDialogs_data()
{
    QTest::addColumn<QString>("dialog");
    QTest::newRow("options") << "options";
    QTest::newRow("custom meter") << "custom";
    QTest::newRow("about") << "about";
}

void TestButtons::shortcutsSilentInDialogs()
{
    QFETCH(QString, dialog);
    BeatHarness h;
    frmMain &w = h.window();
    QList<QKeyCombination> keys{Qt::ALT | Qt::Key_X, Qt::CTRL | Qt::Key_Q,        Qt::ALT | Qt::Key_M,
                                Qt::ALT | Qt::Key_2, QKeyCombination(Qt::Key_F1), QKeyCombination(Qt::Key_Asterisk)};
    if (dialog == QLatin1String("about"))
        keys << (Qt::ALT | Qt::Key_O); // in the other two it is their OK
    int nested = 0;
    const bool open = whileModal(
        [&] {
            if (dialog == QLatin1String("options"))
                QTest::mouseClick(w.imgOptions, Qt::LeftButton, {}, centre(w.imgOptions));
            else if (dialog == QLatin1String("about"))
                QTest::mouseClick(w.imgAbout, Qt::LeftButton, {}, centre(w.imgAbout));
            else {
                w.cboMeter->setCurrentIndex(4);
                emit w.cboMeter->activated(4);
            }
        },
        [&](QDialog &d) {
            for (const QKeyCombination each : keys) {
                QTest::keyClick(d.windowHandle(), each.key(), each.keyboardModifiers());
                nested += QApplication::activeModalWidget() != &d;
            }
        });
    QVERIFY(open);
    QCOMPARE(nested, 0);
    QVERIFY(!mdlMain::g_blnQuit);
    QCOMPARE(w.imgDouble->Tag(), QStringLiteral("1"));
    QCOMPARE(w.imgMute->Tag(), QStringLiteral("0"));
}

QTEST_MAIN(TestButtons)
#include "tst_buttons.moc"
