// SPDX-License-Identifier: GPL-3.0-or-later
// Setlists: named songs, each with its tempo, meter, multiplier and count-in, and their
// plain text form, one song a line: "name; tempo; meter; multiplier; count-in".
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace pulsewerk {

struct Song {
    QString name;           // not empty, no ';', no line end
    int tempo = 120;        // 40..208
    QString meter = "none"; // none, 4/4, 3/4, 2/4, or a pattern of 1 to 19 of 2, 1, 0 and .
    int multiplier = 1;     // 1, 2 or 4
    int countIn = 0;        // bars, 0..4

    bool operator==(const Song &other) const;
};

// The meter as a song writes it: a preset's name in lower case, or the pattern itself.
QString songMeter(int meterIndex, const QString &pattern);
// The meter list's entry of a song's meter (4 for a custom pattern), and its pattern.
int meterIndex(const QString &meter);
QString meterPattern(const QString &meter);

// What is wrong with `song`, as a phrase; empty when it can be played.
QString songProblem(const Song &song);
// What is wrong with `name` as a song's name; empty when it can serve.
QString nameProblem(const QString &name);

struct SetlistReading {
    QList<Song> songs;
    QStringList problems; // "line N: what is wrong", in line order
};

// Reads a setlist's text. Blank lines and lines starting with '#' are passed over; a
// line that is not a song, or names one listed already, is reported by its number and
// skipped. Blanks around the fields do not count.
SetlistReading readSetlist(const QString &text);
// The songs as text that readSetlist reads back as they are.
QString writeSetlist(const QList<Song> &songs);

} // namespace pulsewerk
