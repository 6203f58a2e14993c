// SPDX-License-Identifier: GPL-3.0-or-later
// The INI text of QSettings, read and written a piece at a time: the file is split into
// the lines QSettings sees, and names and values are escaped as it escapes them.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

namespace pulsewerk {

// Splits a file into the logical lines QSettings reads (a quoted line end or one after
// a backslash continues the line; a semicolon starts a comment), holding a small part of
// the file at a time.
class IniLines {
public:
    explicit IniLines(int fd) : m_fd(fd) {}

    // Moves on to the next line; false at the end of the file or when it cannot be read.
    bool next();
    // What came before the line since the previous one: blanks, comments, line ends.
    QByteArrayView gap() const { return view(m_gapStart, m_lineStart); }
    QByteArrayView line() const { return view(m_lineStart, m_lineEnd); }
    // The first '=' outside quotes, within line(); -1 when there is none.
    qsizetype equalsAt() const { return m_equals < 0 ? -1 : m_equals - m_lineStart; }
    // After the end: whether the file was read whole, and what followed the last line.
    bool failed() const { return m_failed; }
    QByteArrayView rest() const { return view(m_gapStart, m_buffer.size()); }
    // Whether the line runs to the end of the file rather than to a line end.
    bool lineAtEnd() const { return m_eof && m_lineEnd == m_buffer.size(); }

private:
    bool fill();
    bool scan();
    QByteArrayView view(qsizetype from, qsizetype to) const { return QByteArrayView(m_buffer).sliced(from, to - from); }

    int m_fd;
    QByteArray m_buffer;
    bool m_eof = false;
    bool m_failed = false;
    bool m_started = false;
    qsizetype m_gapStart = 0;
    qsizetype m_lineStart = 0;
    qsizetype m_lineEnd = 0;
    qsizetype m_equals = -1;
};

// The group a section header line opens, ending in '/' ("" for the general group).
QString iniSectionGroup(QByteArrayView line);
// A key as QSettings names it: "%XX" and "%UXXXX" escapes undone, '\' a group separator.
QString iniUnescapedKey(QByteArrayView key);
QByteArray iniEscapedKey(const QString &key);
// A text value as QSettings writes a string, and reads one back; no value when the stored
// one is a list or a value of another type.
QByteArray iniEscapedText(const QString &text);
std::optional<QString> iniUnescapedText(QByteArrayView value);
// What to add after the unfinished last line `line` so that a line end ends it: a blank
// after an escaping backslash, a quote for an open quote.
QByteArray iniLineCloser(QByteArrayView line);

} // namespace pulsewerk
