// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: its options, their checks and messages, and how each is applied
// through the main window's controls.
#include "engine/CommandLine.h"

#include "controls/Numbers.h"
#include "dialogs/frmCustomMeter.h"
#include "mainwindow/frmMain.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QRegularExpression>

#include <cstdio>
#include <optional>
#include <tuple>
#include <utility>

namespace pulsewerk {

namespace {

const QString kTempoRange = QStringLiteral("a tempo from 40 to 208 beats per minute");
const QString kMeterRange =
    QStringLiteral("none, 4/4, 3/4, 2/4, or a pattern of 1 to 19 beats written 2 (strong), 1 (weak), 0 or . (silent)");
const QString kMultiplierRange = QStringLiteral("1, 2 or 4");
const QString kCountInRange = QStringLiteral("0 to 4 bars");
const QString kOptionNames =
    QStringLiteral("-h/--help, -v/--version, -t/--tempo, -m/--meter, -x/--multiplier, --mute, --count-in, --song, "
                   "--jack, --no-connect, --no-synth, --link and --transport");

// Presets of the meter list, as the command line writes them and as the list shows them.
const QList<std::pair<QString, QString>> kPresetMeters = {
    {QStringLiteral("none"), QStringLiteral("None")},
    {QStringLiteral("4/4"), QStringLiteral("4/4")},
    {QStringLiteral("3/4"), QStringLiteral("3/4")},
    {QStringLiteral("2/4"), QStringLiteral("2/4")},
};
const QString kCustomEntry = QStringLiteral("Custom ...");

CommandLine failure(const QString &line)
{
    CommandLine result;
    result.run = false;
    result.exitStatus = 2;
    result.error = QStringLiteral("pulsewerk: ") + line + QLatin1Char('\n');
    return result;
}

CommandLine finish(const QString &output)
{
    CommandLine result;
    result.run = false;
    result.output = output;
    return result;
}

// `text` as it can be shown on a terminal: control and format characters (an escape
// sequence, a right-to-left override) written as escapes instead of acted on.
QString shown(const QString &text)
{
    QString result;
    for (const char32_t c : text.toUcs4()) {
        if (QChar::isPrint(c))
            result += QString::fromUcs4(&c, 1);
        else if (c < 0x100)
            result += QStringLiteral("\\x%1").arg(uint(c), 2, 16, QLatin1Char('0'));
        else
            result += QStringLiteral("\\u{%1}").arg(uint(c), 4, 16, QLatin1Char('0'));
    }
    return result;
}

QString invalidValue(const QString &what, const QString &value, const QString &option, const QString &range)
{
    return QStringLiteral("invalid %1 \"%2\" for %3; give %4").arg(what, shown(value), option, range);
}

// What the tempo box would make of the text: digits with at most one decimal point,
// rounded half to even, and a tempo only within the slider's range.
bool validTempo(const QString &text)
{
    static const QRegularExpression number(QRegularExpression::anchoredPattern(QStringLiteral("[0-9]*\\.?[0-9]*")));
    if (!number.match(text).hasMatch() || !text.contains(QRegularExpression(QStringLiteral("[0-9]"))))
        return false;
    const std::int32_t tempo = pulsewerk::roundToInt32(pulsewerk::val(text));
    return tempo >= 40 && tempo <= 208;
}

// The characters the custom meter dialog lets through, at most one per lamp.
bool validPattern(const QString &text)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[012.]{1,%1}").arg(frmCustomMeter::kMaxPattern)));
    return pattern.match(text).hasMatch();
}

QString dashed(const QString &name) { return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name; }

QString versionText()
{
    return QStringLiteral("%1 %2\n"
                          "Copyright (C) 2026 The Pulsewerk authors\n"
                          "License GPL-3.0-or-later: GNU GPL version 3 or later <https://gnu.org/licenses/gpl.html>.\n"
                          "This is free software: you are free to change and redistribute it.\n"
                          "There is NO WARRANTY, to the extent permitted by law.\n")
        .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion());
}

// The options, with their names, values and help lines.
struct Options {
    const QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit.")};
    const QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and licence and exit.")};
    const QCommandLineOption tempo{{QStringLiteral("t"), QStringLiteral("tempo")},
                                   QStringLiteral("Start at BPM beats per minute, 40 to 208."),
                                   QStringLiteral("BPM")};
    const QCommandLineOption meter{
        {QStringLiteral("m"), QStringLiteral("meter")},
        QStringLiteral("Start with the meter none, 4/4, 3/4 or 2/4, or a custom PATTERN of up to 19 beats: "
                       "2 strong, 1 weak, 0 silent."),
        QStringLiteral("METER")};
    const QCommandLineOption multiplier{{QStringLiteral("x"), QStringLiteral("multiplier")},
                                        QStringLiteral("Divide the beat by N: 1, 2 or 4."),
                                        QStringLiteral("N")};
    const QCommandLineOption mute{QStringLiteral("mute"), QStringLiteral("Start muted; the lamps go on flashing.")};
    const QCommandLineOption jack{QStringLiteral("jack"),
                                  QStringLiteral("Play as the JACK client Pulsewerk, with audio ports out_left and "
                                                 "out_right, the MIDI port beat and the MIDI beat clock port clock "
                                                 "(also when PULSEWERK_AUDIO=jack).")};
    const QCommandLineOption noConnect{QStringLiteral("no-connect"),
                                       QStringLiteral("With JACK, leave the ports unconnected.")};
    const QCommandLineOption noSynth{QStringLiteral("no-synth"),
                                     QStringLiteral("With JACK, only the MIDI port: no built-in synthesizer.")};
    const QCommandLineOption link{QStringLiteral("link"),
                                  QStringLiteral("Join the Ableton Link session on the local network: tempo, bar "
                                                 "and start/stop shared with the programs there.")};
    const QCommandLineOption transport{
        QStringLiteral("transport"),
        QStringLiteral("Follow the JACK transport: the beat rolls with it, on its beats and at its tempo; lead it "
                       "when no other client does. Implies --jack.")};
    const QCommandLineOption countIn{QStringLiteral("count-in"),
                                     QStringLiteral("Count in N bars (0 to 4) of side stick before the first beat."),
                                     QStringLiteral("N")};
    const QCommandLineOption song{QStringLiteral("song"),
                                  QStringLiteral("Start with the song NAME of the setlist: its tempo, meter, "
                                                 "multiplier and count-in."),
                                  QStringLiteral("NAME")};
};

// An unknown option, a value missing after an option, or one given to an option that
// takes none: the parser's sentence ("Missing value after '-t'.") as a line like the others.
CommandLine parseFailure(const QCommandLineParser &parser, const Options &o)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (!unknown.isEmpty())
        return failure(
            QStringLiteral("unknown option %1; the options are %2").arg(shown(dashed(unknown.first())), kOptionNames));
    QString line = shown(parser.errorText());
    const QString name = QRegularExpression(QStringLiteral("'-+([^']+)'")).match(line).captured(1);
    line.remove(QRegularExpression(QStringLiteral("[.']")));
    if (!line.isEmpty())
        line[0] = line[0].toLower();
    if (o.tempo.names().contains(name))
        line += QStringLiteral("; give ") + kTempoRange;
    else if (o.meter.names().contains(name))
        line += QStringLiteral("; give ") + kMeterRange;
    else if (o.multiplier.names().contains(name))
        line += QStringLiteral("; give ") + kMultiplierRange;
    else if (o.countIn.names().contains(name))
        line += QStringLiteral("; give ") + kCountInRange;
    else if (o.song.names().contains(name))
        line += QStringLiteral("; give the name of a song of the setlist");
    else
        line += QStringLiteral("; the options are ") + kOptionNames;
    return failure(line);
}

// The meter list's entry for a meter written on the command line, and the custom
// pattern when it is one; an empty entry when it is neither.
std::pair<QString, QString> meterEntry(const QString &value)
{
    for (const auto &[written, entry] : kPresetMeters) {
        if (value.compare(written, Qt::CaseInsensitive) == 0)
            return {entry, QString()};
    }
    if (validPattern(value))
        return {kCustomEntry, value};
    return {};
}

// Checks every value given to the tempo, meter and multiplier options (a repeated one
// included) and takes the last of each; returns the line about the first bad one.
QString readValues(const QCommandLineParser &parser, const Options &o, StartOptions &options)
{
    for (const QString &value : parser.values(o.tempo)) {
        if (!validTempo(value))
            return invalidValue(QStringLiteral("tempo"), value, QStringLiteral("-t/--tempo"), kTempoRange);
        options.tempo = value;
    }
    for (const QString &value : parser.values(o.meter)) {
        std::tie(options.meter, options.pattern) = meterEntry(value);
        if (options.meter.isEmpty())
            return invalidValue(QStringLiteral("meter"), value, QStringLiteral("-m/--meter"), kMeterRange);
    }
    for (const QString &value : parser.values(o.multiplier)) {
        if (value != QLatin1String("1") && value != QLatin1String("2") && value != QLatin1String("4"))
            return invalidValue(QStringLiteral("multiplier"), value, QStringLiteral("-x/--multiplier"),
                                kMultiplierRange);
        options.multiplier = value.toInt();
        options.multiplierGiven = true;
    }
    for (const QString &value : parser.values(o.countIn)) {
        if (!QRegularExpression(QStringLiteral("^[0-4]$")).match(value).hasMatch())
            return invalidValue(QStringLiteral("count-in"), value, QStringLiteral("--count-in"), kCountInRange);
        options.countIn = value.toInt();
    }
    options.song = parser.value(o.song);
    options.mute = parser.isSet(o.mute);
    options.link = parser.isSet(o.link);
    return QString();
}

// The sound's options; what has no effect (a JACK option without JACK, a value of
// PULSEWERK_AUDIO the program does not know) is accepted, and said once.
void readSoundOptions(const QCommandLineParser &parser, const Options &o, CommandLine &result)
{
    StartOptions &options = result.options;
    const QString audio = qEnvironmentVariable("PULSEWERK_AUDIO");
    options.sound.transport = parser.isSet(o.transport);
    options.sound.jack = parser.isSet(o.jack) || audio == QLatin1String("jack") || options.sound.transport;
    options.sound.connectPorts = !parser.isSet(o.noConnect);
    options.sound.audioPorts = !parser.isSet(o.noSynth);
    if (!audio.isEmpty() && audio != QLatin1String("jack"))
        result.error +=
            QStringLiteral("pulsewerk: PULSEWERK_AUDIO=\"%1\" has no effect; it takes jack\n").arg(shown(audio));
    QStringList unused;
    for (const QCommandLineOption *option : {&o.noConnect, &o.noSynth}) {
        if (!options.sound.jack && parser.isSet(*option))
            unused << QStringLiteral("--") + option->names().constFirst();
    }
    if (!unused.isEmpty())
        result.error += QStringLiteral("pulsewerk: %1 %2 no effect without --jack\n")
                            .arg(unused.join(QStringLiteral(" and ")),
                                 unused.size() == 1 ? QStringLiteral("has") : QStringLiteral("have"));
}

// Types `text` into `box` key by key over whatever it holds, as the keyboard would.
void type(QLineEdit *box, const QString &text)
{
    box->selectAll();
    for (const QChar c : text) {
        const int key = c == u'.' ? Qt::Key_Period : Qt::Key_0 + c.digitValue();
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(box, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, QString(c));
        QCoreApplication::sendEvent(box, &release);
    }
}

void pressEnter(QWidget *widget)
{
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QCoreApplication::sendEvent(widget, &release);
}

// A left-button press and release in the middle of `widget`.
void click(QWidget *widget)
{
    const QPointF centre = QRectF(widget->rect()).center();
    const QPointF global = widget->mapToGlobal(centre);
    QMouseEvent press(QEvent::MouseButtonPress, centre, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, centre, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &release);
}

// Fills in the custom meter dialog when it opens, as the user would: types the pattern
// over the text in the box and presses Enter, which presses OK. The dialog is not put
// on the screen for this showing only.
class CustomMeterEntry : public QObject {
public:
    explicit CustomMeterEntry(QString pattern) : m_pattern(std::move(pattern))
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Show)
            return false;
        auto *dialog = qobject_cast<frmCustomMeter *>(watched);
        if (!dialog)
            return false;
        dialog->setAttribute(Qt::WA_DontShowOnScreen);
        QMetaObject::invokeMethod(
            dialog,
            [dialog, pattern = m_pattern] {
                type(dialog->txtMeter, pattern);
                pressEnter(dialog->txtMeter);
                dialog->setAttribute(Qt::WA_DontShowOnScreen, false);
            },
            Qt::QueuedConnection);
        return false;
    }

private:
    QString m_pattern;
};

void chooseMeter(frmMain &window, const QString &entry)
{
    const int index = window.cboMeter->findText(entry);
    if (index < 0)
        return;
    window.cboMeter->setCurrentIndex(index);
    // What the list reports when the user picks an entry by mouse or keyboard.
    emit window.cboMeter->activated(index);
}

} // namespace

CommandLine parseCommandLine(const QStringList &arguments)
{
    const Options o;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A metronome: a steady beat at 40 to 208 beats per minute, accented by a meter, "
                       "with a row of lamps."));
    parser.addOptions({o.help, o.version, o.tempo, o.meter, o.multiplier, o.mute, o.countIn, o.song, o.jack,
                       o.noConnect, o.noSynth, o.link, o.transport});
    if (!parser.parse(arguments))
        return parseFailure(parser, o);
    if (!parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("unexpected argument \"%1\"; the options are %2")
                           .arg(shown(parser.positionalArguments().constFirst()), kOptionNames));
    if (parser.isSet(o.help)) {
        // The usage line names the program as it is typed, not the path it was started by.
        QString text = parser.helpText();
        text.replace(QStringLiteral("Usage: ") + QCoreApplication::arguments().value(0),
                     QStringLiteral("Usage: pulsewerk"));
        return finish(text);
    }
    if (parser.isSet(o.version))
        return finish(versionText());

    CommandLine result;
    const QString mistake = readValues(parser, o, result.options);
    if (!mistake.isEmpty())
        return failure(mistake);
    readSoundOptions(parser, o, result);
    return result;
}

void applyStartOptions(frmMain &window, const StartOptions &options)
{
    // The song first, so that the options given beside it change it.
    if (!options.song.isEmpty() && !window.chooseSong(options.song))
        std::fprintf(stderr, "pulsewerk: no song \"%s\" in the setlist; starting without it\n",
                     qPrintable(options.song));
    if (!options.meter.isEmpty()) {
        std::optional<CustomMeterEntry> customEntry;
        if (!options.pattern.isEmpty())
            customEntry.emplace(options.pattern);
        chooseMeter(window, options.meter);
    }
    if (!options.tempo.isEmpty()) {
        type(window.Text1, options.tempo);
        pressEnter(window.Text1);
    }
    // The multiplier button steps 1, 2, 4 and back to 1; a song may have left it at 2 or 4.
    const QString multiplier = QString::number(options.multiplier);
    for (int clicks = 0; clicks < 3 && options.multiplierGiven && window.imgDouble->Tag() != multiplier; ++clicks)
        click(window.imgDouble);
    if (options.mute)
        click(window.imgMute);
    if (options.link)
        window.setLinkOn(true);
    if (options.countIn >= 0)
        window.actCountIn[static_cast<std::size_t>(options.countIn)]->trigger();
    if (window.countInBars() > 0)
        window.startCountIn();
}

} // namespace pulsewerk
