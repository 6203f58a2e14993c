// SPDX-License-Identifier: GPL-3.0-or-later
// Setlists and their text form.
#include "mainwindow/Setlist.h"

#include <QSet>

#include <algorithm>

namespace pulsewerk {
namespace {

// The meter list's presets as a song writes them, by their place in the list.
const QStringList kPresets{QStringLiteral("none"), QStringLiteral("4/4"), QStringLiteral("3/4"), QStringLiteral("2/4")};
const QStringList kPresetPatterns{QStringLiteral("1"), QStringLiteral("2111"), QStringLiteral("211"),
                                  QStringLiteral("21")};
constexpr int kCustomIndex = 4;
constexpr int kFields = 5;

bool isPattern(const QString &text)
{
    return !text.isEmpty() && text.size() <= 19 && std::all_of(text.begin(), text.end(), [](QChar c) {
        return c == u'0' || c == u'1' || c == u'2' || c == u'.';
    });
}

// A whole number in plain decimal digits within [low, high], or -1.
int wholeNumber(const QString &text, int low, int high)
{
    if (text.isEmpty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return -1;
    const int value = text.toInt();
    return value >= low && value <= high ? value : -1;
}

// The song of one line's fields, or the phrase that says why there is none.
QString readSong(const QStringList &fields, Song &song)
{
    static const QStringList names{QStringLiteral("name"), QStringLiteral("tempo"), QStringLiteral("meter"),
                                   QStringLiteral("multiplier"), QStringLiteral("count-in")};
    if (fields.size() != kFields)
        return QStringLiteral("%1 fields, not 5 (name; tempo; meter; multiplier; count-in; a name holds no ;)")
            .arg(fields.size());
    for (int i = 0; i < kFields; ++i) {
        if (fields.at(i).isEmpty())
            return QStringLiteral("the %1 is empty").arg(names.at(i));
    }
    song.name = fields.at(0);
    song.tempo = wholeNumber(fields.at(1), 40, 208);
    song.meter = kPresets.contains(fields.at(2).toLower()) ? fields.at(2).toLower() : fields.at(2);
    song.multiplier = wholeNumber(fields.at(3), 1, 4);
    song.countIn = wholeNumber(fields.at(4), 0, 4);
    if (song.tempo < 0)
        return QStringLiteral("tempo \"%1\" is not 40 to 208").arg(fields.at(1));
    if (song.multiplier < 0 || song.multiplier == 3)
        return QStringLiteral("multiplier \"%1\" is not 1, 2 or 4").arg(fields.at(3));
    if (song.countIn < 0)
        return QStringLiteral("count-in \"%1\" is not 0 to 4 bars").arg(fields.at(4));
    return songProblem(song);
}

} // namespace

bool Song::operator==(const Song &other) const
{
    return name == other.name && tempo == other.tempo && meter == other.meter && multiplier == other.multiplier &&
           countIn == other.countIn;
}

QString songMeter(int meterIndex, const QString &pattern)
{
    return meterIndex >= 0 && meterIndex < kPresets.size() ? kPresets.at(meterIndex) : pattern;
}

int meterIndex(const QString &meter)
{
    const int preset = static_cast<int>(kPresets.indexOf(meter));
    return preset >= 0 ? preset : kCustomIndex;
}

QString meterPattern(const QString &meter)
{
    const int preset = static_cast<int>(kPresets.indexOf(meter));
    return preset >= 0 ? kPresetPatterns.at(preset) : meter;
}

QString nameProblem(const QString &name)
{
    if (name.trimmed().isEmpty())
        return QStringLiteral("the name is empty");
    if (name.contains(u';') || name.contains(u'\n') || name.contains(u'\r'))
        return QStringLiteral("the name \"%1\" holds a ; or a line end").arg(name);
    if (name != name.trimmed() || name.startsWith(u'#'))
        return QStringLiteral("the name \"%1\" starts or ends with a blank or starts with #").arg(name);
    return {};
}

QString songProblem(const Song &song)
{
    if (const QString problem = nameProblem(song.name); !problem.isEmpty())
        return problem;
    if (song.tempo < 40 || song.tempo > 208)
        return QStringLiteral("tempo %1 is not 40 to 208").arg(song.tempo);
    if (!kPresets.contains(song.meter) && !isPattern(song.meter))
        return QStringLiteral("meter \"%1\" is not none, 4/4, 3/4, 2/4 or a pattern of 1 to 19 of 2, 1, 0 and .")
            .arg(song.meter);
    if (song.multiplier != 1 && song.multiplier != 2 && song.multiplier != 4)
        return QStringLiteral("multiplier %1 is not 1, 2 or 4").arg(song.multiplier);
    if (song.countIn < 0 || song.countIn > 4)
        return QStringLiteral("count-in %1 is not 0 to 4 bars").arg(song.countIn);
    return {};
}

SetlistReading readSetlist(const QString &text)
{
    SetlistReading reading;
    QSet<QString> names;
    const QList<QStringView> lines = QStringView(text).split(u'\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        QStringList fields;
        for (const QStringView field : line.split(u';'))
            fields << field.trimmed().toString();
        Song song;
        QString problem = readSong(fields, song);
        if (problem.isEmpty() && names.contains(song.name))
            problem = QStringLiteral("a song named \"%1\" is listed already").arg(song.name);
        if (!problem.isEmpty()) {
            reading.problems << QStringLiteral("line %1: %2").arg(i + 1).arg(problem);
            continue;
        }
        names.insert(song.name);
        reading.songs << song;
    }
    return reading;
}

QString writeSetlist(const QList<Song> &songs)
{
    QString text = QStringLiteral("# name; tempo; meter; multiplier; count-in\n");
    for (const Song &song : songs)
        // One arg() call: a name holding "%2" is not filled in.
        text += QStringLiteral("%1; %2; %3; %4; %5\n")
                    .arg(song.name, QString::number(song.tempo), song.meter, QString::number(song.multiplier),
                         QString::number(song.countIn));
    return text;
}

} // namespace pulsewerk
