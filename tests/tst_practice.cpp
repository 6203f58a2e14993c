// SPDX-License-Identifier: GPL-3.0-or-later
// The practice tools' controls: the speed trainer dialog and its stored values, the
// main window's context menu, and the tools' keys wherever the focus is.
#include "ModalDriver.h"
#include "TestSupport.h"

#include "dialogs/frmSpeedTrainer.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QFile>
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

} // namespace

class TestPractice : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // A dialog that is not fixed, not in the others' font, or opens off the first box.
    void trainerDialogLayout();
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
    QCOMPARE(listed(), (QStringList{"Stop", "Tap tempo", "Speed trainer...", "Space", "T", "Ctrl+T"}));
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

QTEST_MAIN(TestPractice)
#include "tst_practice.moc"
