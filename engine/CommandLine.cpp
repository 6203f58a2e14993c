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

namespace pulsewerk {

namespace {

const QString kTempoRange = QStringLiteral("a tempo from 40 to 208 beats per minute");
const QString kMeterRange =
    QStringLiteral("none, 4/4, 3/4, 2/4, or a pattern of 1 to 19 beats written 2 (strong), 1 (weak), 0 or . (silent)");
const QString kMultiplierRange = QStringLiteral("1, 2 or 4");
const QString kCountInRange = QStringLiteral("0 to 4 bars");
const QString kOptionNames =
    QStringLiteral("-h/--help, -v/--version, -t/--tempo, -m/--meter, -x/--multiplier, --mute, --count-in, --song, "
                   "--jack, --no-connect and --no-synth");

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

QString invalidValue(const QString &what, const QString &value, const QString &option, const QString &range)
{
    return QStringLiteral("invalid %1 \"%2\" for %3; give %4").arg(what, value, option, range);
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
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("A metronome: a steady beat at 40 to 208 beats per minute, accented by a meter, "
                       "with a row of lamps."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and licence and exit."));
    const QCommandLineOption tempo({QStringLiteral("t"), QStringLiteral("tempo")},
                                   QStringLiteral("Start at BPM beats per minute, 40 to 208."), QStringLiteral("BPM"));
    const QCommandLineOption meter(
        {QStringLiteral("m"), QStringLiteral("meter")},
        QStringLiteral("Start with the meter none, 4/4, 3/4 or 2/4, or a custom PATTERN of up to 19 beats: "
                       "2 strong, 1 weak, 0 silent."),
        QStringLiteral("METER"));
    const QCommandLineOption multiplier({QStringLiteral("x"), QStringLiteral("multiplier")},
                                        QStringLiteral("Divide the beat by N: 1, 2 or 4."), QStringLiteral("N"));
    const QCommandLineOption mute(QStringLiteral("mute"), QStringLiteral("Start muted; the lamps go on flashing."));
    const QCommandLineOption jack(QStringLiteral("jack"),
                                  QStringLiteral("Play as the JACK client Pulsewerk, with audio ports out_left and "
                                                 "out_right and the MIDI port beat (also when PULSEWERK_AUDIO=jack)."));
    const QCommandLineOption noConnect(QStringLiteral("no-connect"),
                                       QStringLiteral("With JACK, leave the audio ports unconnected."));
    const QCommandLineOption noSynth(QStringLiteral("no-synth"),
                                     QStringLiteral("With JACK, only the MIDI port: no built-in synthesizer."));
    const QCommandLineOption countIn(QStringLiteral("count-in"),
                                     QStringLiteral("Count in N bars (0 to 4) of side stick before the first beat."),
                                     QStringLiteral("N"));
    const QCommandLineOption song(QStringLiteral("song"),
                                  QStringLiteral("Start with the song NAME of the setlist: its tempo, meter, "
                                                 "multiplier and count-in."),
                                  QStringLiteral("NAME"));
    parser.addOptions({help, version, tempo, meter, multiplier, mute, countIn, song, jack, noConnect, noSynth});

    if (!parser.parse(arguments)) {
        const QStringList unknown = parser.unknownOptionNames();
        if (!unknown.isEmpty())
            return failure(
                QStringLiteral("unknown option %1; the options are %2").arg(dashed(unknown.first()), kOptionNames));
        // A value missing after an option, or given to one that takes none: the parser's
        // sentence ("Missing value after '-t'.") as a line like the others.
        QString line = parser.errorText();
        const QString name = QRegularExpression(QStringLiteral("'-+([^']+)'")).match(line).captured(1);
        line.remove(QRegularExpression(QStringLiteral("[.']")));
        if (!line.isEmpty())
            line[0] = line[0].toLower();
        if (tempo.names().contains(name))
            line += QStringLiteral("; give ") + kTempoRange;
        else if (meter.names().contains(name))
            line += QStringLiteral("; give ") + kMeterRange;
        else if (multiplier.names().contains(name))
            line += QStringLiteral("; give ") + kMultiplierRange;
        else if (countIn.names().contains(name))
            line += QStringLiteral("; give ") + kCountInRange;
        else if (song.names().contains(name))
            line += QStringLiteral("; give the name of a song of the setlist");
        else
            line += QStringLiteral("; the options are ") + kOptionNames;
        return failure(line);
    }
    if (!parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("unexpected argument \"%1\"; the options are %2")
                           .arg(parser.positionalArguments().constFirst(), kOptionNames));
    if (parser.isSet(help)) {
        // The usage line names the program as it is typed, not the path it was started by.
        QString text = parser.helpText();
        text.replace(QStringLiteral("Usage: ") + QCoreApplication::arguments().value(0),
                     QStringLiteral("Usage: pulsewerk"));
        return finish(text);
    }
    if (parser.isSet(version))
        return finish(versionText());

    CommandLine result;
    StartOptions &options = result.options;
    if (parser.isSet(tempo)) {
        options.tempo = parser.value(tempo);
        if (!validTempo(options.tempo))
            return failure(
                invalidValue(QStringLiteral("tempo"), options.tempo, QStringLiteral("-t/--tempo"), kTempoRange));
    }
    if (parser.isSet(meter)) {
        const QString value = parser.value(meter);
        for (const auto &[written, entry] : kPresetMeters) {
            if (value.compare(written, Qt::CaseInsensitive) == 0)
                options.meter = entry;
        }
        if (options.meter.isEmpty() && validPattern(value)) {
            options.meter = kCustomEntry;
            options.pattern = value;
        }
        if (options.meter.isEmpty())
            return failure(invalidValue(QStringLiteral("meter"), value, QStringLiteral("-m/--meter"), kMeterRange));
    }
    if (parser.isSet(multiplier)) {
        const QString value = parser.value(multiplier);
        if (value != QLatin1String("1") && value != QLatin1String("2") && value != QLatin1String("4"))
            return failure(
                invalidValue(QStringLiteral("multiplier"), value, QStringLiteral("-x/--multiplier"), kMultiplierRange));
        options.multiplier = value.toInt();
        options.multiplierGiven = true;
    }
    if (parser.isSet(countIn)) {
        const QString value = parser.value(countIn);
        if (!QRegularExpression(QStringLiteral("^[0-4]$")).match(value).hasMatch())
            return failure(
                invalidValue(QStringLiteral("count-in"), value, QStringLiteral("--count-in"), kCountInRange));
        options.countIn = value.toInt();
    }
    options.song = parser.value(song);
    options.mute = parser.isSet(mute);
    options.jack = parser.isSet(jack) || qEnvironmentVariable("PULSEWERK_AUDIO") == QLatin1String("jack");
    options.connectPorts = !parser.isSet(noConnect);
    options.synth = !parser.isSet(noSynth);
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
    if (options.countIn >= 0)
        window.actCountIn[static_cast<std::size_t>(options.countIn)]->trigger();
    if (window.countInBars() > 0)
        window.startCountIn();
}

} // namespace pulsewerk
