// SPDX-License-Identifier: GPL-3.0-or-later
// The custom meter dialog, shown modally as the main window shows it: what the
// pattern box lets in, its 19-character limit, and how each way of closing hands
// the pattern back.
#include "ModalDriver.h"

#include "dialogs/frmCustomMeter.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QScreen>
#include <QTest>

namespace {

// Shows `dialog` with `pattern` as the caller does, runs `steps` inside it, and
// returns the pattern the caller reads back.
QString showWith(frmCustomMeter &dialog, const QString &pattern, const std::function<void(QDialog &)> &steps)
{
    dialog.m_strMeter = pattern;
    whileModal([&] { dialog.exec(); }, steps);
    return dialog.m_strMeter;
}

// Moves the focus from OK along the tab order: 0 OK, 1 Cancel, 2 the pattern box.
void tabTo(QDialog &dialog, int stops)
{
    for (int i = 0; i < stops; ++i)
        press(dialog, Qt::Key_Tab);
}

} // namespace

class TestCustomMeter : public QObject {
    Q_OBJECT

private slots:
    // A box showing "2111" or the last showing's text, or the focus left off OK when it opens.
    void opensWithCallersPattern();
    // A wrong tab order: OK, Cancel, the pattern box.
    void focusStartsOnOkThenTabOrder();
    // A filter letting other characters in, or a cut that keeps the wrong 19 or moves the caret.
    void typing_data();
    void typing();
    // Pasted text that escapes the 19-character cut.
    void pasting_data();
    void pasting();
    // OK that refuses or replaces an empty text instead of handing it back empty.
    void okWithEmptyText();
    // Cancel or the close command handing back the edited text instead of the caller's pattern.
    void cancelKeepsPattern_data();
    void cancelKeepsPattern();
    // Enter not pressing OK (or Cancel when focused), Space not pressing its button, Escape
    // closing, Alt+O or Alt+C not pressing OK or Cancel.
    void keys_data();
    void keys();
};

void TestCustomMeter::opensWithCallersPattern()
{
    frmCustomMeter dialog;
    QCOMPARE(dialog.txtMeter->text(), QStringLiteral("2111")); // the laid-out text before loading
    QString shown;
    showWith(dialog, QStringLiteral("211"), [&](QDialog &d) {
        shown = dialog.txtMeter->text();
        QCOMPARE(d.frameGeometry().center(), d.screen()->availableGeometry().center());
        tabTo(d, 2);
        type(d, QStringLiteral("0"));
        dialog.cmdCancel->click(); // the focus stays in the box
    });
    QCOMPARE(shown, QStringLiteral("211"));
    QWidget *focus = nullptr;
    showWith(dialog, QStringLiteral("21"), [&](QDialog &d) {
        shown = dialog.txtMeter->text();
        focus = QApplication::focusWidget();
        d.close();
    });
    QCOMPARE(shown, QStringLiteral("21"));
    QCOMPARE(focus, dialog.cmdOK);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Custom Meter"));
    QCOMPARE(dialog.size(), QSize(232, 161));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
}

void TestCustomMeter::focusStartsOnOkThenTabOrder()
{
    frmCustomMeter dialog;
    QList<QWidget *> visited;
    showWith(dialog, QStringLiteral("2111"), [&](QDialog &d) {
        for (int i = 0; i < 4; ++i) {
            visited << QApplication::focusWidget();
            press(d, Qt::Key_Tab);
        }
    });
    const QList<QWidget *> expected{dialog.cmdOK, dialog.cmdCancel, dialog.txtMeter, dialog.cmdOK};
    QCOMPARE(visited, expected);
}

void TestCustomMeter::typing_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("caretKey");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");
    const QString full = QStringLiteral("2111111111111111110"); // 19 characters
    QTest::newRow("19 characters") << QString() << int(Qt::Key_End) << QStringLiteral("2101210121012101210")
                                   << QStringLiteral("2101210121012101210");
    QTest::newRow("20 characters keep the first 19")
        << QString() << int(Qt::Key_End) << QStringLiteral("21012101210121012102")
        << QStringLiteral("2101210121012101210");
    QTest::newRow("at the front of a full box")
        << full << int(Qt::Key_Home) << QStringLiteral("2") << QStringLiteral("2211111111111111111");
    QTest::newRow("two at the front of a full box")
        << full << int(Qt::Key_Home) << QStringLiteral("21") << QStringLiteral("21") + full.left(17);
    QTest::newRow("at the end of a full box") << full << int(Qt::Key_End) << QStringLiteral("2") << full;
    QTest::newRow("3 is rejected") << QStringLiteral("21") << int(Qt::Key_End) << QStringLiteral("3")
                                   << QStringLiteral("21");
    QTest::newRow("other digits are rejected")
        << QStringLiteral("21") << int(Qt::Key_End) << QStringLiteral("456789") << QStringLiteral("21");
    QTest::newRow("letters are rejected")
        << QStringLiteral("21") << int(Qt::Key_End) << QStringLiteral("aZx") << QStringLiteral("21");
    QTest::newRow("a blank is rejected") << QStringLiteral("21") << int(Qt::Key_Home) << QStringLiteral(" ")
                                         << QStringLiteral("21");
    QTest::newRow("a period inserts") << QStringLiteral("21") << int(Qt::Key_Home) << QStringLiteral(".")
                                      << QStringLiteral(".21");
    QTest::newRow("0 1 2 pass") << QString() << int(Qt::Key_End) << QStringLiteral("2100") << QStringLiteral("2100");
    QTest::newRow("backspace deletes") << QStringLiteral("211") << int(Qt::Key_End) << QStringLiteral("\b\b")
                                       << QStringLiteral("2");
}

void TestCustomMeter::typing()
{
    QFETCH(QString, before);
    QFETCH(int, caretKey);
    QFETCH(QString, typed);
    QFETCH(QString, after);
    frmCustomMeter dialog;
    QString shown;
    const QString result = showWith(dialog, before, [&](QDialog &d) {
        tabTo(d, 2);
        press(d, static_cast<Qt::Key>(caretKey));
        type(d, typed);
        shown = dialog.txtMeter->text();
        dialog.cmdOK->click();
    });
    QCOMPARE(shown, after);
    QCOMPARE(result, after);
}

void TestCustomMeter::pasting_data()
{
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("after");
    QTest::newRow("long pattern") << QStringLiteral("2111211121112111211121112111")
                                  << QStringLiteral("2111211121112111211");
    QTest::newRow("unfiltered text") << QStringLiteral("2 a3-9xyz 4/4 and more text")
                                     << QStringLiteral("2 a3-9xyz 4/4 and m");
    QTest::newRow("short text stays whole") << QStringLiteral("2ab") << QStringLiteral("2ab");
}

void TestCustomMeter::pasting()
{
    QFETCH(QString, clipboard);
    QFETCH(QString, after);
    QGuiApplication::clipboard()->setText(clipboard);
    frmCustomMeter dialog;
    const QString result = showWith(dialog, QStringLiteral("21"), [&](QDialog &d) {
        tabTo(d, 2); // tabbing in selects the whole text, which the paste replaces
        press(d, Qt::Key_Insert, Qt::ShiftModifier);
        press(d, Qt::Key_Return);
    });
    QCOMPARE(result, after);
}

void TestCustomMeter::okWithEmptyText()
{
    frmCustomMeter dialog;
    bool accepted = false;
    connect(&dialog, &QDialog::accepted, this, [&] { accepted = true; });
    const QString result = showWith(dialog, QStringLiteral("2111"), [&](QDialog &d) {
        tabTo(d, 2);
        press(d, Qt::Key_Backspace);
        QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
    });
    QVERIFY(accepted);
    QCOMPARE(result, QString());
}

void TestCustomMeter::cancelKeepsPattern_data()
{
    QTest::addColumn<bool>("byCloseCommand");
    QTest::newRow("Cancel") << false;
    QTest::newRow("close command") << true;
}

void TestCustomMeter::cancelKeepsPattern()
{
    QFETCH(bool, byCloseCommand);
    frmCustomMeter dialog;
    bool open = true;
    const QString result = showWith(dialog, QStringLiteral("211"), [&](QDialog &d) {
        tabTo(d, 2);
        type(d, QStringLiteral("2101"));
        if (byCloseCommand)
            d.close();
        else
            QTest::mouseClick(dialog.cmdCancel, Qt::LeftButton);
        open = d.isVisible();
    });
    QVERIFY(!open);
    QCOMPARE(result, QStringLiteral("211"));
}

void TestCustomMeter::keys_data()
{
    QTest::addColumn<int>("focusStop");   // 0 OK, 1 Cancel, 2 the pattern box
    QTest::addColumn<int>("key");         // a key combination
    QTest::addColumn<QString>("outcome"); // "OK", "Cancel" or "open"
    const int altO = QKeyCombination(Qt::ALT | Qt::Key_O).toCombined();
    const int altC = QKeyCombination(Qt::ALT | Qt::Key_C).toCombined();
    QTest::newRow("Alt+O in the box") << 2 << altO << QStringLiteral("OK");
    QTest::newRow("Alt+O on Cancel") << 1 << altO << QStringLiteral("OK");
    QTest::newRow("Alt+C in the box") << 2 << altC << QStringLiteral("Cancel");
    QTest::newRow("Alt+C on OK") << 0 << altC << QStringLiteral("Cancel");
    QTest::newRow("Enter in the box") << 2 << int(Qt::Key_Return) << QStringLiteral("OK");
    QTest::newRow("keypad Enter in the box") << 2 << int(Qt::Key_Enter) << QStringLiteral("OK");
    QTest::newRow("Enter on OK") << 0 << int(Qt::Key_Return) << QStringLiteral("OK");
    QTest::newRow("Space on OK") << 0 << int(Qt::Key_Space) << QStringLiteral("OK");
    QTest::newRow("Enter on Cancel") << 1 << int(Qt::Key_Return) << QStringLiteral("Cancel");
    QTest::newRow("Space on Cancel") << 1 << int(Qt::Key_Space) << QStringLiteral("Cancel");
    QTest::newRow("Escape in the box") << 2 << int(Qt::Key_Escape) << QStringLiteral("open");
    QTest::newRow("Escape on OK") << 0 << int(Qt::Key_Escape) << QStringLiteral("open");
    QTest::newRow("Escape on Cancel") << 1 << int(Qt::Key_Escape) << QStringLiteral("open");
}

void TestCustomMeter::keys()
{
    QFETCH(int, focusStop);
    QFETCH(int, key);
    QFETCH(QString, outcome);
    frmCustomMeter dialog;
    QString edited;
    const bool stillOpen = whileModal(
        [&] {
            dialog.m_strMeter = QStringLiteral("211");
            dialog.exec();
        },
        [&](QDialog &d) {
            tabTo(d, 2);
            press(d, Qt::Key_End);
            type(d, QStringLiteral("0"));
            edited = dialog.txtMeter->text();
            tabTo(d, (focusStop + 1) % 3); // from the box, Tab goes on to OK
            const auto keys = QKeyCombination::fromCombined(key);
            press(d, keys.key(), keys.keyboardModifiers());
        });
    QCOMPARE(edited, QStringLiteral("2110"));
    QCOMPARE(stillOpen, outcome == QLatin1String("open"));
    QCOMPARE(dialog.m_strMeter, outcome == QLatin1String("OK") ? edited : QStringLiteral("211"));
}

QTEST_MAIN(TestCustomMeter)
#include "tst_custommeter.moc"
