// SPDX-License-Identifier: GPL-3.0-or-later
// The about dialog: what it shows, the keys and commands that close it, and a fresh
// dialog for every showing from the main window.
#include "ModalDriver.h"
#include "TestSupport.h"

#include "controls/Pictures.h"
#include "dialogs/frmAbout.h"

#include <QPointer>
#include <QTest>

class TestAbout : public QObject {
    Q_OBJECT

private slots:
    // A wrong version line, icon size or frame, or the focus not on Close.
    void looks();
    // A way of closing that fails, or Escape closing it.
    void closing_data();
    void closing();
    // A dialog kept and shown again instead of a fresh one, or a main window changed by it.
    void freshDialogEachShowing();

private:
    TempSettings m_settings;
};

void TestAbout::looks()
{
    frmAbout dialog;
    QList<QWidget *> focus;
    whileModal([&] { dialog.exec(); },
               [&](QDialog &d) {
                   focus << QApplication::focusWidget();
                   press(d, Qt::Key_Tab);
                   focus << QApplication::focusWidget();
               });
    QCOMPARE(dialog.windowTitle(), QStringLiteral("About Pulsewerk"));
    QCOMPARE(dialog.Label1->text(), QStringLiteral("Version 1.00"));
    QCOMPARE(dialog.cmdOK->text(), QStringLiteral("Close"));
    QCOMPARE(dialog.windowType(), Qt::Tool);
    QVERIFY(!(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(dialog.size(), QSize(208, 143));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    const QPixmap icon = dialog.Image1->pixmap();
    QCOMPARE(icon.size(), QSize(32, 32));
    QCOMPARE(icon.toImage(), pulsewerk::applicationIcon().pixmap(32, 32).toImage());
    QCOMPARE(focus, (QList<QWidget *>{dialog.cmdOK, dialog.cmdOK}));
}

void TestAbout::closing_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<bool>("closes");
    QTest::newRow("Enter") << "Enter" << true;
    QTest::newRow("keypad Enter") << "keypad Enter" << true;
    QTest::newRow("Space") << "Space" << true;
    QTest::newRow("click on Close") << "click" << true;
    QTest::newRow("close command") << "close" << true;
    QTest::newRow("Escape") << "Escape" << false;
}

void TestAbout::closing()
{
    QFETCH(QString, action);
    QFETCH(bool, closes);
    frmAbout dialog;
    const bool open = whileModal([&] { dialog.exec(); },
                                 [&](QDialog &d) {
                                     if (action == QLatin1String("Enter"))
                                         press(d, Qt::Key_Return);
                                     else if (action == QLatin1String("keypad Enter"))
                                         press(d, Qt::Key_Enter);
                                     else if (action == QLatin1String("Space"))
                                         press(d, Qt::Key_Space);
                                     else if (action == QLatin1String("Escape"))
                                         press(d, Qt::Key_Escape);
                                     else if (action == QLatin1String("click"))
                                         QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
                                     else
                                         d.close();
                                 });
    QCOMPARE(open, !closes);
}

void TestAbout::freshDialogEachShowing()
{
    m_settings.clear();
    BeatHarness h;
    frmMain &w = h.window();
    const QString pattern = frmMainTestAccess::pattern(w);
    QPointer<QDialog> first;
    bool markedOnSecond = true;
    whileModal([&] { QTest::mouseClick(w.imgAbout, Qt::LeftButton); },
               [&](QDialog &d) {
                   first = &d;
                   d.setProperty("shownBefore", true);
                   press(d, Qt::Key_Return);
               });
    QVERIFY(first.isNull()); // gone once it closed
    whileModal([&] { QTest::mouseClick(w.imgAbout, Qt::LeftButton); },
               [&](QDialog &d) {
                   QVERIFY(qobject_cast<frmAbout *>(&d));
                   markedOnSecond = d.property("shownBefore").isValid();
                   QTest::mouseClick(static_cast<frmAbout &>(d).cmdOK, Qt::LeftButton);
               });
    QVERIFY(!markedOnSecond);
    QVERIFY(w.isVisible());
    QCOMPARE(w.imgAbout->Picture(), QStringLiteral("ABOUT_U"));
    QCOMPARE(frmMainTestAccess::pattern(w), pattern);
    QVERIFY(h.midi.messages.empty());
    QVERIFY(!QFile::exists(m_settings.fileName()));
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
