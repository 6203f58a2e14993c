// SPDX-License-Identifier: GPL-3.0-or-later
// The tempo control of the main window: the slider, the tempo box and the tempo names,
// worked with the keyboard and the mouse on the real window.
#include "TestSupport.h"

#include "controls/CursorBlink.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QClipboard>
#include <QInputMethodEvent>
#include <QKeySequence>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>

#include <memory>

namespace {

// The tempo names and the lowest tempo of each, as the user sees them.
const QStringList kNames{QStringLiteral("Largo"),   QStringLiteral("Larghetto"),  QStringLiteral("Adagio"),
                         QStringLiteral("Andante"), QStringLiteral("Moderato"),   QStringLiteral("Allegro"),
                         QStringLiteral("Presto"),  QStringLiteral("Prestissimo")};
const int kLowest[] = {40, 60, 66, 76, 108, 120, 168, 200};

const QColor kCyan(0, 255, 255);
const QColor kWhite(255, 255, 255);

QString nameFor(int tempo)
{
    int index = 0;
    while (index + 1 < kNames.size() && tempo >= kLowest[index + 1])
        ++index;
    return kNames.at(index);
}

// The caption of the one highlighted name when exactly one is cyan and bold and all
// the others white and regular; otherwise a list of what is wrong.
QString highlight(const frmMain &w)
{
    QStringList highlighted;
    QStringList odd;
    for (const QLabel *label : w.lblTempo) {
        const QColor active = label->palette().color(QPalette::Active, QPalette::WindowText);
        const QColor inactive = label->palette().color(QPalette::Inactive, QPalette::WindowText);
        const int weight = label->font().weight();
        if (active == kCyan && inactive == kCyan && weight == QFont::Bold)
            highlighted << label->text();
        else if (active != kWhite || inactive != kWhite || weight != QFont::Normal)
            odd << QStringLiteral("%1 %2/%3 weight %4").arg(label->text(), active.name(), inactive.name()).arg(weight);
    }
    if (highlighted.size() == 1 && odd.isEmpty())
        return highlighted.front();
    return QStringLiteral("highlighted [%1], others not white regular [%2]")
        .arg(highlighted.join(QStringLiteral(", ")), odd.join(QStringLiteral(", ")));
}

// Everything that shows the tempo, in one line, so that a failed comparison shows it all.
QString shown(const frmMain &w)
{
    return QStringLiteral("slider %1, box \"%2\", m_intBpm %3, %4")
        .arg(w.Slider1->value())
        .arg(w.Text1->text())
        .arg(w.m_intBpm)
        .arg(highlight(w));
}

QString agreeing(int tempo)
{
    return QStringLiteral("slider %1, box \"%1\", m_intBpm %1, %2").arg(tempo).arg(nameFor(tempo));
}

// Where the slider draws its thumb at its present position.
QRect thumbRect(const QSlider *slider)
{
    struct Probe : QSlider {
        static void options(const QSlider *s, QStyleOptionSlider *option) { (s->*&Probe::initStyleOption)(option); }
    };
    QStyleOptionSlider option;
    Probe::options(slider, &option);
    return slider->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, slider);
}

} // namespace

class TestTempo : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // Opening: the focus somewhere other than the tempo box, a large step other than 20,
    // or arrow keys that only work after a click.
    void opensReadyForKeys();
    // The cursor left blinking when it rests (as it does after 10 s alone), hidden while
    // it rests, still resting after a key or a click, blinking left changed when the
    // watcher goes, or a desktop that does not blink made to.
    void cursorBlinkRests();

    // A range boundary off by one, or a name left highlighted from the previous tempo.
    void highlightAtRangeBoundaries_data();
    void highlightAtRangeBoundaries();
    // Ranges written into the code instead of read from the tags, or a last range that
    // does not end at the slider's maximum.
    void rangesComeFromTags();

    // A wrong step or direction, a modifier not counted, a step taken from the typed text
    // instead of the slider, or a step past either end leaving 40..208.
    void arrowKeys_data();
    void arrowKeys();
    // A typed or pasted text read wrongly (rounding, blanks, a second full stop, letters),
    // not applied by Enter or by leaving the box, Enter inserting a character, a value
    // outside 40..208 getting through, or the box left showing the typed text when the
    // nearer end is where the slider already stands.
    void textApplied_data();
    void textApplied();
    // A character other than a digit, the full stop or backspace reaching the box, or an
    // editing key swallowed by the filter.
    void keyFilter_data();
    void keyFilter();
    // Characters composed by an input method going round the filter.
    void inputMethodTextIsFiltered();

    // The box and the names following the thumb only when it is let go.
    void dragUpdatesBeforeRelease();
    // A click on the slider that keeps the focus, or skips the typed tempo before its own step.
    void clickOnSlider_data();
    void clickOnSlider();

    // The multiplier button touching the tempo, the box or the names, or taking the focus.
    void multiplierLeavesTempoAlone();

    // Taps of T read wrongly: other intervals than the last four, no rounding, a pause
    // not starting a new series, a tempo outside 40..208, or a tempo that does not go
    // in as a typed one (box, slider and names disagreeing).
    void tapSeries_data();
    void tapSeries();

private:
    QWindow *window() const { return m_w->windowHandle(); }
    void type(const QString &keys);
    // Replaces the box's text by typing, without applying it.
    void retype(const QString &keys);
    void setTempo(int tempo) { m_w->Slider1->setValue(tempo); }

    TempSettings m_settings;
    std::unique_ptr<frmMain> m_w;
};

void TestTempo::init()
{
    m_settings.clear();
    m_w = std::make_unique<frmMain>();
    m_w->show();
    m_w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_w.get()));
}

void TestTempo::cleanup() { m_w.reset(); }

void TestTempo::type(const QString &keys)
{
    for (const QChar key : keys)
        QTest::keyClick(window(), key.toLatin1());
}

void TestTempo::retype(const QString &keys)
{
    m_w->Text1->selectAll();
    if (keys.isEmpty())
        QTest::keyClick(window(), Qt::Key_Backspace);
    else
        type(keys);
    QCOMPARE(m_w->Text1->text(), keys);
}

void TestTempo::opensReadyForKeys()
{
    QCOMPARE(QApplication::focusWidget(), m_w->Text1);
    QCOMPARE(shown(*m_w), agreeing(120));
    QCOMPARE(m_w->Slider1->pageStep(), 20);
    QTest::keyClick(window(), Qt::Key_Down);
    QCOMPARE(shown(*m_w), agreeing(121));
    // The slider never keeps the focus.
    m_w->Slider1->setFocus(Qt::TabFocusReason);
    QCOMPARE(QApplication::focusWidget(), m_w->Text1);
}

void TestTempo::cursorBlinkRests()
{
    const int desktops = QApplication::cursorFlashTime();
    const auto restore = qScopeGuard([desktops] { QApplication::setCursorFlashTime(desktops); });
    QApplication::setCursorFlashTime(1000);
    m_w->Text1->setReadOnly(true); // the same box with the focus, without its cursor
    const QImage noCursor = m_w->Text1->grab().toImage();
    m_w->Text1->setReadOnly(false);
    {
        pulsewerk::CursorBlinkRest blink(3600 * 1000);
        blink.rest();
        QCOMPARE(QApplication::cursorFlashTime(), 0);
        QVERIFY(m_w->Text1->grab().toImage() != noCursor); // shown steadily
        QTest::keyClick(m_w->Text1, Qt::Key_End);
        QCOMPARE(QApplication::cursorFlashTime(), 1000);
        blink.rest();
        QTest::mouseClick(m_w->Text1, Qt::LeftButton);
        QCOMPARE(QApplication::cursorFlashTime(), 1000);
        blink.rest();
    }
    QCOMPARE(QApplication::cursorFlashTime(), 1000);
    QApplication::setCursorFlashTime(0);
    pulsewerk::CursorBlinkRest blink(3600 * 1000);
    blink.rest();
    QTest::keyClick(m_w->Text1, Qt::Key_End);
    QCOMPARE(QApplication::cursorFlashTime(), 0);
}

void TestTempo::highlightAtRangeBoundaries_data()
{
    QTest::addColumn<int>("tempo");
    for (const int tempo : {40, 59, 60, 65, 66, 75, 76, 107, 108, 119, 120, 167, 168, 199, 200, 208})
        QTest::addRow("%d %s", tempo, qPrintable(nameFor(tempo))) << tempo;
}

void TestTempo::highlightAtRangeBoundaries()
{
    QFETCH(int, tempo);
    // Start from the far end, so that the highlight has to move.
    setTempo(tempo < 124 ? 208 : 40);
    setTempo(tempo);
    QCOMPARE(shown(*m_w), agreeing(tempo));
}

void TestTempo::rangesComeFromTags()
{
    m_w->lblTempo[5]->setProperty("Tag", QStringLiteral("130"));
    setTempo(125);
    QCOMPARE(highlight(*m_w), QStringLiteral("Moderato"));
    setTempo(130);
    QCOMPARE(highlight(*m_w), QStringLiteral("Allegro"));
    m_w->Slider1->setMaximum(240);
    setTempo(240);
    QCOMPARE(highlight(*m_w), QStringLiteral("Prestissimo"));
}

void TestTempo::arrowKeys_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("expected");
    const Qt::KeyboardModifiers none;
    const Qt::KeyboardModifiers shift(Qt::ShiftModifier), ctrl(Qt::ControlModifier), alt(Qt::AltModifier);
    QTest::newRow("Up") << 120 << "" << Qt::Key_Up << none << 119;
    QTest::newRow("Down") << 120 << "" << Qt::Key_Down << none << 121;
    QTest::newRow("Shift+Up") << 120 << "" << Qt::Key_Up << shift << 100;
    QTest::newRow("Ctrl+Up") << 120 << "" << Qt::Key_Up << ctrl << 100;
    QTest::newRow("Alt+Up") << 120 << "" << Qt::Key_Up << alt << 100;
    QTest::newRow("Shift+Down") << 120 << "" << Qt::Key_Down << shift << 140;
    QTest::newRow("Ctrl+Down") << 120 << "" << Qt::Key_Down << ctrl << 140;
    QTest::newRow("Alt+Down") << 120 << "" << Qt::Key_Down << alt << 140;
    QTest::newRow("Ctrl+Shift+Down") << 120 << "" << Qt::Key_Down << (ctrl | shift) << 140;
    QTest::newRow("Up over a typed 150") << 120 << "150" << Qt::Key_Up << none << 119;
    for (const Qt::Key key : {Qt::Key_PageUp, Qt::Key_PageDown, Qt::Key_Home, Qt::Key_End})
        QTest::addRow("%s, not handled", qPrintable(QKeySequence(key).toString())) << 120 << "" << key << none << 120;
    QTest::newRow("Up at 40") << 40 << "" << Qt::Key_Up << none << 40;
    QTest::newRow("Up at 40 over a typed 45") << 40 << "45" << Qt::Key_Up << none << 40;
    QTest::newRow("Shift+Up at 55") << 55 << "" << Qt::Key_Up << shift << 40;
    QTest::newRow("Shift+Down at 189") << 189 << "" << Qt::Key_Down << shift << 208;
    QTest::newRow("Shift+Down at 208 over a typed 1") << 208 << "1" << Qt::Key_Down << shift << 208;
    QTest::newRow("Down at 208") << 208 << "" << Qt::Key_Down << none << 208;
}

void TestTempo::arrowKeys()
{
    QFETCH(int, start);
    QFETCH(QString, typed);
    QFETCH(Qt::Key, key);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, expected);
    setTempo(start);
    if (!typed.isEmpty())
        retype(typed);
    QTest::keyClick(window(), key, modifiers);
    QCOMPARE(shown(*m_w), agreeing(expected));
    QCOMPARE(QApplication::focusWidget(), m_w->Text1);
}

void TestTempo::textApplied_data()
{
    QTest::addColumn<int>("start");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("pasted");
    QTest::addColumn<Qt::Key>("apply");
    QTest::addColumn<int>("expected");
    static const QByteArray nines(400, '9');
    struct Case {
        const char *name;
        const char *text;
        bool pasted;
        int expected;
    };
    const Case cases[] = {
        {"150", "150", false, 150},
        {"leading zero", "075", false, 75},
        {"96.5 to even", "96.5", false, 96},
        {"97.5 to even", "97.5", false, 98},
        {"121.5 to even", "121.5", false, 122},
        {"150.6 up", "150.6", false, 151},
        {"second full stop ends the number", "150.5.9", false, 150},
        {"trailing full stop", "150.", false, 150},
        {"same as shown", "120", false, 120},
        {"pasted blanks between digits", " 1 5\t0", true, 150},
        {"pasted digits then letters", "150abc", true, 150},
        {"pasted sign", "-150", true, 40},
        {"pasted letters", "abc", true, 40},
        {"typed 300", "300", false, 208},
        {"typed 5", "5", false, 40},
        {"empty", "", false, 40},
        {"lone full stop", ".", false, 40},
        {"1.2.3 reads as 1", "1.2.3", false, 40},
        {"beyond 32 bits", "99999999999", false, 208},
        {"beyond a double", nines.constData(), false, 208},
    };
    for (const Case &c : cases) {
        const QString text = QString::fromLatin1(c.text);
        // Shift+Tab leaves for the slider, which passes the focus straight back.
        for (const Qt::Key apply : {Qt::Key_Return, Qt::Key_Tab, Qt::Key_Backtab}) {
            const char *how = apply == Qt::Key_Return ? "Enter" : apply == Qt::Key_Tab ? "Tab" : "Shift+Tab";
            QTest::addRow("%s, %s", c.name, how) << 120 << text << c.pasted << apply << c.expected;
            // From the end the value is held to, where the slider does not move.
            if (c.expected == 40 || c.expected == 208) {
                QTest::addRow("%s, %s, from %d", c.name, how, c.expected)
                    << c.expected << text << c.pasted << apply << c.expected;
            }
        }
    }
}

void TestTempo::textApplied()
{
    QFETCH(int, start);
    QFETCH(QString, text);
    QFETCH(bool, pasted);
    QFETCH(Qt::Key, apply);
    QFETCH(int, expected);
    setTempo(start);
    if (pasted) {
        QGuiApplication::clipboard()->setText(text);
        m_w->Text1->selectAll();
        m_w->Text1->paste();
        QCOMPARE(m_w->Text1->text(), text); // pasting is not filtered
    } else {
        retype(text);
    }
    QCOMPARE(m_w->m_intBpm, std::int16_t(start)); // nothing is applied while it is typed
    QTest::keyClick(window(), apply);
    QCOMPARE(shown(*m_w), agreeing(expected));
    QCOMPARE(QApplication::focusWidget(), apply == Qt::Key_Tab ? static_cast<QWidget *>(m_w->cboMeter) : m_w->Text1);
}

void TestTempo::keyFilter_data()
{
    QTest::addColumn<Qt::Key>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
    QTest::addColumn<int>("cursor");
    QTest::addColumn<QString>("expected");
    const Qt::KeyboardModifiers none;
    // Texts as the window system delivers them with the key.
    QTest::newRow("digit") << Qt::Key_7 << "7" << none << 3 << "1207";
    QTest::newRow("full stop") << Qt::Key_Period << "." << none << 3 << "120.";
    QTest::newRow("backspace") << Qt::Key_Backspace << "\b" << none << 3 << "12";
    QTest::newRow("Delete as X11 sends it") << Qt::Key_Delete << "\x7f" << none << 0 << "20";
    QTest::newRow("Delete without text") << Qt::Key_Delete << "" << none << 0 << "20";
    QTest::newRow("letter") << Qt::Key_A << "a" << none << 3 << "120";
    QTest::newRow("capital") << Qt::Key_E << "E" << Qt::KeyboardModifiers(Qt::ShiftModifier) << 3 << "120";
    QTest::newRow("blank") << Qt::Key_Space << " " << none << 1 << "120";
    QTest::newRow("minus") << Qt::Key_Minus << "-" << none << 0 << "120";
    QTest::newRow("plus") << Qt::Key_Plus << "+" << none << 0 << "120";
    // Qt's codes of these characters are the classic codes of Up and Down.
    QTest::newRow("ampersand") << Qt::Key_Ampersand << "&" << Qt::KeyboardModifiers(Qt::ShiftModifier) << 3 << "120";
    QTest::newRow("left parenthesis") << Qt::Key_ParenLeft << "(" << Qt::KeyboardModifiers(Qt::ShiftModifier) << 3
                                      << "120";
    QTest::newRow("comma") << Qt::Key_Comma << "," << none << 3 << "120";
    QTest::newRow("accented letter") << Qt::Key_Eacute << QStringLiteral("\u00e9") << none << 3 << "120";
    QTest::newRow("Ctrl+V as X11 sends it")
        << Qt::Key_V << "\x16" << Qt::KeyboardModifiers(Qt::ControlModifier) << 3 << "120";
    QTest::newRow("digit of another script, beyond 16 bits")
        << Qt::Key_unknown << QStringLiteral("\U0001D7D7") << none << 3 << "120";
}

void TestTempo::keyFilter()
{
    QFETCH(Qt::Key, key);
    QFETCH(QString, text);
    QFETCH(Qt::KeyboardModifiers, modifiers);
    QFETCH(int, cursor);
    QFETCH(QString, expected);
    QGuiApplication::clipboard()->setText(QStringLiteral("9"));
    m_w->Text1->setCursorPosition(cursor);
    QTest::sendKeyEvent(QTest::Click, window(), key, text, modifiers);
    QCOMPARE(m_w->Text1->text(), expected);
    QCOMPARE(m_w->m_intBpm, std::int16_t(120));
}

void TestTempo::inputMethodTextIsFiltered()
{
    m_w->Text1->setCursorPosition(3);
    QInputMethodEvent composed;
    composed.setCommitString(QStringLiteral("1\u00e9 5x"));
    QApplication::sendEvent(m_w->Text1, &composed);
    QCOMPARE(m_w->Text1->text(), QStringLiteral("12015"));
    QInputMethodEvent letters;
    letters.setCommitString(QStringLiteral("abc"));
    QApplication::sendEvent(m_w->Text1, &letters);
    QCOMPARE(m_w->Text1->text(), QStringLiteral("12015"));
}

void TestTempo::dragUpdatesBeforeRelease()
{
    QSlider *slider = m_w->Slider1;
    const QPoint grip = thumbRect(slider).center();
    QTest::mousePress(slider, Qt::LeftButton, {}, grip);
    QVERIFY(slider->isSliderDown());
    QTest::mouseMove(slider, QPoint(grip.x(), slider->height() + 20));
    QCOMPARE(shown(*m_w), agreeing(208));
    QTest::mouseMove(slider, QPoint(grip.x(), -20));
    QCOMPARE(shown(*m_w), agreeing(40));
    QVERIFY(slider->isSliderDown()); // all of it before the button is let go
    QCOMPARE(QApplication::focusWidget(), m_w->Text1);
    QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(grip.x(), -20));
    QVERIFY(!slider->isSliderDown());
    QCOMPARE(shown(*m_w), agreeing(40));
    QCOMPARE(QApplication::focusWidget(), m_w->Text1);
}

void TestTempo::clickOnSlider_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("below");
    QTest::addColumn<int>("expected");
    // A click on the groove moves the thumb one large step towards it; the minimum is at the top.
    QTest::newRow("below the thumb") << "" << true << 140;
    QTest::newRow("above the thumb") << "" << false << 100;
    QTest::newRow("below, after typing 60") << "60" << true << 80;
    QTest::newRow("above, after typing 200") << "200" << false << 180;
    QTest::newRow("below, after a lone full stop") << "." << true << 60;
}

void TestTempo::clickOnSlider()
{
    QFETCH(QString, typed);
    QFETCH(bool, below);
    QFETCH(int, expected);
    if (!typed.isEmpty())
        retype(typed);
    QSlider *slider = m_w->Slider1;
    const QPoint end(slider->width() / 2, below ? slider->height() - 3 : 2);
    QTest::mouseClick(slider, Qt::LeftButton, {}, end);
    QCOMPARE(shown(*m_w), agreeing(expected));
    QCOMPARE(QApplication::focusWidget(), m_w->Text1);
}

void TestTempo::multiplierLeavesTempoAlone()
{
    retype(QStringLiteral("150"));
    const QString before = shown(*m_w);
    for (const char *tag : {"2", "4", "1"}) {
        QTest::mouseClick(m_w->imgDouble, Qt::LeftButton);
        QCOMPARE(m_w->imgDouble->Tag(), QString::fromLatin1(tag));
        QCOMPARE(shown(*m_w), before); // the typed 150 is still only typed
        QCOMPARE(QApplication::focusWidget(), m_w->Text1);
    }
    QTest::keyClick(window(), Qt::Key_Return);
    QTest::mouseClick(m_w->imgDouble, Qt::LeftButton);
    QCOMPARE(m_w->imgDouble->Tag(), QStringLiteral("2"));
    QCOMPARE(shown(*m_w), agreeing(150));
}

void TestTempo::tapSeries_data()
{
    QTest::addColumn<QList<int>>("taps"); // clock readings in ms
    QTest::addColumn<int>("tempo");
    QTest::newRow("one tap changes nothing") << QList<int>{0} << 120;
    QTest::newRow("two taps 500 ms apart") << QList<int>{0, 500} << 120;
    QTest::newRow("two taps 600 ms apart") << QList<int>{0, 600} << 100;
    QTest::newRow("four taps 400 ms apart") << QList<int>{0, 400, 800, 1200} << 150;
    QTest::newRow("the mean, rounded: 112.5") << QList<int>{0, 500, 1100, 1600} << 113;
    QTest::newRow("only the last four intervals") << QList<int>{0, 1500, 1900, 2300, 2700, 3100} << 150;
    QTest::newRow("a 2 s pause starts a new series") << QList<int>{0, 500, 2500, 3100} << 100;
    QTest::newRow("just under the pause") << QList<int>{0, 1999} << 40;
    QTest::newRow("slower than 40 is held at 40") << QList<int>{0, 1600} << 40;
    QTest::newRow("faster than 208 is held at 208") << QList<int>{0, 100} << 208;
    QTest::newRow("two taps in one millisecond") << QList<int>{0, 0} << 208;
}

void TestTempo::tapSeries()
{
    QFETCH(QList<int>, taps);
    QFETCH(int, tempo);
    const std::uint32_t start = 0xFFFFFF00u; // every series crosses the wrap of the count
    FakeClock clock(start);
    pulsewerk::RecordingMidiOut::Log midi;
    const RecordingContext program(midi, clock);
    for (const int tap : taps) {
        clock.advance(start + static_cast<std::uint32_t>(tap) - clock.timeGetTime());
        QTest::keyClick(window(), Qt::Key_T);
    }
    QCOMPARE(shown(*m_w), agreeing(tempo));
}

QTEST_MAIN(TestTempo)
#include "tst_tempo.moc"
