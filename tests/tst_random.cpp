// SPDX-License-Identifier: GPL-3.0-or-later
// Random user input on the real beat loop: thousands of key presses, typed and pasted
// texts, clicks and double clicks, slider moves, meter choices and dialog sessions,
// fed as scripted actions on the fake clock, with the window's rules checked after
// every single event and the MIDI stream checked as it grows and at the end.
//
// The run is fixed by its seed, which is printed. PULSEWERK_RANDOM_SEED overrides the
// seed and PULSEWERK_RANDOM_EVENTS the number of events (default 10000); a shorter run
// repeats the first events of a longer one with the same seed. A failure names the
// check, the event (its number and clock time) and the events before it.
#include "TestSupport.h"

#include "dialogs/frmAbout.h"
#include "dialogs/frmCustomMeter.h"
#include "dialogs/frmOptions.h"
#include "engine/mdlMain.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QInputMethodEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <vector>

using Access = frmMainTestAccess;

namespace {

constexpr std::uint64_t kDefaultSeed = 20240611;
constexpr int kDefaultEvents = 10000;

std::uint64_t environmentNumber(const char *name, std::uint64_t fallback)
{
    const QByteArray text = qgetenv(name);
    if (text.isEmpty())
        return fallback;
    bool ok = false;
    const qulonglong value = text.trimmed().toULongLong(&ok, 0);
    if (!ok)
        qFatal("%s is not a number: %s", name, text.constData());
    return value;
}

// Qt's warnings about key and mouse events that no widget took (an Escape in the tempo
// box, a release off a picture button) and the offscreen platform's notes that it cannot
// raise windows or grab the keyboard are expected by the thousand; they are counted,
// every other message is passed on.
QtMessageHandler g_previousHandler = nullptr;
int g_ignoredWarnings = 0;

void filterMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg && (message.startsWith(QLatin1String("Keyboard event not accepted")) ||
                                 message.startsWith(QLatin1String("Mouse event \"")) ||
                                 message.startsWith(QLatin1String("This plugin does not support")))) {
        ++g_ignoredWarnings;
        return;
    }
    g_previousHandler(type, context, message);
}

class Random {
public:
    explicit Random(std::uint64_t seed) : m_engine(seed) {}
    std::uint32_t below(std::size_t n) { return static_cast<std::uint32_t>(m_engine() % n); }
    int between(int low, int high) { return low + static_cast<int>(below(static_cast<std::size_t>(high - low + 1))); }
    bool chance(int percent) { return below(100) < static_cast<std::uint32_t>(percent); }
    template <typename T> const T &pick(const std::vector<T> &items) { return items[below(items.size())]; }

private:
    std::mt19937_64 m_engine;
};

// One key as the keyboard delivers it: the key, the text it carries and the modifiers.
struct Key {
    Qt::Key key = Qt::Key_unknown;
    QString text;
    Qt::KeyboardModifiers modifiers;
    QString name;
    bool character = false; // a typed character, not an arrow, editing or window key
};

Key specialKey(Qt::Key key, Qt::KeyboardModifiers modifiers, const QString &name)
{
    const char ascii = QTest::keyToAscii(key);
    return {key, ascii ? QString(QChar::fromLatin1(ascii)) : QString(), modifiers, name};
}

Key characterKey(QChar c)
{
    Qt::Key key = Qt::Key_unknown;
    if (c.unicode() < 128 && c.isPrint())
        key = static_cast<Qt::Key>(QTest::asciiToKey(static_cast<char>(c.unicode())));
    return {key, QString(c), c.isUpper() ? Qt::ShiftModifier : Qt::NoModifier, QString(c), true};
}

QString modifierName(Qt::KeyboardModifiers modifiers)
{
    QString name;
    if (modifiers & Qt::ShiftModifier)
        name += QLatin1String("Shift+");
    if (modifiers & Qt::ControlModifier)
        name += QLatin1String("Ctrl+");
    if (modifiers & Qt::AltModifier)
        name += QLatin1String("Alt+");
    return name;
}

QString printable(const QString &text)
{
    QString shown;
    for (const QChar c : text) {
        if (c.unicode() < 32 || c.unicode() == 127)
            shown += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            shown += c;
    }
    if (shown.size() > 60)
        shown = shown.left(40) + QStringLiteral("...(%1 chars)").arg(text.size());
    return QLatin1Char('"') + shown + QLatin1Char('"');
}

const std::array<QString, 4> kFixedPatterns{QStringLiteral("1"), QStringLiteral("2111"), QStringLiteral("211"),
                                            QStringLiteral("21")};

// The number a user means by a text: blanks, tabs and line feeds are skipped, digits
// with at most one decimal point are read, anything else ends the number; a text
// without one reads as 0. Written out here, apart from the program's own reading.
double leadingNumber(const QString &text)
{
    QString number;
    bool point = false;
    int integerDigits = 0;
    for (const QChar c : text) {
        if (c == u' ' || c == u'\t' || c == u'\n')
            continue;
        if (c >= u'0' && c <= u'9') {
            number += c;
            // Leading zeros do not make a number large.
            if (!point && (integerDigits > 0 || c != u'0'))
                ++integerDigits;
        } else if (c == u'.' && !point) {
            point = true;
            number += c;
        } else {
            break;
        }
    }
    if (integerDigits > 15)
        return 1e300; // far beyond every range here
    bool ok = false;
    const double value = number.toDouble(&ok);
    return ok ? value : 0.0;
}

// Rounded to the nearest whole number, halves to the even neighbour (the default
// floating-point rounding mode), and held within [low, high].
long long roundedWithin(double value, long long low, long long high)
{
    const double rounded = std::nearbyint(std::min(value, 1e18));
    return std::clamp(static_cast<long long>(rounded), low, high);
}

// The tempo that a text in the tempo box gives once applied.
int tempoFromText(const QString &text) { return static_cast<int>(roundedWithin(leadingNumber(text), 40, 208)); }

// The main window's state that a dialog must leave alone while it is open.
struct MainState {
    int bpm = 0;
    int slider = 0;
    QString text;
    QString pattern;
    int beat = 0;
    std::array<int, 5> sound{}; // channel, strong note, strong velocity, weak note, weak velocity
    QString multiplier;
    QString mute;
    QWidget *focus = nullptr;

    bool sameAs(const MainState &o) const
    {
        return bpm == o.bpm && slider == o.slider && text == o.text && pattern == o.pattern && beat == o.beat &&
               sound == o.sound && multiplier == o.multiplier && mute == o.mute;
    }
};

// What the event did to the tempo box, for the rule on when it must show the tempo.
struct TextEffect {
    bool applies = false; // an event that hands the text to the slider or rewrites it
    bool edits = false;   // typing or pasting into the tempo box
    bool slider = false;  // the slider itself was worked
    int expectedBpm = 0;  // the tempo the event must leave, when it is known (else 0)
    QString why;          // how the expected tempo was worked out
};

class Fuzzer {
public:
    Fuzzer(BeatHarness &h, std::uint64_t seed, int events) : m_h(h), m_w(h.window()), m_rnd(seed), m_events(events)
    {
        QObject::connect(m_w.cboMeter, &QComboBox::activated, &m_dialogWatch,
                         [this](int index) { afterMeterChoice(index); });
        m_dialogWatch.fuzzer = this;
        qApp->installEventFilter(&m_dialogWatch);
    }
    ~Fuzzer() { qApp->removeEventFilter(&m_dialogWatch); }

    // Scripts every event and the exit on the fake clock; returns the time of the exit.
    std::uint32_t schedule(std::uint64_t seed)
    {
        Random times(seed ^ 0x9E3779B97F4A7C15ull);
        std::uint32_t t = 0;
        for (int i = 1; i <= m_events; ++i) {
            const int kind = static_cast<int>(times.below(100));
            if (kind < 45)
                t += static_cast<std::uint32_t>(times.between(0, 60)); // quick bursts
            else if (kind < 90)
                t += static_cast<std::uint32_t>(times.between(60, 400));
            else
                t += static_cast<std::uint32_t>(times.between(400, 2500)); // pauses of several beats
            m_h.clock.at(t, [this, i] { mainEvent(i); });
            m_times.push_back(t);
        }
        const std::uint32_t end = t + 700;
        m_h.clock.at(end, [this] { exitEvent(); });
        m_h.clock.at(end + 5000, [this] {
            if (!mdlMain::g_blnQuit) {
                fail("the exit ends the program", QStringLiteral("still running 5 s after the exit event"));
                m_w.close();
            }
        });
        return end;
    }

    // The checks that need the whole run: the MIDI stream and the output's life.
    void checkAfterRun(int loopEnds)
    {
        m_index = m_events + 1;
        m_where = QStringLiteral("after the run");
        check("the beat loop ends the program once", loopEnds == 1, QStringLiteral("ends: %1").arg(loopEnds));
        checkNewMidi();
        check("the output is opened once and closed once", m_h.midi.opens == 1 && m_h.midi.closes == 1,
              QStringLiteral("opens %1, closes %2").arg(m_h.midi.opens).arg(m_h.midi.closes));
        check("nothing is sent while the output is closed", m_h.midi.sentWhileClosed == 0,
              QStringLiteral("%1 messages").arg(m_h.midi.sentWhileClosed));
        // Every note-on is followed, later in the stream, by the same channel and note at velocity 0.
        std::map<std::pair<int, int>, std::size_t> sounding; // (status, note) -> index of its note-on
        const auto &messages = m_h.midi.messages;
        for (std::size_t i = 0; i < messages.size(); ++i) {
            const auto &m = messages[i];
            const auto key = std::make_pair(int(m.status()), int(m.data1()));
            if (m.data2() != 0)
                sounding.emplace(key, i);
            else
                sounding.erase(key);
        }
        for (const auto &[key, index] : sounding) {
            const auto &m = messages[index];
            fail("every note-on is released later in the stream",
                 QStringLiteral("message %1 of %2 at %3 ms: %4 never released")
                     .arg(index)
                     .arg(messages.size())
                     .arg(m.timeMs - m_clockStart)
                     .arg(m.message, 6, 16, QLatin1Char('0')));
        }
        check("the window is gone after the exit", !m_w.isVisible(), QString());
    }

    void setClockStart(std::uint32_t start) { m_clockStart = start; }

    QStringList failures;
    std::map<QString, int> failureCounts;
    std::map<QString, int> stats;

private:
    // ---- Checks ------------------------------------------------------------------------

    void fail(const char *what, const QString &detail)
    {
        const QString key = QString::fromLatin1(what);
        if (failureCounts[key]++ > 0)
            return;
        QString report = QStringLiteral("FAILED CHECK: %1\n  at event #%2 (%3), clock %4 ms: %5\n  events before it:\n")
                             .arg(key)
                             .arg(m_index)
                             .arg(m_where)
                             .arg(m_h.clock.sinceStart())
                             .arg(detail);
        for (const QString &line : m_log)
            report += QStringLiteral("    ") + line + QLatin1Char('\n');
        failures << report;
        qWarning().noquote() << report.section(QLatin1Char('\n'), 0, 1);
    }

    void check(const char *what, bool ok, const QString &detail)
    {
        if (!ok)
            fail(what, detail);
    }

    void log(const QString &line)
    {
        m_log.push_back(QStringLiteral("#%1 t=%2 %3").arg(m_index).arg(m_h.clock.sinceStart()).arg(line));
        if (m_log.size() > 25)
            m_log.pop_front();
    }

    void count(const QString &what) { ++stats[what]; }

    MainState mainState() const
    {
        MainState s;
        s.bpm = m_w.m_intBpm;
        s.slider = m_w.Slider1->value();
        s.text = m_w.Text1->text();
        s.pattern = Access::pattern(m_w);
        s.beat = Access::beat(m_w);
        s.sound = {Access::channel(m_w), Access::strongNote(m_w), Access::strongVelocity(m_w), Access::weakNote(m_w),
                   Access::weakVelocity(m_w)};
        s.multiplier = m_w.imgDouble->Tag();
        s.mute = m_w.imgMute->Tag();
        s.focus = m_w.focusWidget();
        return s;
    }

    static QString describe(const MainState &s)
    {
        return QStringLiteral("bpm %1 slider %2 text %3 pattern %4 beat %5 sound %6/%7/%8/%9/%10 x%11 mute %12")
            .arg(s.bpm)
            .arg(s.slider)
            .arg(printable(s.text), printable(s.pattern))
            .arg(s.beat)
            .arg(s.sound[0])
            .arg(s.sound[1])
            .arg(s.sound[2])
            .arg(s.sound[3])
            .arg(s.sound[4])
            .arg(s.multiplier, s.mute);
    }

    // The rules that hold after every event, in the main window and inside dialogs.
    void checkInvariants()
    {
        const int bpm = m_w.m_intBpm;
        check("the tempo stays within 40..208", bpm >= 40 && bpm <= 208, QStringLiteral("m_intBpm %1").arg(bpm));
        check("the slider and the tempo agree", m_w.Slider1->value() == bpm,
              QStringLiteral("slider %1, m_intBpm %2").arg(m_w.Slider1->value()).arg(bpm));

        const QString pattern = Access::pattern(m_w);
        check("the pattern has 1..19 characters", !pattern.isEmpty() && pattern.size() <= 19,
              QStringLiteral("pattern %1").arg(printable(pattern)));
        const int beat = Access::beat(m_w);
        check("the beat cursor lies within the pattern", beat >= 0 && beat < pattern.size(),
              QStringLiteral("cursor %1, pattern %2").arg(beat).arg(printable(pattern)));
        checkLamps();

        const std::array<int, 5> sound{Access::channel(m_w), Access::strongNote(m_w), Access::strongVelocity(m_w),
                                       Access::weakNote(m_w), Access::weakVelocity(m_w)};
        bool inRange = sound[0] >= 1 && sound[0] <= 16;
        for (std::size_t i = 1; i < sound.size(); ++i)
            inRange = inRange && sound[i] >= 0 && sound[i] <= 127;
        check("the sound settings stay within their ranges", inRange,
              QStringLiteral("channel %1, strong %2/%3, weak %4/%5")
                  .arg(sound[0])
                  .arg(sound[1])
                  .arg(sound[2])
                  .arg(sound[3])
                  .arg(sound[4]));

        const QString multiplier = m_w.imgDouble->Tag();
        check("the multiplier is 1, 2 or 4",
              multiplier == QLatin1String("1") || multiplier == QLatin1String("2") || multiplier == QLatin1String("4"),
              QStringLiteral("tag %1").arg(printable(multiplier)));
        const QString mute = m_w.imgMute->Tag();
        check("the mute state is 0 or 1", mute == QLatin1String("0") || mute == QLatin1String("1"),
              QStringLiteral("tag %1").arg(printable(mute)));
        check("the slider never keeps the focus", m_w.focusWidget() != m_w.Slider1, QString());
        checkTempoLabels();
        const int entry = m_w.cboMeter->currentIndex();
        check("the meter list shows the meter in use",
              entry == 4 || (entry >= 0 && entry < 4 && pattern == kFixedPatterns[static_cast<std::size_t>(entry)]),
              QStringLiteral("entry %1, pattern %2").arg(entry).arg(printable(pattern)));

        checkNewMidi();
        check("the output stays open while the program runs", m_h.midi.opens == 1 && m_h.midi.closes == 0,
              QStringLiteral("opens %1, closes %2").arg(m_h.midi.opens).arg(m_h.midi.closes));
    }

    // Exactly the tempo name whose range holds the tempo is highlighted: cyan and bold.
    void checkTempoLabels()
    {
        static const std::array<int, 9> lower{40, 60, 66, 76, 108, 120, 168, 200, 209};
        const int bpm = m_w.m_intBpm;
        for (std::size_t i = 0; i < m_w.lblTempo.size(); ++i) {
            const QLabel *label = m_w.lblTempo[i];
            const bool highlighted = lower[i] <= bpm && bpm < lower[i + 1];
            const QColor colour = label->palette().color(QPalette::WindowText);
            const bool looks = highlighted ? label->font().bold() && colour == QColor(0, 255, 255)
                                           : !label->font().bold() && colour == QColor(255, 255, 255);
            check("the tempo name of the tempo's range is highlighted, no other", looks,
                  QStringLiteral("tempo %1: %2 is %3, %4")
                      .arg(bpm)
                      .arg(label->text(), label->font().bold() ? "bold" : "regular", colour.name()));
        }
    }

    void checkLamps()
    {
        const QString pattern = Access::pattern(m_w);
        int lit = 0;
        for (int i = 0; i < static_cast<int>(m_w.imgLed.size()); ++i) {
            const pulsewerk::PictureBox *lamp = m_w.imgLed[static_cast<std::size_t>(i)];
            const bool shown = !lamp->isHidden();
            if (shown != (i < pattern.size())) {
                fail("the lamps shown are the pattern's positions",
                     QStringLiteral("lamp %1 %2, pattern %3")
                         .arg(i)
                         .arg(shown ? "shown" : "hidden", printable(pattern)));
                return;
            }
            if (!shown)
                continue;
            const QString picture = lamp->Picture();
            const bool on = picture == QLatin1String("LED_RON") || picture == QLatin1String("LED_GON");
            lit += on;
            check("only the lamp of the beat cursor can be lit", !on || i == Access::beat(m_w),
                  QStringLiteral("lamp %1 lit, cursor %2, pattern %3")
                      .arg(i)
                      .arg(Access::beat(m_w))
                      .arg(printable(pattern)));
            const QChar c = pattern.at(i);
            bool fits = false;
            if (c == u'2')
                fits = picture == QLatin1String("LED_RON") || picture == QLatin1String("LED_ROFF");
            else if (c == u'1')
                fits = picture == QLatin1String("LED_GON") || picture == QLatin1String("LED_GOFF");
            else
                fits = picture == QLatin1String("LED_GOFF");
            check("each lamp shows its position's colour", fits,
                  QStringLiteral("lamp %1 shows %2 for %3 of %4")
                      .arg(i)
                      .arg(picture, printable(QString(c)), printable(pattern)));
        }
        check("at most one lamp is lit", lit <= 1,
              QStringLiteral("%1 lamps lit, pattern %2").arg(lit).arg(printable(pattern)));
    }

    // Every message sent since the last look: a well-formed note-on or release.
    void checkNewMidi()
    {
        const auto &messages = m_h.midi.messages;
        for (; m_midiChecked < messages.size(); ++m_midiChecked) {
            const auto &m = messages[m_midiChecked];
            const bool wellFormed =
                m.status() >= 0x90 && m.status() <= 0x9F && m.data1() < 128 && m.data2() < 128 && m.byte3() == 0;
            check("every MIDI message is a well-formed note-on", wellFormed,
                  QStringLiteral("message %1: %2").arg(m_midiChecked).arg(m.message, 8, 16, QLatin1Char('0')));
        }
        check("nothing is sent while the output is closed", m_h.midi.sentWhileClosed == 0,
              QStringLiteral("%1 messages").arg(m_h.midi.sentWhileClosed));
    }

    // The beat loop's messages since the last event: note-ons only while the sound is on,
    // on the window's channel, with the strong or the weak note and velocity of the
    // pattern; each released once its sounding time is over; the beats on one grid.
    // Tempo, multiplier, pattern, mute and sound settings change only by events, so
    // the values now are those the loop used since the last event.
    void checkLoopMessages()
    {
        const auto &messages = m_h.midi.messages;
        const QString pattern = Access::pattern(m_w);
        const int channel = Access::channel(m_w) - 1;
        const std::uint32_t strong = NoteOn(channel, Access::strongNote(m_w), Access::strongVelocity(m_w));
        const std::uint32_t weak = NoteOn(channel, Access::weakNote(m_w), Access::weakVelocity(m_w));
        const bool soundOn = m_w.imgMute->Tag() == QLatin1String("0");
        const int multiplier = std::max(m_w.imgDouble->Tag().toInt(), 1);
        const int period = std::max((60000 / std::max<int>(m_w.m_intBpm, 1)) / multiplier, 1);
        const int sounding = std::min(period / 2, 200);
        const std::uint32_t now = m_h.clock.sinceStart();
        // When a message was sent, and the time it is meant for, which the output keeps: the
        // loop may send a beat or a release a moment ahead, with a lamp change it wakes for.
        auto sent = [this](const pulsewerk::RecordedMessage &m) { return m.timeMs - m_clockStart; };
        auto at = [this](const pulsewerk::RecordedMessage &m) { return m.atMs - m_clockStart; };
        int noteOns = 0;
        std::uint32_t previous = 0;
        for (; m_loopChecked < messages.size(); ++m_loopChecked) {
            const auto &m = messages[m_loopChecked];
            if (m.data2() == 0)
                continue;
            const std::uint32_t t = at(m);
            const bool fits =
                (pattern.contains(u'2') && m.message == strong) || (pattern.contains(u'1') && m.message == weak);
            count(QStringLiteral("checked: beat note-on"));
            check("the beat sounds the pattern's notes on the window's channel, unless muted", soundOn && fits,
                  QStringLiteral("message %1 at %2 ms: %3; pattern %4, strong %5, weak %6, mute %7")
                      .arg(m_loopChecked)
                      .arg(t)
                      .arg(m.message, 6, 16, QLatin1Char('0'))
                      .arg(printable(pattern))
                      .arg(strong, 6, 16, QLatin1Char('0'))
                      .arg(weak, 6, 16, QLatin1Char('0'))
                      .arg(m_w.imgMute->Tag()));
            // Released by the first pass after the sounding time, counted from when the beat
            // was both due and sent, unless an event comes first.
            const std::uint32_t releaseBy = std::max(t, sent(m)) + static_cast<std::uint32_t>(sounding) + 1;
            if (releaseBy < now) {
                bool released = false;
                for (std::size_t j = m_loopChecked + 1; j < messages.size() && sent(messages[j]) <= releaseBy; ++j) {
                    const auto &r = messages[j];
                    released = released || (r.status() == m.status() && r.data1() == m.data1() && r.data2() == 0);
                }
                count(QStringLiteral("checked: release within the sounding time"));
                // A beat that comes late on its grid point (the first pass after a tempo
                // rise, a multiplier step or a held dialog) by more than the sounding
                // time is released by the very next pass, not a whole period later.
                check("a beat's note is released once its sounding time is over", released,
                      QStringLiteral("note-on %1 at %2 ms, period %3, sounding time %4: no release by %5 ms")
                          .arg(m.message, 6, 16, QLatin1Char('0'))
                          .arg(t)
                          .arg(period)
                          .arg(sounding)
                          .arg(releaseBy));
            }
            // The first note-on after an event may be a late beat off the grid; from then
            // on the beats keep the grid, one period apart.
            if (noteOns >= 2) {
                check("the beats keep their grid between events",
                      (t - previous) % static_cast<std::uint32_t>(period) == 0,
                      QStringLiteral("note-ons at %1 and %2 ms, period %3").arg(previous).arg(t).arg(period));
                count(QStringLiteral("checked: beat on the grid"));
            }
            ++noteOns;
            previous = t;
        }
    }

    // A main window event sounds no note of its own (the mute releases one); only the
    // options dialog's auditions may, and those are checked key by key.
    void checkEventMessages()
    {
        const auto &messages = m_h.midi.messages;
        for (; m_loopChecked < messages.size(); ++m_loopChecked) {
            const auto &m = messages[m_loopChecked];
            check("an event in the main window starts no note", m.data2() == 0 || m_optionsShown,
                  QStringLiteral("message %1: %2").arg(m_loopChecked).arg(m.message, 6, 16, QLatin1Char('0')));
        }
    }

    // The tempo box shows the tempo unless the user has typed into it and not applied
    // the text yet. Precisely, after each main window event:
    // - an event that applies the text (Enter, Up or Down, Tab or Shift+Tab in the box,
    //   the focus leaving the box for another control of the window, a slider click or
    //   drag, any slider move) leaves exactly the tempo in the box;
    // - typing, pasting or editing in the box may leave other text: that is unapplied
    //   typing, allowed only while the box keeps the focus;
    // - any other event leaves the box as it was: the tempo, or the unapplied typing.
    // Where the key or the text fixes the new tempo (Enter and leaving the box: the
    // text's leading number rounded half to even and held within 40..208; Up and Down:
    // 1 or, with Shift, Ctrl or Alt, 20 down or up, held within 40..208) it is checked.
    void checkTempoBox(const MainState &before, const TextEffect &effect)
    {
        const QString shown = QString::number(m_w.m_intBpm);
        const QString text = m_w.Text1->text();
        QWidget *focus = m_w.focusWidget();
        const bool leftTheBox = before.focus == m_w.Text1 && focus != m_w.Text1 && focus != nullptr;
        const bool sliderMoved = before.slider != m_w.Slider1->value();
        int expected = effect.expectedBpm;
        QString why = effect.why;
        if (!expected && leftTheBox && !effect.slider) {
            expected = tempoFromText(before.text);
            why = QStringLiteral("leaving the box with %1").arg(printable(before.text));
        }
        if (expected)
            check("the tempo is the one the key or the typed text asks for", m_w.m_intBpm == expected,
                  QStringLiteral("tempo %1, expected %2 (%3)").arg(m_w.m_intBpm).arg(expected).arg(why));
        if (expected)
            count(QStringLiteral("checked: tempo from a key or typed text"));
        if (effect.applies || leftTheBox || sliderMoved) {
            check("the tempo box shows the tempo once its text is applied", text == shown,
                  QStringLiteral("text %1, tempo %2 (before: %3)").arg(printable(text), shown, printable(before.text)));
            m_pendingText = false;
        } else if (effect.edits) {
            m_pendingText = text != shown;
        } else if (!m_pendingText) {
            check("the tempo box shows the tempo", text == shown,
                  QStringLiteral("text %1, tempo %2").arg(printable(text), shown));
        } else {
            check("unapplied typing stays as typed", text == before.text,
                  QStringLiteral("text %1, before %2").arg(printable(text), printable(before.text)));
        }
        if (m_pendingText)
            check("unapplied typing is only in the focused tempo box", focus == m_w.Text1,
                  QStringLiteral("focus on %1").arg(focus ? focus->objectName() : QStringLiteral("nothing")));
    }

    // The key filters: a typed character that a box does not take leaves its text alone
    // (the channel box rewrites its text from its field on every key).
    void checkKeyFilter(pulsewerk::TextBox *box, const Key &key, const QString &before)
    {
        if (key.text.isEmpty() || key.key == Qt::Key_Return || key.key == Qt::Key_Enter || key.key == Qt::Key_Tab ||
            key.key == Qt::Key_Backtab)
            return;
        QString allowed = QStringLiteral("0123456789.\b");
        if (qobject_cast<frmCustomMeter *>(box->window()))
            allowed = QStringLiteral("012.\b");
        const bool taken = key.text.size() == 1 && allowed.contains(key.text.at(0));
        if (taken)
            return;
        auto *options = qobject_cast<frmOptions *>(box->window());
        if (options && box == options->txtChannel) {
            check("the channel box shows its field after a key it does not take",
                  box->text() == QString::number(options->m_intChannel),
                  QStringLiteral("key %1, text %2, field %3")
                      .arg(key.name, printable(box->text()))
                      .arg(options->m_intChannel));
            return;
        }
        // A character beyond 16 bits (an emoji, the musical sign U+1D11E) arrives as one
        // key with a two-unit text; it is a typed character like any other.
        check("a typed character the box does not take changes nothing", box->text() == before,
              QStringLiteral("%1: key %2 text %3 turned %4 into %5")
                  .arg(box->objectName(), key.name, printable(key.text), printable(before), printable(box->text())));
    }

    // ---- Input ---------------------------------------------------------------------------

    Key randomKey(bool forCombo = false)
    {
        const int kind = m_rnd.between(0, forCombo ? 119 : 99);
        if (kind < 30) { // digits, the most useful characters in every box
            return characterKey(QChar(u'0' + m_rnd.between(0, 9)));
        }
        if (kind < 40) {
            // '&', '(', '%' and '\'' share their Qt key numbers with the classic codes of
            // Up, Down, Left and Right; '.' with Delete.
            static const QString others = QStringLiteral(".-. +,eE&(%'");
            return characterKey(others.at(m_rnd.below(static_cast<std::size_t>(others.size()))));
        }
        if (kind < 48) {
            const QChar letter(u'a' + m_rnd.between(0, 25));
            return characterKey(m_rnd.chance(30) ? letter.toUpper() : letter);
        }
        if (kind < 51) {
            static const std::vector<QString> unicode{QStringLiteral("\u00e9"), QStringLiteral("\u00df"),
                                                      QStringLiteral("\u0661"), QStringLiteral("\uff11"),
                                                      QStringLiteral("\u00b2"), QStringLiteral("\u20ac")};
            const QString text = m_rnd.pick(unicode);
            return {Qt::Key_unknown, text, Qt::NoModifier, text, true};
        }
        if (kind < 52) {
            // Characters beyond the Basic Multilingual Plane: two UTF-16 units in one key.
            static const std::vector<QString> astral{QString::fromUtf8("\xF0\x9F\x98\x80"),
                                                     QString::fromUtf8("\xF0\x9D\x84\x9E")};
            const QString text = m_rnd.pick(astral);
            return {Qt::Key_unknown, text, Qt::NoModifier, QStringLiteral("U+%1").arg(text.toUcs4().value(0), 0, 16),
                    true};
        }
        static const std::vector<Qt::KeyboardModifiers> modifierSets{Qt::NoModifier,
                                                                     Qt::NoModifier,
                                                                     Qt::NoModifier,
                                                                     Qt::ShiftModifier,
                                                                     Qt::ControlModifier,
                                                                     Qt::AltModifier,
                                                                     Qt::ShiftModifier | Qt::ControlModifier};
        if (kind < 72) {
            const Qt::Key key = m_rnd.chance(50) ? Qt::Key_Up : Qt::Key_Down;
            const Qt::KeyboardModifiers mods = m_rnd.pick(modifierSets);
            return specialKey(key, mods, modifierName(mods) + (key == Qt::Key_Up ? "Up" : "Down"));
        }
        static const std::vector<std::pair<Qt::Key, const char *>> keys{
            {Qt::Key_Return, "Enter"},        {Qt::Key_Enter, "KeypadEnter"},
            {Qt::Key_Escape, "Escape"},       {Qt::Key_Tab, "Tab"},
            {Qt::Key_Backspace, "Backspace"}, {Qt::Key_Delete, "Delete"},
            {Qt::Key_Home, "Home"},           {Qt::Key_End, "End"},
            {Qt::Key_Left, "Left"},           {Qt::Key_Right, "Right"},
            {Qt::Key_PageUp, "PageUp"},       {Qt::Key_PageDown, "PageDown"},
            {Qt::Key_Space, "Space"},         {Qt::Key_F4, "F4"}};
        const auto &[key, name] = m_rnd.pick(keys);
        Qt::KeyboardModifiers mods = Qt::NoModifier;
        if (m_rnd.chance(25))
            mods = m_rnd.pick(modifierSets);
        if (key == Qt::Key_Enter)
            mods |= Qt::KeypadModifier;
        return specialKey(key, mods, modifierName(mods) + QLatin1String(name));
    }

    QString randomText()
    {
        static const std::vector<QString> samples{
            QStringLiteral("120"),
            QStringLiteral("40"),
            QStringLiteral("208"),
            QStringLiteral("39"),
            QStringLiteral("209"),
            QStringLiteral("0"),
            QStringLiteral(""),
            QStringLiteral("."),
            QStringLiteral("96.5"),
            QStringLiteral("97.5"),
            QStringLiteral("1.2.3"),
            QStringLiteral("-5"),
            QStringLiteral("+7"),
            QStringLiteral("  150  "),
            QStringLiteral("\t 1 2 0\n"),
            QStringLiteral("1e9"),
            QStringLiteral("0x20"),
            QStringLiteral("2147483647"),
            QStringLiteral("2147483648"),
            QStringLiteral("4294967296"),
            QStringLiteral("99999999999999999999"),
            QStringLiteral("32767"),
            QStringLiteral("32768"),
            QStringLiteral("65536"),
            QStringLiteral("127.5"),
            QStringLiteral("126.5"),
            QStringLiteral("16.5"),
            QStringLiteral("2111"),
            QStringLiteral("2101"),
            QStringLiteral("21212121212121212121"),
            QStringLiteral("0000000000000000000"),
            QStringLiteral("abc"),
            QStringLiteral("NaN"),
            QStringLiteral("inf"),
            QStringLiteral("\u0661\u0662\u0660"),
            QStringLiteral("\uff11\uff12\uff10"),
            QStringLiteral("12\u00e90"),
            QString::fromUtf8("2\xF0\x9F\x98\x80"
                              "1"),
            QString::fromUtf8("\xF0\x9D\x84\x9E\xF0\x9D\x84\x9E"),
        };
        const int kind = m_rnd.between(0, 9);
        if (kind < 6)
            return m_rnd.pick(samples);
        QString text;
        const int length = kind < 8 ? m_rnd.between(1, 12) : m_rnd.between(20, 3000);
        static const QString pool = QStringLiteral("0123456789012012.. -+eEx,abcXYZ&(\t\u00e9\u0661\uff11");
        for (int i = 0; i < length; ++i)
            text += pool.at(m_rnd.below(static_cast<std::size_t>(pool.size())));
        return text;
    }

    // Sends one key to `target` and checks what the key must do there: the key filters,
    // the arrows and Enter of the options boxes, and which keys close a dialog.
    void sendKey(QWidget *target, const Key &key)
    {
        auto *box = qobject_cast<pulsewerk::TextBox *>(target);
        const QString before = box ? box->text() : QString();
        const int bpm = m_w.m_intBpm;
        auto *dialog = qobject_cast<QDialog *>(target->window());
        auto *options = qobject_cast<frmOptions *>(dialog);
        const int channel = options ? options->m_intChannel : 0;
        const std::size_t sent = m_h.midi.messages.size();
        const QPointer<QWidget> guard(target);
        QTest::sendKeyEvent(QTest::Click, target, key.key, key.text, key.modifiers);
        if (dialog)
            checkDialogKey(dialog, target, key);
        if (!box || !guard)
            return;
        checkKeyFilter(box, key, before);
        if (options && box != options->txtChannel)
            checkValueKey(options, box, key, before, sent);
        if (options && box == options->txtChannel &&
            (key.key == Qt::Key_Up || key.key == Qt::Key_Down || key.character)) {
            const int expected =
                key.character ? channel : std::clamp(channel + (key.key == Qt::Key_Up ? 1 : -1), 1, 16);
            const bool shows = key.character || box->text() == QString::number(expected);
            check("Up and Down step the channel within 1..16, silently",
                  options->m_intChannel == expected && shows && m_h.midi.messages.size() == sent,
                  QStringLiteral("key %1: channel %2 -> %3 shown as %4, expected %5, %6 messages sent")
                      .arg(key.name)
                      .arg(channel)
                      .arg(options->m_intChannel)
                      .arg(printable(box->text()))
                      .arg(expected)
                      .arg(m_h.midi.messages.size() - sent));
        }
        if (!key.character)
            return;
        // A typed character is never taken for an arrow key or Enter.
        if (box == m_w.Text1)
            check("a typed character leaves the tempo alone", m_w.m_intBpm == bpm,
                  QStringLiteral("key %1: tempo %2 -> %3").arg(key.name).arg(bpm).arg(m_w.m_intBpm));
        if (options)
            check("a typed character neither steps nor sounds an option",
                  options->m_intChannel == channel && m_h.midi.messages.size() == sent,
                  QStringLiteral("key %1 in %2: channel %3 -> %4, %5 messages sent")
                      .arg(key.name, box->objectName())
                      .arg(channel)
                      .arg(options->m_intChannel)
                      .arg(m_h.midi.messages.size() - sent));
    }

    // Escape closes no dialog. Enter presses the focused button, else the default button:
    // OK of the custom meter dialog, Close of the about dialog; the options dialog has none.
    void checkDialogKey(QDialog *dialog, QWidget *target, const Key &key)
    {
        const bool onButton = qobject_cast<QPushButton *>(target) != nullptr;
        if (key.key == Qt::Key_Escape)
            check("Escape closes no dialog", dialog->isVisible(),
                  QStringLiteral("%1 closed by %2").arg(dialog->objectName(), key.name));
        if (key.key == Qt::Key_Return || key.key == Qt::Key_Enter) {
            const bool closes = onButton || !qobject_cast<frmOptions *>(dialog);
            check("Enter presses the focused or the default button", dialog->isVisible() != closes,
                  QStringLiteral("%1 %2 after %3 on %4")
                      .arg(dialog->objectName(), dialog->isVisible() ? "open" : "closed", key.name,
                           target->objectName()));
        }
    }

    // Up and Down step a note or velocity box from its text (within 0..127) and sound a
    // note box's row; Enter writes the value back and sounds the row, note-on then release.
    void checkValueKey(frmOptions *options, pulsewerk::TextBox *box, const Key &key, const QString &before,
                       std::size_t sent)
    {
        const bool up = key.key == Qt::Key_Up;
        const bool down = key.key == Qt::Key_Down;
        const bool enter = key.key == Qt::Key_Return || key.key == Qt::Key_Enter;
        const auto &messages = m_h.midi.messages;
        if (!up && !down && !enter) {
            check("other keys in a note or velocity box sound nothing", messages.size() == sent,
                  QStringLiteral("key %1 in %2: %3 messages")
                      .arg(key.name, box->objectName())
                      .arg(messages.size() - sent));
            return;
        }
        const long long read = roundedWithin(leadingNumber(before), -32768, 32767);
        const int value = static_cast<int>(std::clamp(read + (up ? 1 : down ? -1 : 0), 0LL, 127LL));
        const bool strongRow = box == options->txtStrong || box == options->txtStrongVelocity;
        const bool noteBox = box == options->txtStrong || box == options->txtWeak;
        const int field = box == options->txtStrong           ? options->m_intStrong
                          : box == options->txtStrongVelocity ? options->m_intStrongVel
                          : box == options->txtWeak           ? options->m_intWeak
                                                              : options->m_intWeakVel;
        check("an arrow or Enter writes the box's value back within 0..127",
              box->text() == QString::number(value) && field == value,
              QStringLiteral("key %1 in %2 with %3: text %4, field %5, expected %6")
                  .arg(key.name, box->objectName(), printable(before), printable(box->text()))
                  .arg(field)
                  .arg(value));
        const bool sounds = enter || noteBox;
        count(QStringLiteral("checked: arrow or Enter in a note or velocity box"));
        if (!sounds) {
            check("arrows in a velocity box sound nothing", messages.size() == sent,
                  QStringLiteral("key %1 in %2: %3 messages")
                      .arg(key.name, box->objectName())
                      .arg(messages.size() - sent));
            return;
        }
        const int note = std::clamp<int>(strongRow ? options->m_intStrong : options->m_intWeak, 0, 127);
        const int velocity = std::clamp<int>(strongRow ? options->m_intStrongVel : options->m_intWeakVel, 0, 127);
        const std::uint32_t on = NoteOn(options->m_intChannel - 1, note, velocity);
        const std::uint32_t off = NoteOn(options->m_intChannel - 1, note, 0);
        const bool heard =
            messages.size() == sent + 2 && messages[sent].message == on && messages[sent + 1].message == off;
        QStringList got;
        for (std::size_t i = sent; i < messages.size(); ++i)
            got << QString::number(messages[i].message, 16);
        check("the row's note sounds and ends at once", heard,
              QStringLiteral("key %1 in %2: sent [%3], expected [%4 %5]")
                  .arg(key.name, box->objectName(), got.join(QLatin1Char(' ')))
                  .arg(on, 0, 16)
                  .arg(off, 0, 16));
    }

    // Leaving an options box corrects its text: a note or velocity above 127 shows 127;
    // the channel takes the box's value within 1..16.
    void checkLeaveCheck(frmOptions *options, pulsewerk::TextBox *left, const QString &before)
    {
        count(QStringLiteral("checked: leaving an options box"));
        if (left == options->txtChannel) {
            const int channel = static_cast<int>(roundedWithin(leadingNumber(before), 1, 16));
            check("leaving the channel box takes its value within 1..16",
                  options->m_intChannel == channel && left->text() == QString::number(channel),
                  QStringLiteral("from %1: field %2, text %3, expected %4")
                      .arg(printable(before))
                      .arg(options->m_intChannel)
                      .arg(printable(left->text()))
                      .arg(channel));
            return;
        }
        const QString expected = leadingNumber(before) > 127 ? QStringLiteral("127") : before;
        check("leaving a note or velocity box caps its text at 127", left->text() == expected,
              QStringLiteral("%1 from %2: text %3, expected %4")
                  .arg(left->objectName(), printable(before), printable(left->text()), printable(expected)));
    }

    void clickAt(QWidget *target, QPoint pos = QPoint())
    {
        QTest::mouseClick(target, Qt::LeftButton, {}, pos.isNull() ? target->rect().center() : pos);
    }

    // The window's own activation as a window manager would give it; the offscreen
    // platform delivers it with the next event processing.
    void ensureActive(QWidget *window)
    {
        if (QApplication::activeWindow() == window)
            return;
        window->activateWindow();
        QCoreApplication::processEvents();
        count(QStringLiteral("activations"));
        check("a window can be activated", QApplication::activeWindow() == window,
              QStringLiteral("active: %1")
                  .arg(QApplication::activeWindow() ? QApplication::activeWindow()->objectName()
                                                    : QStringLiteral("none")));
    }

    // ---- Main window events -------------------------------------------------------------

    void mainEvent(int index)
    {
        m_index = index;
        m_where = QStringLiteral("main window");
        if (mdlMain::g_blnQuit)
            return;
        checkLoopMessages();
        ensureActive(&m_w);
        const MainState before = mainState();
        m_optionsShown = false;
        m_dialogsShownThisEvent = 0;
        TextEffect effect;
        armDriver();

        if (QWidget *popup = QApplication::activePopupWidget()) {
            popupEvent(popup);
        } else {
            const int kind = m_rnd.between(0, 99);
            if (kind < 26)
                keyToFocus(effect);
            else if (kind < 32)
                typeIntoFocus(effect);
            else if (kind < 41)
                keyIntoTempoBox(effect);
            else if (kind < 46)
                pasteIntoTempoBox(effect);
            else if (kind < 49)
                editCommandInTempoBox(effect);
            else if (kind < 62)
                clickPicture();
            else if (kind < 66)
                doubleClickPicture();
            else if (kind < 68)
                pressOffPicture();
            else if (kind < 72)
                sliderClick(effect);
            else if (kind < 76)
                sliderDrag(effect);
            else if (kind < 79)
                sliderWheel();
            else if (kind < 84)
                comboClick();
            else if (kind < 87)
                comboWheel();
            else if (kind < 91)
                chooseMeterEntry();
            else if (kind < 96)
                clickAnywhere(effect);
            else
                idle();
        }

        m_where = QStringLiteral("main window");
        check(
            "no dialog stays open after the event", QApplication::activeModalWidget() == nullptr,
            QStringLiteral("open: %1")
                .arg(QApplication::activeModalWidget() ? QApplication::activeModalWidget()->objectName() : QString()));
        checkInvariants();
        checkEventMessages();
        checkTempoBox(before, effect);
        if (m_optionsShown)
            checkOptionsExchange();
    }

    QWidget *mainFocus()
    {
        QWidget *focus = QApplication::focusWidget();
        if (!focus || focus->window() != &m_w)
            focus = m_w.focusWidget();
        return focus ? focus : m_w.Text1;
    }

    void noteKeyEffect(QWidget *target, const Key &key, TextEffect &effect)
    {
        if (target != m_w.Text1)
            return;
        const bool noCtrlAlt = !(key.modifiers & (Qt::ControlModifier | Qt::AltModifier));
        const QString text = m_w.Text1->text();
        if (key.key == Qt::Key_Return || key.key == Qt::Key_Enter ||
            ((key.key == Qt::Key_Tab || key.key == Qt::Key_Backtab) && noCtrlAlt)) {
            effect.applies = true;
            effect.expectedBpm = tempoFromText(text);
            effect.why = QStringLiteral("%1 with %2").arg(key.name, printable(text));
        } else if (key.key == Qt::Key_Up || key.key == Qt::Key_Down) {
            effect.applies = true;
            const bool modified = key.modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
            const int step = modified ? 20 : 1;
            const int bpm = m_w.m_intBpm;
            effect.expectedBpm = std::clamp(key.key == Qt::Key_Up ? bpm - step : bpm + step, 40, 208);
            effect.why = QStringLiteral("%1 at %2").arg(key.name).arg(bpm);
        } else {
            effect.edits = true;
        }
    }

    void keyToFocus(TextEffect &effect)
    {
        QWidget *target = mainFocus();
        const Key key = randomKey(target == m_w.cboMeter);
        log(QStringLiteral("key %1 to %2").arg(key.name, target->objectName()));
        count(QStringLiteral("main: key"));
        noteKeyEffect(target, key, effect);
        sendKey(target, key);
    }

    void typeIntoFocus(TextEffect &effect)
    {
        QWidget *target = mainFocus();
        QString text = randomText().left(40);
        text.remove(QLatin1Char('\t'));
        text.remove(QLatin1Char('\n'));
        if (target == m_w.Text1)
            effect.edits = true;
        if (target == m_w.Text1 && m_rnd.chance(25)) {
            count(QStringLiteral("main: composed text"));
            compose(m_w.Text1, QString());
            return;
        }
        log(QStringLiteral("type %1 into %2").arg(printable(text), target->objectName()));
        count(QStringLiteral("main: typed text"));
        typeText(target, text);
    }

    // Text composed by an input method (a dead key, a compose sequence, an emoji picker)
    // arrives in one commit. The key filter holds for it as for typed keys: it adds no
    // character that the box does not take, and it never moves the tempo.
    void compose(pulsewerk::TextBox *box, const QString &where)
    {
        static const std::vector<QString> commits{
            QStringLiteral("\u00e9"), QStringLiteral("1"),      QStringLiteral("12"),
            QStringLiteral("a1"),     QStringLiteral("\u00bd"), QStringLiteral("\u2460"),
            QStringLiteral("2.5"),    QStringLiteral("&("),     QString::fromUtf8("\xF0\x9F\x98\x80"),
            QStringLiteral("0 1")};
        const QString commit = m_rnd.pick(commits);
        log(QStringLiteral("%1%2compose %3")
                .arg(where, where.isEmpty() ? QString() : QStringLiteral(", "), printable(commit)));
        QString allowed = QStringLiteral("0123456789.");
        if (qobject_cast<frmCustomMeter *>(box->window()))
            allowed = QStringLiteral("012.");
        auto foreign = [&allowed](const QString &text) {
            int n = 0;
            for (const QChar c : text)
                n += !allowed.contains(c);
            return n;
        };
        const int before = foreign(box->text());
        const int bpm = m_w.m_intBpm;
        QInputMethodEvent event(QString(), {});
        event.setCommitString(commit);
        QApplication::sendEvent(box, &event);
        check(
            "composed text passes the key filter", foreign(box->text()) <= before,
            QStringLiteral("%1: commit %2 gives %3").arg(box->objectName(), printable(commit), printable(box->text())));
        check("composed text leaves the tempo alone", m_w.m_intBpm == bpm,
              QStringLiteral("commit %1: tempo %2 -> %3").arg(printable(commit)).arg(bpm).arg(m_w.m_intBpm));
    }

    // Types `text` key by key; a character beyond the Basic Multilingual Plane is one key.
    void typeText(QWidget *target, const QString &text)
    {
        const QPointer<QWidget> guard(target);
        for (int i = 0; i < text.size() && guard && target->isVisible(); ++i) {
            Key key = characterKey(text.at(i));
            if (text.at(i).isHighSurrogate() && i + 1 < text.size()) {
                key = {Qt::Key_unknown, text.mid(i, 2), Qt::NoModifier, QStringLiteral("astral"), true};
                ++i;
            }
            if (target != QApplication::focusWidget() && target != m_w.Text1)
                break; // the focus moved (a dialog opened and closed): stop typing
            sendKey(target, key);
        }
    }

    void clickIntoTempoBox()
    {
        // A click into the box moves the caret or, sometimes, selects a part.
        const int x = m_rnd.between(1, m_w.Text1->width() - 2);
        clickAt(m_w.Text1, QPoint(x, m_w.Text1->height() / 2));
        if (m_rnd.chance(30))
            QTest::keyClick(m_w.Text1, m_rnd.chance(50) ? Qt::Key_Home : Qt::Key_End, Qt::ShiftModifier);
    }

    void keyIntoTempoBox(TextEffect &effect)
    {
        clickIntoTempoBox();
        const Key key = randomKey();
        log(QStringLiteral("click into Text1, key %1").arg(key.name));
        count(QStringLiteral("main: key into Text1"));
        noteKeyEffect(m_w.Text1, key, effect);
        effect.edits = effect.edits || !effect.applies;
        sendKey(m_w.Text1, key);
    }

    void pasteIntoTempoBox(TextEffect &effect)
    {
        clickIntoTempoBox();
        const QString text = randomText();
        const bool byClipboard = m_rnd.chance(50);
        log(QStringLiteral("click into Text1, %1 %2").arg(byClipboard ? "paste" : "insert", printable(text)));
        count(QStringLiteral("main: paste into Text1"));
        if (byClipboard) {
            QGuiApplication::clipboard()->setText(text);
            m_w.Text1->paste();
        } else {
            m_w.Text1->insert(text);
        }
        effect.edits = true;
    }

    pulsewerk::PictureBox *randomPicture()
    {
        const int which = m_rnd.between(0, 99);
        if (which < 35)
            return m_w.imgDouble;
        if (which < 70)
            return m_w.imgMute;
        if (which < 88)
            return m_w.imgOptions;
        return m_w.imgAbout;
    }

    // Picture buttons answer every mouse button alike.
    Qt::MouseButton randomButton()
    {
        const int which = m_rnd.between(0, 9);
        return which < 8 ? Qt::LeftButton : which < 9 ? Qt::RightButton : Qt::MiddleButton;
    }

    static QString buttonName(Qt::MouseButton button)
    {
        return button == Qt::LeftButton    ? QString()
               : button == Qt::RightButton ? QStringLiteral(" (right button)")
                                           : QStringLiteral(" (middle button)");
    }

    void clickPicture()
    {
        pulsewerk::PictureBox *button = randomPicture();
        const Qt::MouseButton mouseButton = randomButton();
        log(QStringLiteral("click %1%2").arg(button->objectName(), buttonName(mouseButton)));
        count(QStringLiteral("main: click ") + button->objectName());
        const QString tag = button->Tag();
        QTest::mouseClick(button, mouseButton, {},
                          QPoint(m_rnd.between(0, button->width() - 1), m_rnd.between(0, button->height() - 1)));
        checkButtonAfterClick(button, tag, false);
    }

    // A click at a random point of the window: a lamp, a label, the panel, a button, the
    // slider, the tempo box or the meter list, whatever lies there (never the exit button).
    void clickAnywhere(TextEffect &effect)
    {
        const QPoint point(m_rnd.between(0, m_w.width() - 1), m_rnd.between(0, m_w.height() - 1));
        QWidget *target = m_w.childAt(point);
        if (!target)
            target = &m_w;
        if (target == m_w.imgExit || target->parentWidget() == m_w.cboMeter) {
            idle();
            return;
        }
        const QPoint local = target->mapFrom(&m_w, point);
        const bool picture = qobject_cast<pulsewerk::PictureBox *>(target) != nullptr;
        const Qt::MouseButton mouseButton = picture ? randomButton() : Qt::LeftButton;
        log(QStringLiteral("click %1 at %2,%3%4")
                .arg(target->objectName())
                .arg(local.x())
                .arg(local.y())
                .arg(buttonName(mouseButton)));
        count(QStringLiteral("main: click anywhere"));
        if (target == m_w.Slider1) {
            effect.applies = true;
            effect.slider = true;
        }
        QTest::mouseClick(target, mouseButton, {}, local);
        m_dialogsShownThisEvent = 0;
    }

    // The tempo box's own edit commands, as its context menu gives them.
    void editCommand(pulsewerk::TextBox *box, const QString &where)
    {
        const int which = m_rnd.between(0, 5);
        static const std::array<const char *, 6> names{
            "undo", "redo", "select all and cut", "delete the selection", "copy and paste", "select all"};
        log(QStringLiteral("%1%2: %3").arg(where, box->objectName(), QLatin1String(names[std::size_t(which)])));
        switch (which) {
        case 0:
            box->undo();
            break;
        case 1:
            box->redo();
            break;
        case 2:
            box->selectAll();
            box->cut();
            break;
        case 3:
            if (box->hasSelectedText())
                box->del();
            break;
        case 4:
            box->copy();
            box->paste();
            break;
        default:
            box->selectAll();
            break;
        }
    }

    void editCommandInTempoBox(TextEffect &effect)
    {
        clickIntoTempoBox();
        count(QStringLiteral("main: edit command in Text1"));
        editCommand(m_w.Text1, QStringLiteral("edit command in "));
        effect.edits = true;
    }

    void doubleClickPicture()
    {
        pulsewerk::PictureBox *button = randomPicture();
        log(QStringLiteral("double click %1").arg(button->objectName()));
        count(QStringLiteral("main: double click ") + button->objectName());
        const QString tag = button->Tag();
        // The second press of a double click follows the first at once: a dialog that the
        // first click opens is worked by keyboard only, so that no mouse event comes between.
        m_keyboardOnly = true;
        QTest::mouseDClick(m_w.windowHandle(), Qt::LeftButton, {}, button->mapTo(&m_w, button->rect().center()));
        m_keyboardOnly = false;
        checkButtonAfterClick(button, tag, true);
    }

    // One click, or one double click, advances the multiplier or toggles mute once.
    void checkButtonAfterClick(pulsewerk::PictureBox *button, const QString &before, bool doubleClick)
    {
        if (button == m_w.imgDouble) {
            const QString expected = before == QLatin1String("1")   ? QStringLiteral("2")
                                     : before == QLatin1String("2") ? QStringLiteral("4")
                                                                    : QStringLiteral("1");
            check("a click steps the multiplier 1, 2, 4, 1", button->Tag() == expected,
                  QStringLiteral("tag %1 -> %2").arg(before, button->Tag()));
            check("the multiplier shows its released picture", button->Picture() == QLatin1Char('X') + expected + "_U",
                  QStringLiteral("picture %1 at tag %2").arg(button->Picture(), button->Tag()));
        } else if (button == m_w.imgMute) {
            const QString expected = before == QLatin1String("0") ? QStringLiteral("1") : QStringLiteral("0");
            check("a click toggles mute", button->Tag() == expected,
                  QStringLiteral("tag %1 -> %2").arg(before, button->Tag()));
            // After a double click the last event is a release, which always shows MUTE_U.
            const QString picture =
                !doubleClick && expected == QLatin1String("1") ? QStringLiteral("MUTE_D") : QStringLiteral("MUTE_U");
            check("mute shows its picture", button->Picture() == picture,
                  QStringLiteral("picture %1 at tag %2").arg(button->Picture(), button->Tag()));
        } else {
            const QString up = button == m_w.imgOptions ? QStringLiteral("OPTIONS_U") : QStringLiteral("ABOUT_U");
            check("a button shows its released picture after a click", button->Picture() == up,
                  QStringLiteral("picture %1").arg(button->Picture()));
        }
        const int shown = m_dialogsShownThisEvent;
        const int expected = button == m_w.imgOptions || button == m_w.imgAbout ? 1 : 0;
        check("one click or double click opens one dialog", shown == expected,
              QStringLiteral("%1 dialogs for %2").arg(shown).arg(button->objectName()));
        m_dialogsShownThisEvent = 0;
    }

    void pressOffPicture()
    {
        pulsewerk::PictureBox *button = m_rnd.chance(80) ? randomPicture() : m_w.imgExit;
        log(QStringLiteral("press %1, release beside it").arg(button->objectName()));
        count(QStringLiteral("main: press off"));
        const QString tag = button->Tag();
        QTest::mousePress(button, Qt::LeftButton, {}, button->rect().center());
        QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(button->width() + m_rnd.between(1, 30), -3));
        check("a press released off a button does nothing",
              button->Tag() == tag && m_dialogsShownThisEvent == 0 && !mdlMain::g_blnQuit,
              QStringLiteral("%1 tag %2 -> %3").arg(button->objectName(), tag, button->Tag()));
        check("a press released off a button shows it released",
              button->Picture().endsWith(QLatin1String("_U")), // MUTE_U too, even while muted
              QStringLiteral("%1 shows %2").arg(button->objectName(), button->Picture()));
        m_dialogsShownThisEvent = 0;
    }

    QRect sliderHandle() const
    {
        const QSlider *s = m_w.Slider1;
        QStyleOptionSlider option;
        option.initFrom(s);
        option.subControls = QStyle::SC_None;
        option.activeSubControls = QStyle::SC_None;
        option.orientation = s->orientation();
        option.maximum = s->maximum();
        option.minimum = s->minimum();
        option.tickPosition = s->tickPosition();
        option.tickInterval = s->tickInterval();
        option.upsideDown = s->orientation() == Qt::Horizontal
                                ? (s->invertedAppearance() != (option.direction == Qt::RightToLeft))
                                : !s->invertedAppearance();
        option.direction = Qt::LeftToRight;
        option.sliderPosition = s->sliderPosition();
        option.sliderValue = s->value();
        option.singleStep = s->singleStep();
        option.pageStep = s->pageStep();
        if (s->orientation() == Qt::Horizontal)
            option.state |= QStyle::State_Horizontal;
        return s->style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, s);
    }

    void sliderClick(TextEffect &effect)
    {
        const int y = m_rnd.between(0, m_w.Slider1->height() - 1);
        log(QStringLiteral("click the slider at y=%1").arg(y));
        count(QStringLiteral("main: slider click"));
        effect.applies = true; // the slider takes the focus, which applies any typing first
        effect.slider = true;
        clickAt(m_w.Slider1, QPoint(m_w.Slider1->width() / 2, y));
    }

    void sliderDrag(TextEffect &effect)
    {
        const QPoint start = sliderHandle().center();
        QString moves;
        QTest::mousePress(m_w.Slider1, Qt::LeftButton, {}, start);
        const int steps = m_rnd.between(1, 5);
        QPoint at = start;
        for (int i = 0; i < steps; ++i) {
            at = QPoint(start.x() + m_rnd.between(-8, 8), m_rnd.between(-20, m_w.Slider1->height() + 20));
            QTest::mouseMove(m_w.Slider1, at);
            moves += QStringLiteral(" %1").arg(at.y());
            // The tempo follows the thumb during the drag.
            check("the tempo controls agree during a drag",
                  m_w.Slider1->value() == m_w.m_intBpm && m_w.Text1->text() == QString::number(m_w.m_intBpm),
                  QStringLiteral("slider %1, m_intBpm %2, text %3")
                      .arg(m_w.Slider1->value())
                      .arg(m_w.m_intBpm)
                      .arg(printable(m_w.Text1->text())));
        }
        QTest::mouseRelease(m_w.Slider1, Qt::LeftButton, {}, at);
        log(QStringLiteral("drag the slider from y=%1 through%2").arg(start.y()).arg(moves));
        count(QStringLiteral("main: slider drag"));
        effect.applies = true;
        effect.slider = true;
    }

    void wheel(QWidget *target, int delta)
    {
        const QPoint pos = target->rect().center();
        QWheelEvent event(QPointF(pos), QPointF(target->mapToGlobal(pos)), QPoint(), QPoint(0, delta), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QSpontaneKeyEvent::setSpontaneous(&event);
        QApplication::sendEvent(target, &event);
    }

    void sliderWheel()
    {
        const int delta = m_rnd.pick(std::vector<int>{120, -120, 240, -240, 40});
        log(QStringLiteral("wheel %1 on the slider").arg(delta));
        count(QStringLiteral("main: slider wheel"));
        wheel(m_w.Slider1, delta);
    }

    void comboClick()
    {
        log(QStringLiteral("click the meter list"));
        count(QStringLiteral("main: open the meter list"));
        clickAt(m_w.cboMeter);
    }

    void comboWheel()
    {
        const int delta = m_rnd.chance(50) ? 120 : -120;
        log(QStringLiteral("wheel %1 on the meter list").arg(delta));
        count(QStringLiteral("main: meter list wheel"));
        wheel(m_w.cboMeter, delta);
    }

    // A choice in the meter list: open it with a click, walk to the entry, press Enter.
    void chooseMeterEntry()
    {
        const int index = m_rnd.chance(40) ? 4 : m_rnd.between(0, 3);
        log(QStringLiteral("choose meter entry %1 (%2) from the open list")
                .arg(index)
                .arg(m_w.cboMeter->itemText(index)));
        count(QStringLiteral("main: meter choice"));
        clickAt(m_w.cboMeter);
        QWidget *popup = QApplication::activePopupWidget();
        check("a click opens the meter list", popup != nullptr, QString());
        if (!popup)
            return;
        QWidget *target = popup->focusWidget() ? popup->focusWidget() : popup;
        QTest::keyClick(target, Qt::Key_Home);
        for (int i = 0; i < index; ++i)
            QTest::keyClick(target, Qt::Key_Down);
        QTest::keyClick(target, Qt::Key_Return);
        check("the meter list shows the chosen entry", m_w.cboMeter->currentIndex() == index,
              QStringLiteral("entry %1 shown, %2 chosen").arg(m_w.cboMeter->currentIndex()).arg(index));
        check("a choice closes the meter list", QApplication::activePopupWidget() == nullptr, QString());
    }

    void popupEvent(QWidget *popup)
    {
        m_where = QStringLiteral("meter list");
        if (m_rnd.chance(10)) {
            log(QStringLiteral("click beside the open meter list"));
            count(QStringLiteral("list: close"));
            m_w.cboMeter->hidePopup();
            return;
        }
        static const std::vector<std::pair<Qt::Key, const char *>> keys{{Qt::Key_Up, "Up"},
                                                                        {Qt::Key_Down, "Down"},
                                                                        {Qt::Key_Down, "Down"},
                                                                        {Qt::Key_Home, "Home"},
                                                                        {Qt::Key_End, "End"},
                                                                        {Qt::Key_PageUp, "PageUp"},
                                                                        {Qt::Key_PageDown, "PageDown"},
                                                                        {Qt::Key_Return, "Enter"},
                                                                        {Qt::Key_Return, "Enter"},
                                                                        {Qt::Key_Enter, "KeypadEnter"},
                                                                        {Qt::Key_Escape, "Escape"},
                                                                        {Qt::Key_C, "c"},
                                                                        {Qt::Key_4, "4"},
                                                                        {Qt::Key_N, "n"},
                                                                        {Qt::Key_F4, "F4"}};
        const auto &[key, name] = m_rnd.pick(keys);
        QWidget *target = popup->focusWidget() ? popup->focusWidget() : popup;
        log(QStringLiteral("key %1 in the open meter list").arg(QLatin1String(name)));
        count(QStringLiteral("list: key"));
        QTest::keyClick(target, key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
    }

    void idle()
    {
        log(QStringLiteral("nothing"));
        count(QStringLiteral("main: idle"));
    }

    void exitEvent()
    {
        m_index = m_events + 1;
        m_where = QStringLiteral("exit");
        checkLoopMessages();
        if (QApplication::activePopupWidget())
            m_w.cboMeter->hidePopup();
        ensureActive(&m_w);
        armDriver();
        if (m_rnd.chance(50)) {
            log(QStringLiteral("click imgExit"));
            clickAt(m_w.imgExit);
        } else {
            log(QStringLiteral("close the window"));
            m_w.close();
        }
        check("the exit sets the quit flag", mdlMain::g_blnQuit, QString());
    }

    // ---- Meter choice and options exchange --------------------------------------------

    void afterMeterChoice(int index)
    {
        const QString pattern = Access::pattern(m_w);
        QString expected;
        if (index >= 0 && index < 4) {
            expected = kFixedPatterns[static_cast<std::size_t>(index)];
        } else if (index == 4) {
            frmCustomMeter *meter = Access::customMeter(m_w);
            check("the custom entry opens the custom meter dialog", meter && m_customShown, QString());
            if (!meter || !m_customShown)
                return;
            expected = meter->result() == QDialog::Accepted ? meter->txtMeter->text() : m_patternAtCustomOpen;
            expected = expected.left(19);
            if (expected.isEmpty())
                expected = QStringLiteral("1");
        }
        m_customShown = false;
        check("a meter choice sets its pattern", pattern == expected,
              QStringLiteral("entry %1: pattern %2, expected %3")
                  .arg(index)
                  .arg(printable(pattern), printable(expected)));
        check("a meter choice restarts the bar", Access::beat(m_w) == pattern.size() - 1,
              QStringLiteral("cursor %1, pattern %2").arg(Access::beat(m_w)).arg(printable(pattern)));
        checkLamps();
    }

    // OK hands the five values to the window and the store; any other close leaves them.
    void checkOptionsExchange()
    {
        frmOptions *options = Access::options(m_w);
        if (!options)
            return;
        const MainState now = mainState();
        if (options->m_blnOK) {
            const std::array<int, 5> fields{options->m_intChannel, options->m_intStrong, options->m_intStrongVel,
                                            options->m_intWeak, options->m_intWeakVel};
            check("OK hands the dialog's values to the window", now.sound == fields, describe(now));
            static const std::array<const char *, 5> keys{"Channel", "StrongNote", "StrongVel", "WeakNote", "WeakVel"};
            QStringList stored;
            bool same = TempSettings::waitForSaves(); // the save runs off the beat loop's thread
            for (std::size_t i = 0; i < keys.size(); ++i) {
                const QString value =
                    pulsewerk::ReadSetting(QStringLiteral("Pulsewerk"), QStringLiteral("Options"), keys[i], -1);
                stored << value;
                same = same && value == QString::number(now.sound[i]);
            }
            check("OK stores the values the window uses", same,
                  QStringLiteral("stored %1; %2").arg(stored.join(QLatin1Char('/')), describe(now)));
        } else {
            check("closing the options without OK changes nothing", now.sound == m_soundAtOptionsOpen,
                  QStringLiteral("at the opening %1/%2/%3/%4/%5; after %6")
                      .arg(m_soundAtOptionsOpen[0])
                      .arg(m_soundAtOptionsOpen[1])
                      .arg(m_soundAtOptionsOpen[2])
                      .arg(m_soundAtOptionsOpen[3])
                      .arg(m_soundAtOptionsOpen[4])
                      .arg(describe(now)));
        }
    }

    // ---- Dialogs ------------------------------------------------------------------------

    // Every event arms a driver for a dialog it may open; a dialog that opens when no
    // driver waits (a second one within the same event) gets one as it shows.
    void armDriver()
    {
        ++m_armed;
        QTimer::singleShot(0, &m_dialogWatch, [this] {
            --m_armed;
            driveModal();
        });
    }

    struct DialogWatch : QObject {
        Fuzzer *fuzzer = nullptr;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::Show && qobject_cast<QDialog *>(watched)) {
                ++fuzzer->m_dialogsShownThisEvent;
                if (fuzzer->m_armed == 0)
                    fuzzer->armDriver();
            }
            return false;
        }
    };

    void driveModal()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == m_driving)
            return;
        m_driving = modal;
        const QString outerWhere = m_where;
        const MainState mainBefore = mainState();
        ensureActive(modal);
        if (auto *options = qobject_cast<frmOptions *>(modal)) {
            m_where = QStringLiteral("options dialog");
            m_optionsShown = true;
            m_soundAtOptionsOpen = mainBefore.sound;
            count(QStringLiteral("dialog: options"));
            const std::array<QString, 5> shown{options->txtChannel->text(), options->txtStrong->text(),
                                               options->txtStrongVelocity->text(), options->txtWeak->text(),
                                               options->txtWeakVelocity->text()};
            const std::array<QString, 5> expected{
                QString::number(mainBefore.sound[0]), QString::number(mainBefore.sound[1]),
                QString::number(mainBefore.sound[2]), QString::number(mainBefore.sound[3]),
                QString::number(mainBefore.sound[4])};
            check("the options dialog opens with the window's values", shown == expected, describe(mainBefore));
            driveDialog(modal,
                        {options->txtChannel, options->txtStrong, options->txtStrongVelocity, options->txtWeak,
                         options->txtWeakVelocity},
                        {options->cmdOK, options->cmdCancel}, mainBefore);
        } else if (auto *meter = qobject_cast<frmCustomMeter *>(modal)) {
            m_where = QStringLiteral("custom meter dialog");
            m_customShown = true;
            m_patternAtCustomOpen = mainBefore.pattern;
            count(QStringLiteral("dialog: custom meter"));
            check("the custom meter dialog opens with the pattern in use",
                  meter->txtMeter->text() == mainBefore.pattern,
                  QStringLiteral("box %1, pattern %2")
                      .arg(printable(meter->txtMeter->text()), printable(mainBefore.pattern)));
            driveDialog(modal, {meter->txtMeter}, {meter->cmdOK, meter->cmdCancel}, mainBefore);
        } else if (auto *about = qobject_cast<frmAbout *>(modal)) {
            m_where = QStringLiteral("about dialog");
            count(QStringLiteral("dialog: about"));
            driveDialog(modal, {}, {about->cmdOK}, mainBefore);
        } else {
            fail("only the program's three dialogs open", modal->metaObject()->className());
            modal->close();
        }
        m_where = outerWhere;
        m_driving = nullptr;
    }

    void checkDialog(QWidget *dialog, const MainState &mainBefore)
    {
        checkInvariants();
        const MainState now = mainState();
        check("the main window keeps its state while a dialog is open", now.sameAs(mainBefore),
              QStringLiteral("before %1; now %2").arg(describe(mainBefore), describe(now)));
        if (auto *meter = qobject_cast<frmCustomMeter *>(dialog))
            check("the pattern box holds at most 19 characters", meter->txtMeter->text().size() <= 19,
                  printable(meter->txtMeter->text()));
        if (auto *options = qobject_cast<frmOptions *>(dialog))
            check("the channel field stays within 1..16", options->m_intChannel >= 1 && options->m_intChannel <= 16,
                  QStringLiteral("m_intChannel %1").arg(options->m_intChannel));
    }

    void driveDialog(QWidget *dialog, const std::vector<pulsewerk::TextBox *> &boxes,
                     const std::vector<QPushButton *> &buttons, const MainState &mainBefore)
    {
        const QString name = dialog->objectName();
        check("a dialog opens with the focus on its first button", dialog->focusWidget() == buttons.front(),
              QStringLiteral("%1: focus on %2")
                  .arg(name, dialog->focusWidget() ? dialog->focusWidget()->objectName() : QStringLiteral("nothing")));
        checkDialog(dialog, mainBefore);
        const int events = m_rnd.between(0, 8);
        for (int i = 0; i < events && dialog->isVisible(); ++i) {
            dialogEvent(dialog, boxes);
            checkDialog(dialog, mainBefore);
        }
        if (m_rnd.chance(25)) {
            // Held open for a while: either within the quiet time before the next event,
            // so that the loop resumes undisturbed, or for any time, so that the events
            // due meanwhile follow at once.
            const std::uint32_t now = m_h.clock.sinceStart();
            const std::uint32_t next =
                static_cast<std::size_t>(m_index) < m_times.size() ? m_times[static_cast<std::size_t>(m_index)] : now;
            const bool quiet = next > now + 2 && m_rnd.chance(50);
            const auto held = static_cast<std::uint32_t>(quiet ? m_rnd.between(1, static_cast<int>(next - now - 2))
                                                               : m_rnd.between(1, 4000));
            log(QStringLiteral("  [%1] held open for %2 ms").arg(name).arg(held));
            count(QStringLiteral("dialog: held open"));
            m_h.clock.advance(held);
        }
        if (!dialog->isVisible())
            return;
        int how = m_rnd.between(0, 99);
        QWidget *focus = dialog->focusWidget();
        auto *focusedButton = qobject_cast<QPushButton *>(focus);
        if (m_keyboardOnly)
            how = focusedButton && m_rnd.chance(70) ? 60 : 99;
        if (how < 35) {
            log(QStringLiteral("  [%1] click %2").arg(name, buttons.front()->text()));
            clickAt(buttons.front());
        } else if (how < 60) {
            QPushButton *button = buttons.back();
            log(QStringLiteral("  [%1] click %2").arg(name, button->text()));
            clickAt(button);
        } else if (how < 75 && focusedButton) {
            const bool space = m_rnd.chance(40);
            log(QStringLiteral("  [%1] %2 on the focused %3")
                    .arg(name, space ? "Space" : "Enter", focusedButton->text()));
            QTest::keyClick(focusedButton, space ? Qt::Key_Space : Qt::Key_Return);
        } else {
            log(QStringLiteral("  [%1] close the window").arg(name));
            dialog->close();
        }
        count(QStringLiteral("dialog: closes"));
        check("a dialog closes by OK, Cancel, Close or its close command", !dialog->isVisible(),
              QStringLiteral("%1 still open").arg(name));
        if (dialog->isVisible()) {
            fail("a dialog closes by OK, Cancel, Close or its close command", name);
            static_cast<QDialog *>(dialog)->reject();
        }
    }

    void dialogEvent(QWidget *dialog, const std::vector<pulsewerk::TextBox *> &boxes)
    {
        auto *left = qobject_cast<pulsewerk::TextBox *>(dialog->focusWidget());
        const QString before = left ? left->text() : QString();
        dialogInput(dialog, boxes);
        auto *options = qobject_cast<frmOptions *>(dialog);
        if (options && left && dialog->isVisible() && dialog->focusWidget() != left &&
            QApplication::activeWindow() == dialog)
            checkLeaveCheck(options, left, before);
    }

    void dialogInput(QWidget *dialog, const std::vector<pulsewerk::TextBox *> &boxes)
    {
        const QString name = dialog->objectName();
        const int kind = m_rnd.between(0, 99);
        if (kind < 45 || boxes.empty()) {
            QWidget *target = dialog->focusWidget() ? dialog->focusWidget() : dialog;
            const Key key = randomKey();
            log(QStringLiteral("  [%1] key %2 to %3").arg(name, key.name, target->objectName()));
            count(QStringLiteral("dialog: key"));
            sendKey(target, key);
            return;
        }
        pulsewerk::TextBox *box = boxes[m_rnd.below(boxes.size())];
        if (m_keyboardOnly) {
            // No mouse: type into the box that has the focus, if any.
            box = qobject_cast<pulsewerk::TextBox *>(dialog->focusWidget());
            if (!box) {
                const Key key = specialKey(Qt::Key_Tab, Qt::NoModifier, QStringLiteral("Tab"));
                log(QStringLiteral("  [%1] key Tab").arg(name));
                sendKey(dialog->focusWidget() ? dialog->focusWidget() : dialog, key);
                return;
            }
        } else {
            clickAt(box, QPoint(m_rnd.between(1, box->width() - 2), box->height() / 2));
        }
        const QString into =
            (m_keyboardOnly ? QStringLiteral("in ") : QStringLiteral("click into ")) + box->objectName();
        if (kind < 75) {
            const Key key = randomKey();
            log(QStringLiteral("  [%1] %2, key %3").arg(name, into, key.name));
            count(QStringLiteral("dialog: key into a box"));
            sendKey(box, key);
        } else if (kind < 84) {
            QString text = randomText().left(30);
            text.remove(QLatin1Char('\t'));
            text.remove(QLatin1Char('\n'));
            log(QStringLiteral("  [%1] %2, type %3").arg(name, into, printable(text)));
            count(QStringLiteral("dialog: typed text"));
            typeText(box, text);
        } else if (kind < 88) {
            count(QStringLiteral("dialog: composed text"));
            compose(box, QStringLiteral("  [%1] %2").arg(name, into));
        } else if (kind < 92) {
            count(QStringLiteral("dialog: edit command"));
            editCommand(box, QStringLiteral("  [%1] edit command in ").arg(name));
        } else {
            const QString text = randomText();
            const bool byClipboard = m_rnd.chance(50);
            log(QStringLiteral("  [%1] %2, %3 %4").arg(name, into, byClipboard ? "paste" : "insert", printable(text)));
            count(QStringLiteral("dialog: paste"));
            if (byClipboard) {
                QGuiApplication::clipboard()->setText(text);
                box->paste();
            } else {
                box->insert(text);
            }
        }
    }

    BeatHarness &m_h;
    frmMain &m_w;
    Random m_rnd;
    int m_events;
    std::uint32_t m_clockStart = 0;

    int m_index = 0;
    QString m_where;
    std::deque<QString> m_log;
    std::vector<std::uint32_t> m_times; // the time of each event, by number - 1
    std::size_t m_midiChecked = 0;
    std::size_t m_loopChecked = 0;
    bool m_pendingText = false;

    int m_armed = 0;
    int m_dialogsShownThisEvent = 0;
    QWidget *m_driving = nullptr;
    bool m_optionsShown = false;
    bool m_keyboardOnly = false;
    std::array<int, 5> m_soundAtOptionsOpen{};
    bool m_customShown = false;
    QString m_patternAtCustomOpen;
    DialogWatch m_dialogWatch;
};

} // namespace

class TestRandom : public QObject {
    Q_OBJECT

private slots:
    // Random events on the real beat loop: the window's rules after every event, a
    // well-formed and complete MIDI stream, and a clean exit.
    void randomEvents();
};

void TestRandom::randomEvents()
{
    const std::uint64_t seed = environmentNumber("PULSEWERK_RANDOM_SEED", kDefaultSeed);
    const int events = static_cast<int>(environmentNumber("PULSEWERK_RANDOM_EVENTS", kDefaultEvents));
    qInfo("seed %llu, %d events (set PULSEWERK_RANDOM_SEED and PULSEWERK_RANDOM_EVENTS to change them)",
          static_cast<unsigned long long>(seed), events);
    QVERIFY(events > 0);

    g_previousHandler = qInstallMessageHandler(filterMessages);
    QElapsedTimer elapsed;
    elapsed.start();

    TempSettings settings;
    // The millisecond count wraps about ten minutes into the run.
    const std::uint32_t clockStart = 0xFFFFFFFFu - 600000u;
    int loopEnds = 0;
    QStringList failures;
    std::map<QString, int> failureCounts;
    std::map<QString, int> stats;
    std::size_t messages = 0;
    std::uint32_t end = 0;
    {
        BeatHarness h(clockStart);
        Fuzzer fuzzer(h, seed, events);
        fuzzer.setClockStart(clockStart);
        end = fuzzer.schedule(seed);
        loopEnds = h.runLoop();
        fuzzer.checkAfterRun(loopEnds);
        failures = fuzzer.failures;
        failureCounts = fuzzer.failureCounts;
        stats = fuzzer.stats;
        messages = h.midi.messages.size();
    }
    qInstallMessageHandler(g_previousHandler);

    qInfo("%d events over %u simulated ms, %zu MIDI messages, %d ignored Qt warnings, %lld ms", events, end, messages,
          g_ignoredWarnings, static_cast<long long>(elapsed.elapsed()));
    for (const auto &[what, n] : stats)
        qInfo("  %6d  %s", n, qPrintable(what));
    if (!failures.isEmpty()) {
        QString summary = QStringLiteral("seed %1: %2 checks failed:\n").arg(seed).arg(failureCounts.size());
        for (const auto &[what, n] : failureCounts)
            summary += QStringLiteral("  %1 x %2\n").arg(n).arg(what);
        QFAIL(qPrintable(summary + failures.join(QLatin1Char('\n'))));
    }
}

QTEST_MAIN(TestRandom)
#include "tst_random.moc"
