// SPDX-License-Identifier: GPL-3.0-or-later
// Meter choice through the real main window's list, including "Custom ..." with the
// real custom meter dialog: the pattern, the restart of the bar and the lamp row.
#include "ModalDriver.h"
#include "TestSupport.h"

#include "dialogs/frmCustomMeter.h"

#include <QAbstractItemView>
#include <QTest>

using Access = frmMainTestAccess;

namespace {

constexpr int kCustom = 4;

// Opens the meter list and picks entry `index` with the keyboard, as a user does;
// picking the entry already shown runs the choice again.
void pickMeter(frmMain &w, int index)
{
    QTest::keyClick(w.cboMeter, Qt::Key_F4);
    QAbstractItemView *list = w.cboMeter->view();
    QTest::keyClick(list, Qt::Key_Home);
    for (int i = 0; i < index; ++i)
        QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
}

// Picks "Custom ..." and works in the dialog it opens; returns the pattern the dialog showed.
QString pickCustom(frmMain &w, const std::function<void(frmCustomMeter &)> &steps)
{
    QString shown;
    whileModal([&] { pickMeter(w, kCustom); },
               [&](QDialog &d) {
                   auto *dialog = qobject_cast<frmCustomMeter *>(&d);
                   QVERIFY(dialog);
                   shown = dialog->txtMeter->text();
                   steps(*dialog);
               });
    return shown;
}

// Replaces the pattern box's text by typing, then presses OK.
void typePatternAndOk(frmCustomMeter &dialog, const QString &pattern)
{
    press(dialog, Qt::Key_Tab);
    press(dialog, Qt::Key_Tab); // into the box, its text selected
    press(dialog, Qt::Key_Backspace);
    type(dialog, pattern);
    QTest::mouseClick(dialog.cmdOK, Qt::LeftButton);
}

// Which lamps are shown and what they show: the picture name, "-" for a hidden lamp.
QStringList lampRow(frmMain &w)
{
    QStringList row;
    for (pulsewerk::PictureBox *lamp : w.imgLed)
        row << (lamp->isVisible() ? lamp->Picture() : QStringLiteral("-"));
    return row;
}

// The lamp row a fresh rebuild gives `pattern`: dark red for "2", dark green for the rest.
QStringList rebuiltRow(const QString &pattern)
{
    QStringList row;
    for (int i = 0; i < 19; ++i) {
        if (i >= pattern.size())
            row << QStringLiteral("-");
        else
            row << (pattern.at(i) == u'2' ? QStringLiteral("LED_ROFF") : QStringLiteral("LED_GOFF"));
    }
    return row;
}

} // namespace

class TestMeter : public QObject {
    Q_OBJECT

private slots:
    void init();
    // A wrong pattern, lamp or picture for an entry, or a bar that does not start at position 0.
    void presets_data();
    void presets();
    // A new meter mid-bar carrying the old position over instead of restarting the bar.
    void changeMidBar();
    // The dialog not starting from the pattern in use, or its OK not setting pattern and lamps.
    void customWithOk();
    // An empty pattern kept, a pattern lost on Cancel, or no restart and rebuild after Cancel.
    void customOutcomes_data();
    void customOutcomes();
    // A 19-character pattern missing its last lamps.
    void nineteenLamps();
    // A rebuild leaving a silent position's lamp lit from an earlier beat.
    void silentLampAfterRebuild();
    // A lit lamp beyond the new pattern left showing.
    void litLampBeyondPatternHidden();

private:
    TempSettings m_settings;
};

void TestMeter::init() { m_settings.clear(); }

void TestMeter::presets_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<std::uint32_t>("firstBeat");
    QTest::newRow("None") << 0 << "None"
                          << "1" << NoteOn(9, 60, 50);
    QTest::newRow("4/4") << 1 << "4/4"
                         << "2111" << NoteOn(9, 61, 80);
    QTest::newRow("3/4") << 2 << "3/4"
                         << "211" << NoteOn(9, 61, 80);
    QTest::newRow("2/4") << 3 << "2/4"
                         << "21" << NoteOn(9, 61, 80);
}

void TestMeter::presets()
{
    QFETCH(int, index);
    QFETCH(QString, entry);
    QFETCH(QString, pattern);
    QFETCH(std::uint32_t, firstBeat);
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    pickMeter(w, (index + 1) % 4); // come from another meter
    w.OnBeat();
    pickMeter(w, index);
    QCOMPARE(w.cboMeter->currentText(), entry);
    QCOMPARE(Access::pattern(w), pattern);
    QCOMPARE(Access::beat(w), std::int16_t(pattern.size() - 1));
    QCOMPARE(lampRow(w), rebuiltRow(pattern));
    h.midi.messages.clear();
    w.OnBeat();
    QCOMPARE(Access::beat(w), std::int16_t(0));
    QCOMPARE(h.midi.messages.size(), std::size_t(1));
    QCOMPARE(h.midi.messages[0].message, firstBeat);
}

void TestMeter::changeMidBar()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    pickMeter(w, 2); // 3/4
    w.OnBeat();
    w.OnBeatOff();
    w.OnBeat(); // the second beat of the bar sounds
    QCOMPARE(Access::beat(w), std::int16_t(1));
    pickMeter(w, 1); // 4/4
    QCOMPARE(Access::beat(w), std::int16_t(3));
    h.midi.messages.clear();
    w.OnBeatOff();
    w.OnBeat();
    QCOMPARE(Access::beat(w), std::int16_t(0));
    QCOMPARE(w.imgLed[0]->Picture(), QStringLiteral("LED_RON"));
    QCOMPARE(h.midi.messages.back().message, NoteOn(9, 61, 80));
}

void TestMeter::customWithOk()
{
    BeatHarness h;
    frmMain &w = h.window();
    pickMeter(w, 2); // 3/4
    const QString shown = pickCustom(w, [](frmCustomMeter &d) { typePatternAndOk(d, QStringLiteral("2101")); });
    QCOMPARE(shown, QStringLiteral("211"));
    QCOMPARE(Access::pattern(w), QStringLiteral("2101"));
    QCOMPARE(Access::beat(w), std::int16_t(3));
    QCOMPARE(lampRow(w), rebuiltRow(QStringLiteral("2101")));
    QCOMPARE(w.cboMeter->currentText(), QStringLiteral("Custom ..."));

    // "Custom ..." again, from "Custom ...", and then from a preset: the pattern in use each time.
    QCOMPARE(pickCustom(w, [](frmCustomMeter &d) { d.cmdCancel->click(); }), QStringLiteral("2101"));
    pickMeter(w, 3); // 2/4
    QCOMPARE(pickCustom(w, [](frmCustomMeter &d) { d.cmdCancel->click(); }), QStringLiteral("21"));
    QCOMPARE(Access::pattern(w), QStringLiteral("21"));
}

void TestMeter::customOutcomes_data()
{
    QTest::addColumn<QString>("close"); // "OK", "Cancel" or "close command"
    QTest::addColumn<QString>("pattern");
    QTest::newRow("OK with an empty text") << "OK"
                                           << "1";
    QTest::newRow("Cancel") << "Cancel"
                            << "211";
    QTest::newRow("close command") << "close command"
                                   << "211";
}

void TestMeter::customOutcomes()
{
    QFETCH(QString, close);
    QFETCH(QString, pattern);
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    pickMeter(w, 2); // 3/4
    w.OnBeat();      // the strong lamp is lit
    QCOMPARE(w.imgLed[0]->Picture(), QStringLiteral("LED_RON"));
    pickCustom(w, [&](frmCustomMeter &d) {
        press(d, Qt::Key_Tab);
        press(d, Qt::Key_Tab);
        press(d, Qt::Key_Backspace); // the box is now empty
        if (close == QLatin1String("OK"))
            QTest::mouseClick(d.cmdOK, Qt::LeftButton);
        else if (close == QLatin1String("Cancel"))
            QTest::mouseClick(d.cmdCancel, Qt::LeftButton);
        else
            d.close();
    });
    QCOMPARE(Access::pattern(w), pattern);
    QCOMPARE(Access::beat(w), std::int16_t(pattern.size() - 1));
    QCOMPARE(lampRow(w), rebuiltRow(pattern));
    h.midi.messages.clear();
    w.OnBeatOff();
    w.OnBeat();
    QCOMPARE(Access::beat(w), std::int16_t(0));
}

void TestMeter::nineteenLamps()
{
    BeatHarness h;
    frmMain &w = h.window();
    const QString longest = QStringLiteral("2101.10211012110210");
    QCOMPARE(longest.size(), qsizetype(19));
    pickCustom(w, [&](frmCustomMeter &d) { typePatternAndOk(d, longest); });
    QCOMPARE(Access::pattern(w), longest);
    QCOMPARE(lampRow(w), rebuiltRow(longest));
    QCOMPARE(Access::beat(w), std::int16_t(18));
}

void TestMeter::silentLampAfterRebuild()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    pickMeter(w, 1); // 4/4
    for (int i = 0; i < 3; ++i)
        w.OnBeat();
    QCOMPARE(w.imgLed[2]->Picture(), QStringLiteral("LED_GON")); // lit when the meter changes
    pickCustom(w, [](frmCustomMeter &d) { typePatternAndOk(d, QStringLiteral("2101")); });
    QCOMPARE(lampRow(w), rebuiltRow(QStringLiteral("2101")));
}

void TestMeter::litLampBeyondPatternHidden()
{
    BeatHarness h;
    frmMain &w = h.window();
    h.openOutput();
    pickMeter(w, 1); // 4/4
    for (int i = 0; i < 4; ++i)
        w.OnBeat();
    QCOMPARE(w.imgLed[3]->Picture(), QStringLiteral("LED_GON"));
    pickMeter(w, 3); // 2/4
    QCOMPARE(lampRow(w), rebuiltRow(QStringLiteral("21")));
}

QTEST_MAIN(TestMeter)
#include "tst_meter.moc"
