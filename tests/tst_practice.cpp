// SPDX-License-Identifier: GPL-3.0-or-later
// The practice tools' controls: the speed trainer dialog and its stored values, the
// main window's context menu, and the tools' keys wherever the focus is.
#include "ModalDriver.h"
#include "TestSupport.h"

#include "dialogs/frmCustomMeter.h"
#include "dialogs/frmGapTrainer.h"
#include "dialogs/frmSetlist.h"
#include "dialogs/frmSpeedTrainer.h"
#include "mainwindow/BigBeat.h"
#include "mainwindow/GapTrainer.h"
#include "mainwindow/PracticeSettings.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QScreen>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {

// The four values the dialog shows.
QList<int> shownValues(const frmSpeedTrainer &d)
{
    return {d.txtStart->value(), d.txtEnd->value(), d.txtStep->value(), d.txtBars->value()};
}

QWidget *popup() { return QApplication::activePopupWidget(); }

// Rename pressed, `name` typed over the name in the list, and Enter.
void rename(frmSetlist &setlist, const QString &name)
{
    setlist.cmdRename->click();
    QLineEdit *editor = nullptr; // the one open now, not one closed before
    for (QLineEdit *each : setlist.lstSongs->viewport()->findChildren<QLineEdit *>())
        editor = each->isVisible() ? each : editor;
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(editor, name);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the edit is taken after the key
}

} // namespace

class TestPractice : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // A dialog that is not fixed, not in the others' font, or opens off the first box.
    void trainerDialogLayout();
    // A new dialog that is not fixed, not in the others' font, or has a caption cut off.
    void routineDialogsLayout();
    // Stored text taken as a value though it cannot serve, or a good value refused.
    void storedTrainerValues_data();
    void storedTrainerValues();
    // Cancel writing the store, Start not writing the four values or touching the sound
    // settings, a number still being typed not taken, or a showing not reading them back.
    void startStoresCancelDoesNot();

    // The menu missing on the background or the lamps, shown over a picture button or
    // instead of the tempo box's own, or listing the tools without their keys and names.
    void contextMenu();
    // Space or T edited into the tempo box, Space opening the meter list, or a tool
    // whose key does not reach it from every control.
    void keysReachTheTools();

    // A Link session joined (a network service started) with the menu item off or its
    // stored value unusable.
    void linkOffUnlessAsked();

    // A bar played that should be muted or the other way round, over 100 bars.
    void gapTrainerBars_data();
    void gapTrainerBars();
    // The random mute's share off its chance over 10,000 beats, a rise past 90 %, or a
    // beat before the first downbeat muted.
    void gapTrainerChance_data();
    void gapTrainerChance();
    // A setlist line taken that is not a song, a good one refused, a bad one reported
    // under the wrong number, or a list that does not come back from its own text.
    void setlistText_data();
    void setlistText();
    // The setlist dialog losing or garbling a song when adding, renaming, moving,
    // deleting or importing, or the songs not kept in groups of their own.
    void setlistDialog();
    // The big beat in the wrong colour or too small to read, at its default size and
    // full screen, not following the beat, or silent to a screen reader; F11 and Escape.
    void bigBeatWindow();

private:
    std::unique_ptr<TempSettings> m_settings;
    std::unique_ptr<frmMain> m_w;
};

void TestPractice::init()
{
    m_settings = std::make_unique<TempSettings>();
    m_w = std::make_unique<frmMain>();
    m_w->show();
    m_w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_w.get()));
}

void TestPractice::cleanup()
{
    m_w.reset();
    m_settings.reset();
}

void TestPractice::trainerDialogLayout()
{
    frmSpeedTrainer dialog(m_w.get());
    QWidget *focus = nullptr;
    QPoint centre;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   focus = d.focusWidget();
                   centre = d.screen()->availableGeometry().center() - d.frameGeometry().center();
               });
    QCOMPARE(focus, dialog.txtStart);
    QCOMPARE(centre, QPoint(0, 0));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Speed Trainer"));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QCOMPARE(dialog.font().family(), QStringLiteral("DejaVu Sans"));
    QCOMPARE(dialog.font().pointSize(), 7);
    QVERIFY(!(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    const QList<std::pair<QSpinBox *, QString>> boxes{{dialog.txtStart, "Start tempo 40..208"},
                                                      {dialog.txtEnd, "End tempo 40..208"},
                                                      {dialog.txtStep, "Step in beats per minute 1..50"},
                                                      {dialog.txtBars, "Every N bars 1..64"}};
    for (const auto &[box, expected] : boxes)
        QCOMPARE(QStringLiteral("%1 %2..%3").arg(box->accessibleName()).arg(box->minimum()).arg(box->maximum()),
                 expected);
    // Every caption fits its place.
    for (const QLabel *label : dialog.findChildren<QLabel *>())
        QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
}

void TestPractice::routineDialogsLayout()
{
    frmGapTrainer gap(m_w.get());
    frmSetlist setlist(m_w.get());
    for (QDialog *dialog : std::initializer_list<QDialog *>{&gap, &setlist}) {
        QCOMPARE(dialog->minimumSize(), dialog->maximumSize());
        QCOMPARE(dialog->font().family(), QStringLiteral("DejaVu Sans"));
        QCOMPARE(dialog->font().pointSize(), 7);
        for (const QLabel *label : dialog->findChildren<QLabel *>())
            QVERIFY2(label->sizeHint().width() <= label->width(), qPrintable(label->text()));
        for (const QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
            // A push button's hint has a least width of its own; its caption is what must fit.
            const int needed = qobject_cast<const QPushButton *>(button)
                                   ? button->fontMetrics().horizontalAdvance(QString(button->text()).remove(u'&')) + 8
                                   : button->sizeHint().width();
            QVERIFY2(needed <= button->width(), qPrintable(button->text()));
        }
    }
}

void TestPractice::storedTrainerValues_data()
{
    QTest::addColumn<QStringList>("stored"); // Start, End, Step, Bars; "-" for a missing key
    QTest::addColumn<QList<int>>("shown");
    QTest::newRow("empty store") << QStringList{"-", "-", "-", "-"} << QList<int>{80, 120, 4, 4};
    QTest::newRow("stored values") << QStringList{"150", "60", "10", "8"} << QList<int>{150, 60, 10, 8};
    QTest::newRow("range ends") << QStringList{"40", "208", "50", "64"} << QList<int>{40, 208, 50, 64};
    QTest::newRow("just outside") << QStringList{"39", "209", "51", "65"} << QList<int>{80, 120, 4, 4};
    QTest::newRow("zero step and bars") << QStringList{"100", "100", "0", "0"} << QList<int>{100, 100, 4, 4};
    QTest::newRow("not numbers") << QStringList{"fast", "", "4.5", "-2"} << QList<int>{80, 120, 4, 4};
    QTest::newRow("blanks and a line feed") << QStringList{" 90", "100 ", "5\n", "2"} << QList<int>{80, 120, 4, 2};
    QTest::newRow("huge") << QStringList{"99999999999", "100", "5", "2"} << QList<int>{80, 100, 5, 2};
}

void TestPractice::storedTrainerValues()
{
    QFETCH(QStringList, stored);
    QFETCH(QList<int>, shown);
    {
        QSettings store(m_settings->fileName(), QSettings::IniFormat);
        const QStringList keys{"Start", "End", "Step", "Bars"};
        for (int i = 0; i < keys.size(); ++i) {
            if (stored.at(i) != QLatin1String("-"))
                store.setValue(QStringLiteral("Trainer/") + keys.at(i), stored.at(i));
        }
    }
    frmSpeedTrainer dialog(m_w.get());
    QList<int> seen;
    whileModal([&] { dialog.exec(); }, [&](QDialog &) { seen = shownValues(dialog); });
    QCOMPARE(seen, shown);
    QVERIFY(!dialog.m_blnOK);
}

void TestPractice::startStoresCancelDoesNot()
{
    frmSpeedTrainer dialog(m_w.get());
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   type(d, QStringLiteral("96"));
                   dialog.cmdCancel->click();
               });
    QVERIFY(!dialog.m_blnOK);
    QVERIFY(!QFile::exists(m_settings->fileName()));

    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   type(d, QStringLiteral("96")); // replaces the selected 80, not yet taken
                   press(d, Qt::Key_Tab);
                   press(d, Qt::Key_Down); // 120 down to 119
                   press(d, Qt::Key_Tab);
                   d.findChild<QSpinBox *>(QStringLiteral("txtStep"))->selectAll();
                   type(d, QStringLiteral("7"));
                   press(d, Qt::Key_Return); // Start is the default button
               });
    QVERIFY(dialog.m_blnOK);
    QCOMPARE((QList<int>{dialog.m_intStart, dialog.m_intEnd, dialog.m_intStep, dialog.m_intBars}),
             (QList<int>{96, 119, 7, 4}));
    QVERIFY(TempSettings::waitForSaves());
    QSettings store(m_settings->fileName(), QSettings::IniFormat);
    QCOMPARE(store.childGroups(), QStringList{"Trainer"}); // the sound settings untouched
    store.beginGroup(QStringLiteral("Trainer"));
    QCOMPARE(store.childKeys(), (QStringList{"Bars", "End", "Start", "Step"}));
    QCOMPARE(store.value(QStringLiteral("Start")).toString(), QStringLiteral("96"));

    // A fresh dialog, as in the next run, shows them again.
    frmSpeedTrainer next(m_w.get());
    QList<int> seen;
    whileModal([&] { next.exec(); }, [&](QDialog &) { seen = shownValues(next); });
    QCOMPARE(seen, (QList<int>{96, 119, 7, 4}));
}

void TestPractice::contextMenu()
{
    frmMain &w = *m_w;
    auto rightClick = [&w](QWidget *on, QPoint at) {
        QTest::mouseClick(w.windowHandle(), Qt::RightButton, {}, on->mapTo(&w, at));
        QWidget *shown = popup();
        if (shown)
            shown->close();
        return shown;
    };
    QCOMPARE(rightClick(&w, QPoint(20, 220)), w.mnuContext.get()); // the black background
    QCOMPARE(rightClick(w.imgLed[0], QPoint(5, 5)), w.mnuContext.get());
    QCOMPARE(rightClick(w.lblTempo[0], QPoint(5, 5)), w.mnuContext.get());
    QCOMPARE(rightClick(w.imgMute, QPoint(5, 5)), nullptr); // a click on the button, no menu
    QCOMPARE(w.imgMute->Tag(), QStringLiteral("1"));
    QWidget *ownMenu = rightClick(w.Text1, QPoint(5, 5));
    QVERIFY(ownMenu && ownMenu != w.mnuContext.get());

    // What the menu lists, with the keys and the names a screen reader reads.
    auto listed = [&w] {
        QTest::mouseClick(w.windowHandle(), Qt::RightButton, {}, QPoint(20, 220));
        QStringList items;
        QAccessibleInterface *menu = QAccessible::queryAccessibleInterface(w.mnuContext.get());
        for (int i = 0; i < menu->childCount(); ++i)
            items << menu->child(i)->text(QAccessible::Name);
        for (QAction *action : w.mnuContext->actions())
            items << action->shortcut().toString();
        w.mnuContext->close();
        return items;
    };
    QCOMPARE(listed(), (QStringList{"Stop",
                                    "Tap tempo",
                                    "Speed trainer...",
                                    "Count-in",
                                    "Gap trainer...",
                                    "",
                                    "Previous song",
                                    "Next song",
                                    "Setlist...",
                                    "",
                                    "Big beat",
                                    "",
                                    "Ableton Link",
                                    "Space",
                                    "T",
                                    "Ctrl+T",
                                    "",
                                    "Ctrl+G",
                                    "",
                                    "PgUp",
                                    "PgDown",
                                    "Ctrl+L",
                                    "",
                                    "F11",
                                    "",
                                    ""}));
    QVERIFY(w.actLink->isCheckable() && !w.actLink->isChecked());
    w.actStartStop->trigger();
    QCOMPARE(listed().front(), QStringLiteral("Start"));
    QCOMPARE(w.size(), QSize(199, 338)); // the window as laid out
}

void TestPractice::keysReachTheTools()
{
    frmMain &w = *m_w;
    QCOMPARE(QApplication::focusWidget(), w.Text1);
    QTest::keyClick(w.windowHandle(), Qt::Key_Space);
    QVERIFY(!w.isRunning());
    QTest::keyClick(w.windowHandle(), Qt::Key_T);
    QTest::keyClick(w.windowHandle(), Qt::Key_Space, Qt::ShiftModifier); // a blank, not a tool
    QCOMPARE(w.Text1->text(), QStringLiteral("120"));
    QVERIFY(!w.isRunning());

    w.cboMeter->setFocus();
    QTest::keyClick(w.windowHandle(), Qt::Key_Space);
    QVERIFY(w.isRunning());
    QVERIFY(!w.cboMeter->view()->isVisible());
    QCOMPARE(w.cboMeter->currentIndex(), 0);

    QWidget *opened = nullptr;
    QTimer::singleShot(0, [&opened] {
        opened = QApplication::activeModalWidget();
        if (opened)
            opened->close();
    });
    QTest::keyClick(w.cboMeter, Qt::Key_T, Qt::ControlModifier);
    QVERIFY(qobject_cast<frmSpeedTrainer *>(opened));
    QVERIFY(w.isRunning());
}

void TestPractice::linkOffUnlessAsked()
{
    for (const char *stored : {"", "0", "2", "on", "-1"}) {
        QSettings(m_settings->fileName(), QSettings::IniFormat).setValue(QStringLiteral("Sync/Link"), stored);
        frmMain w;
        w.show();
        QVERIFY2(!w.linkSession() && !w.actLink->isChecked(), stored);
        QCOMPARE(w.actLink->text(), QStringLiteral("Ableton Link"));
        QCOMPARE(w.accessibleDescription(), QString());
    }
}

void TestPractice::gapTrainerBars_data()
{
    QTest::addColumn<int>("play");
    QTest::addColumn<int>("mute");
    QTest::addColumn<int>("beatsInBar");
    QTest::newRow("1 and 1, None") << 1 << 1 << 1;
    QTest::newRow("4 and 4, 4/4") << 4 << 4 << 4;
    QTest::newRow("3 and 16, 3/4") << 3 << 16 << 3;
    QTest::newRow("16 and 1, 19 places") << 16 << 1 << 19;
}

void TestPractice::gapTrainerBars()
{
    QFETCH(int, play);
    QFETCH(int, mute);
    QFETCH(int, beatsInBar);
    pulsewerk::GapTrainer gap;
    gap.start({false, play, mute, 30, 0, 4}, 1);
    QVERIFY(!gap.beat(false)); // the last beat of a bar cut short, before the first downbeat
    QString bars;
    for (int bar = 0; bar < 100; ++bar) {
        int muted = 0;
        for (int beat = 0; beat < beatsInBar; ++beat)
            muted += gap.beat(beat == 0);
        QVERIFY(muted == 0 || muted == beatsInBar); // a bar is muted whole
        bars += muted ? u'-' : u'x';
    }
    QString expected;
    while (expected.size() < 100)
        expected += QString(play, u'x') + QString(mute, u'-');
    QCOMPARE(bars, expected.left(100));
    gap.restart(); // a restart begins with bars played
    QVERIFY(!gap.beat(true));
}

void TestPractice::gapTrainerChance_data()
{
    QTest::addColumn<int>("chance");
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("every");
    QTest::addColumn<int>("finalChance");
    QTest::newRow("never") << 0 << 0 << 4 << 0;
    QTest::newRow("30 %") << 30 << 0 << 4 << 30;
    QTest::newRow("the most, 90 %") << 90 << 0 << 1 << 90;
    QTest::newRow("from 10 % by 1 every 64 bars") << 10 << 1 << 64 << 49;
    QTest::newRow("rising stops at 90 %") << 50 << 30 << 1 << 90;
}

void TestPractice::gapTrainerChance()
{
    QFETCH(int, chance);
    QFETCH(int, step);
    QFETCH(int, every);
    QFETCH(int, finalChance);
    pulsewerk::GapTrainer gap;
    gap.start({true, 4, 4, chance, step, every}, 20261208);
    QVERIFY(!gap.beat(false));
    int muted = 0;
    double meant = 0; // the sum of the chances the beats were given
    for (int beat = 0; beat < 10000; ++beat) {
        muted += gap.beat(beat % 4 == 0);
        meant += gap.chance() / 100.0;
    }
    QCOMPARE(gap.chance(), finalChance);
    // Three standard deviations of 10,000 draws at most 1.5 %: within 2 % of the chances.
    QVERIFY2(std::abs(muted - meant) <= 200, qPrintable(QStringLiteral("%1 muted, %2 meant").arg(muted).arg(meant)));
    if (chance == 0 && step == 0)
        QCOMPARE(muted, 0);
}

void TestPractice::setlistText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("songs"); // each song written back as a line
    QTest::addColumn<QStringList>("problems");
    QTest::newRow("by hand") << "# rehearsal\n\n  Intro ;96;4/4; 1 ;0\r\nBlues; 72; NONE; 2; 4\nOdd; 208; 2.1.1; 4; 1"
                             << QStringList{"Intro; 96; 4/4; 1; 0", "Blues; 72; none; 2; 4", "Odd; 208; 2.1.1; 4; 1"}
                             << QStringList{};
    QTest::newRow("bad lines") << "A; 40; 3/4; 1; 0\n; 100; 4/4; 1; 0\nB; 300; 4/4; 1; 0\nC; 100; "
                                  "21111111111111111111; 1; 0\nD;E; 100; 4/4; 1; 0\nF; 100; 4/4; 3; 0\nG; 100; "
                                  "4/4; 1; 5\nA; 50; 2/4; 1; 0\nH; 100; 5/4; 1; 0\nI; 100; 4/4; 1\nJ; ; 4/4; 1; 0"
                               << QStringList{"A; 40; 3/4; 1; 0"}
                               << QStringList{"line 2: the name is empty",
                                              "line 3: tempo \"300\" is not 40 to 208",
                                              "line 4: meter \"21111111111111111111\" is not none, 4/4, 3/4, 2/4 "
                                              "or a pattern of 1 to 19 of 2, 1, 0 and .",
                                              "line 5: 6 fields, not 5 (name; tempo; meter; multiplier; count-in; a "
                                              "name holds no ;)",
                                              "line 6: multiplier \"3\" is not 1, 2 or 4",
                                              "line 7: count-in \"5\" is not 0 to 4 bars",
                                              "line 8: a song named \"A\" is listed already",
                                              "line 9: meter \"5/4\" is not none, 4/4, 3/4, 2/4 or a pattern of 1 "
                                              "to 19 of 2, 1, 0 and .",
                                              "line 10: 4 fields, not 5 (name; tempo; meter; multiplier; count-in; a "
                                              "name holds no ;)",
                                              "line 11: the tempo is empty"};
    QTest::newRow("numbers that are not")
        << "A; 1e2; 4/4; 1; 0\nB; 120.0; 4/4; 1; 0\nC; 120; 4/4; -1; 0\nD %2; 120; "
           "4/4; 1; 0"
        << QStringList{"D %2; 120; 4/4; 1; 0"}
        << QStringList{"line 1: tempo \"1e2\" is not 40 to 208", "line 2: tempo \"120.0\" is not 40 to 208",
                       "line 3: multiplier \"-1\" is not 1, 2 or 4"};
}

void TestPractice::setlistText()
{
    QFETCH(QString, text);
    QFETCH(QStringList, songs);
    QFETCH(QStringList, problems);
    const pulsewerk::SetlistReading reading = pulsewerk::readSetlist(text);
    QCOMPARE(reading.problems, problems);
    QStringList lines = pulsewerk::writeSetlist(reading.songs).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY(lines.takeFirst().startsWith(u'#'));
    QCOMPARE(lines, songs);
    const pulsewerk::SetlistReading again = pulsewerk::readSetlist(pulsewerk::writeSetlist(reading.songs));
    QVERIFY(again.problems.isEmpty());
    QVERIFY(again.songs == reading.songs);
}

void TestPractice::setlistDialog()
{
    frmMain &w = *m_w;
    QTemporaryDir folder;
    QFile handWritten(folder.filePath(QStringLiteral("in.txt")));
    QVERIFY(handWritten.open(QIODevice::WriteOnly));
    handWritten.write("Waltz; 90; 3/4; 1; 2\nBad; 300; 4/4; 1; 0\nSong 1; 100; 4/4; 1; 0\n");
    handWritten.close();
    QTest::keyClick(w.Text1, Qt::Key_2, Qt::ControlModifier); // count-in of 2 bars
    QStringList report;
    whileModal([&w] { QTest::keyClick(w.Text1, Qt::Key_L, Qt::ControlModifier); },
               [&](QDialog &d) {
                   auto &setlist = static_cast<frmSetlist &>(d);
                   setlist.cmdAdd->click();
                   setlist.cmdAdd->click();
                   setlist.importFile(handWritten.fileName());
                   report << setlist.lblReport->text();
                   setlist.lstSongs->setCurrentRow(1);
                   rename(setlist, QStringLiteral("A;B"));
                   report << setlist.lblReport->text();
                   rename(setlist, QStringLiteral("Finale"));
                   setlist.cmdUp->click(); // Finale, Song 1, Waltz
                   setlist.lstSongs->setCurrentRow(1);
                   setlist.cmdDelete->click(); // "Song 1"
                   setlist.exportFile(folder.filePath(QStringLiteral("out.txt")));
                   setlist.cmdClose->click();
               });
    QCOMPARE(report, (QStringList{"Imported 1 song(s). Skipped line 2: tempo \"300\" is not 40 to 208; \"Song "
                                  "1\" is listed already",
                                  "Not renamed: the name \"A;B\" holds a ; or a line end."}));
    QFile exported(folder.filePath(QStringLiteral("out.txt")));
    QVERIFY(exported.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(exported.readAll()),
             QStringLiteral("# name; tempo; meter; multiplier; count-in\nFinale; 120; none; 1; 2\nWaltz; 90; 3/4; "
                            "1; 2\n"));
    QSettings store(m_settings->fileName(), QSettings::IniFormat);
    QCOMPARE(store.childGroups(), (QStringList{"Song1", "Song2"}));
    QCOMPARE(store.value(QStringLiteral("Song2/Meter")).toString(), QStringLiteral("3/4"));
    QCOMPARE(pulsewerk::readSongs().size(), 2);
    // PageDown takes the first song: its tempo and count-in.
    QTest::keyClick(w.Text1, Qt::Key_0, Qt::ControlModifier);
    QTest::keyClick(w.Text1, Qt::Key_PageDown);
    QCOMPARE(w.Text1->text(), QStringLiteral("120"));
    QCOMPARE(w.countInBars(), 2);
}

void TestPractice::bigBeatWindow()
{
    frmMain &w = *m_w;
    w.cboMeter->setCurrentIndex(4);
    QTimer::singleShot(0, [] {
        auto *dialog = qobject_cast<frmCustomMeter *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        dialog->txtMeter->setText(QStringLiteral("2101"));
        dialog->cmdOK->click();
    });
    emit w.cboMeter->activated(4);
    QTest::keyClick(w.Text1, Qt::Key_F11);
    frmBigBeat *big = w.bigBeat();
    QVERIFY(big && big->isVisible());
    QVERIFY(QTest::qWaitForWindowExposed(big));
    QCOMPARE(big->size(), QSize(480, 360));
    // The share of a picture's pixels near `colour`, and whether any is bright at all.
    const auto share = [](const QImage &image, QColor colour) {
        qint64 near = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                near += std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                            std::abs(pixel.blue() - colour.blue()) <
                        60;
            }
        }
        return double(near) / (image.width() * image.height());
    };
    QStringList seen;
    for (int beat = 0; beat < 5; ++beat) {
        w.OnBeatOff();
        w.OnBeat();
        const QImage shot = big->grab().toImage();
        const double red = share(shot, Qt::red), white = share(shot, Qt::white), dark = share(shot, QColor(64, 64, 64));
        const QString colour = red > 0.02 ? "red" : white > 0.02 ? "white" : dark > 0.02 ? "dark" : "none";
        QVERIFY2(red + white + dark < 0.5 && share(shot, Qt::black) > 0.5, qPrintable(big->text()));
        seen << big->text() + u' ' + colour;
        QCOMPARE(big->accessibleDescription(), w.Picture1->accessibleDescription());
    }
    QCOMPARE(seen, (QStringList{"1 red", "2 white", "3 dark", "4 white", "1 red"}));
    QCOMPARE(big->accessibleName(), QStringLiteral("Beat"));

    QTest::keyClick(big, Qt::Key_F11); // in the big beat itself: full screen
    QVERIFY(big->isFullScreen());
    QTRY_COMPARE(big->size(), big->screen()->size()); // the platform resizes it on its own time
    const QImage full = big->grab().toImage();
    QVERIFY(share(full, Qt::red) > 0.02);
    QCOMPARE(full.pixelColor(5, 5), QColor(Qt::black));
    w.actBigBeat->trigger(); // F11 in the main window while it is open: back to a window
    QVERIFY(!big->isFullScreen());
    QTest::keyClick(big, Qt::Key_Space); // the practice keys reach the main window's tools
    QVERIFY(!w.isRunning());
    QTest::keyClick(big, Qt::Key_Escape);
    QVERIFY(!big->isVisible());
    QCOMPARE(w.size(), QSize(199, 338)); // the main window as laid out
}

QTEST_MAIN(TestPractice)
#include "tst_practice.moc"
