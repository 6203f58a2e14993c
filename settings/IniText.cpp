// SPDX-License-Identifier: GPL-3.0-or-later
// The INI text of QSettings, read and written a piece at a time.
#include "settings/IniText.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace pulsewerk {
namespace {

// How much of the file is read at a time, and the longest line held whole: a longer one
// (a quote left open in a broken file) makes the file unreadable rather than the
// program's memory large.
constexpr qsizetype kChunk = 64 * 1024;
constexpr qsizetype kLongestLine = 16 * 1024 * 1024;

bool isSpace(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }

int hexValue(char ch)
{
    if (ch >= '0' && ch <= '9')
        return ch - '0';
    if (ch >= 'a' && ch <= 'f')
        return ch - 'a' + 10;
    if (ch >= 'A' && ch <= 'F')
        return ch - 'A' + 10;
    return -1;
}

bool isHexDigit(char ch) { return hexValue(ch) >= 0; }

// The value of the hex digits text[from, from + count), or -1.
int hexNumber(QByteArrayView text, qsizetype from, int count)
{
    int value = 0;
    for (qsizetype i = from; i < from + count; ++i) {
        if (!isHexDigit(text[i]))
            return -1;
        value = value * 16 + hexValue(text[i]);
    }
    return value;
}

char escapeCode(char ch)
{
    switch (ch) {
    case 'a':
        return '\a';
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    case 'v':
        return '\v';
    case '"':
    case '?':
    case '\'':
    case '\\':
        return ch;
    default:
        return 0;
    }
}

// The escape QSettings writes for a control character.
QByteArray controlEscape(char ch)
{
    switch (ch) {
    case '\0':
        return "\\0";
    case '\a':
        return "\\a";
    case '\b':
        return "\\b";
    case '\f':
        return "\\f";
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    case '\v':
        return "\\v";
    default:
        return "\\x" + QByteArray::number(uchar(ch), 16);
    }
}

void chopBlanks(QString &text, qsizetype limit)
{
    while (text.size() > limit && (text.back() == u' ' || text.back() == u'\t'))
        text.chop(1);
}

} // namespace

bool IniLines::fill()
{
    const qsizetype had = m_buffer.size();
    m_buffer.resize(had + kChunk);
    ssize_t got = 0;
    do
        got = ::read(m_fd, m_buffer.data() + had, kChunk);
    while (got < 0 && errno == EINTR);
    m_buffer.resize(had + std::max<ssize_t>(got, 0));
    m_eof = got <= 0;
    return got >= 0;
}

bool IniLines::next()
{
    m_gapStart = m_lineEnd;
    while (!scan()) {
        // Only the unfinished line stays; a line longer than any sound file has is an error.
        if (m_gapStart > 0) { // moved in place: the buffer keeps its room
            const qsizetype kept = m_buffer.size() - m_gapStart;
            std::memmove(m_buffer.data(), m_buffer.constData() + m_gapStart, size_t(kept));
            m_buffer.resize(kept);
            m_gapStart = m_lineStart = m_lineEnd = 0;
        }
        if (m_buffer.size() > kLongestLine || !fill()) {
            m_failed = true;
            return false;
        }
    }
    return m_lineEnd > m_lineStart;
}

// Finds the line that starts at m_gapStart as QSettings does; false when it may go on
// past what has been read.
bool IniLines::scan()
{
    const QByteArrayView data(m_buffer);
    const qsizetype n = data.size();
    qsizetype i = m_gapStart;
    if (!m_started) { // a byte order mark at the start of the file is skipped
        if (n < 3 && !m_eof)
            return false;
        m_started = true;
        if (data.startsWith("\xef\xbb\xbf"))
            i = m_gapStart = 3;
    }
    while (i < n && isSpace(data[i]))
        ++i;
    qsizetype lineStart = i;
    qsizetype equals = -1;
    bool inQuotes = false;
    const auto found = [&](qsizetype end) {
        m_lineStart = lineStart;
        m_lineEnd = end;
        m_equals = equals;
        return true;
    };
    while (i < n) {
        const char ch = data[i++];
        if (ch == '=') {
            if (!inQuotes && equals < 0)
                equals = i - 1;
        } else if (ch == '\n' || ch == '\r') {
            if (i == lineStart + 1)
                ++lineStart;
            else if (!inQuotes)
                return found(i - 1);
        } else if (ch == '\\') {
            if (i + 1 >= n && !m_eof)
                return false;
            if (i < n) {
                const char escaped = data[i++];
                if (i < n && ((escaped == '\n' && data[i] == '\r') || (escaped == '\r' && data[i] == '\n')))
                    ++i;
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';') {
            if (i != lineStart + 1) {
                if (!inQuotes)
                    return found(i - 1);
                continue;
            }
            while (i < n && data[i] != '\n' && data[i] != '\r')
                ++i;
            while (i < n && isSpace(data[i]))
                ++i;
            if (i == n && !m_eof)
                return false;
            lineStart = i;
        }
    }
    return m_eof && found(n);
}

QString iniSectionGroup(QByteArrayView line)
{
    qsizetype end = line.indexOf(']');
    if (end < 0)
        end = line.size();
    const QByteArrayView name = line.sliced(1, end - 1).trimmed();
    if (name.compare("general", Qt::CaseInsensitive) == 0)
        return {};
    if (name.compare("%general", Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(name.sliced(1)) + u'/';
    return iniUnescapedKey(name) + u'/';
}

QString iniUnescapedKey(QByteArrayView key)
{
    QString result;
    qsizetype i = 0;
    while (i < key.size()) {
        const char ch = key[i];
        if (ch == '\\') {
            result += u'/';
            ++i;
            continue;
        }
        if (ch != '%' || i == key.size() - 1) { // a run of plain bytes, read as UTF-8
            qsizetype end = i + 1;
            while (end < key.size() && key[end] != '%' && key[end] != '\\')
                ++end;
            result += QString::fromUtf8(key.sliced(i, end - i));
            i = end;
            continue;
        }
        const bool wide = key[i + 1] == 'U';
        const qsizetype first = i + (wide ? 2 : 1);
        const int digits = wide ? 4 : 2;
        const int value = first + digits <= key.size() ? hexNumber(key, first, digits) : -1;
        if (value < 0) {
            result += u'%';
            ++i;
            continue;
        }
        result += QChar(value);
        i = first + digits;
    }
    return result;
}

QByteArray iniEscapedKey(const QString &key)
{
    QByteArray result;
    for (const QChar each : key) {
        const char16_t ch = each.unicode();
        if (ch == u'/')
            result += '\\';
        else if ((ch >= u'a' && ch <= u'z') || (ch >= u'A' && ch <= u'Z') || (ch >= u'0' && ch <= u'9') || ch == u'_' ||
                 ch == u'-' || ch == u'.')
            result += char(ch);
        else if (ch <= 0xFF)
            result += '%' + QByteArray::number(ch, 16).rightJustified(2, '0').toUpper();
        else
            result += "%U" + QByteArray::number(ch, 16).rightJustified(4, '0').toUpper();
    }
    return result;
}

QByteArray iniEscapedText(const QString &text)
{
    const QByteArray utf8 = (text.startsWith(u'@') ? u'@' + text : text).toUtf8();
    QByteArray result;
    bool needsQuotes = false;
    bool escapeNextIfDigit = false; // a digit after "\x.." would be read as part of it
    for (const char ch : utf8) {
        needsQuotes = needsQuotes || ch == ';' || ch == ',' || ch == '=';
        if (escapeNextIfDigit && isHexDigit(ch)) {
            result += "\\x" + QByteArray::number(uchar(ch), 16);
            continue;
        }
        escapeNextIfDigit = false;
        if (ch == '"' || ch == '\\') {
            result += '\\';
            result += ch;
        } else if (uchar(ch) <= 0x1F) {
            const QByteArray escape = controlEscape(ch);
            result += escape;
            escapeNextIfDigit = escape[1] == 'x' || ch == 0;
        } else {
            result += ch;
        }
    }
    if (needsQuotes || result.startsWith(' ') || result.endsWith(' '))
        result = '"' + result + '"';
    return result;
}

std::optional<QString> iniUnescapedText(QByteArrayView value)
{
    QString text;
    bool inQuotes = false;
    bool quoted = false;
    qsizetype chopLimit = 0;
    qsizetype i = 0;
    const auto skipBlanks = [&] {
        while (i < value.size() && (value[i] == ' ' || value[i] == '\t'))
            ++i;
    };
    skipBlanks();
    while (i < value.size()) {
        const char ch = value[i];
        if (ch == '\\') {
            ++i;
            if (i == value.size())
                break;
            const char code = value[i++];
            if (escapeCode(code)) {
                text += QLatin1Char(escapeCode(code));
            } else if ((code == 'x' && i < value.size() && isHexDigit(value[i])) || (code >= '0' && code <= '7')) {
                const int base = code == 'x' ? 16 : 8;
                int number = code == 'x' ? 0 : code - '0';
                while (i < value.size() && hexValue(value[i]) >= 0 && hexValue(value[i]) < base)
                    number = number * base + hexValue(value[i++]);
                text += QChar(char16_t(number));
            } else if ((code == '\n' || code == '\r') && i < value.size() && (value[i] == '\n' || value[i] == '\r') &&
                       value[i] != code) {
                ++i;
            }
            chopLimit = text.size();
        } else if (ch == '"') {
            ++i;
            quoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes)
                skipBlanks();
        } else if (ch == ',' && !inQuotes) {
            return std::nullopt; // a list
        } else {
            qsizetype j = i + 1;
            while (j < value.size() && value[j] != '\\' && value[j] != '"' && value[j] != ',')
                ++j;
            text += QString::fromUtf8(value.sliced(i, j - i));
            i = j;
        }
    }
    if (!quoted)
        chopBlanks(text, chopLimit);
    if (!text.startsWith(u'@'))
        return text;
    if (text.startsWith(QLatin1String("@@")))
        return text.mid(1);
    for (const char *typed : {"@ByteArray(", "@Variant(", "@DateTime(", "@Rect(", "@Size(", "@Point(", "@Invalid("}) {
        if (text.startsWith(QLatin1String(typed)) && text.endsWith(u')'))
            return std::nullopt;
    }
    return text;
}

QByteArray iniLineCloser(QByteArrayView line)
{
    bool inQuotes = false;
    bool escaping = false;
    for (const char ch : line) {
        if (escaping)
            escaping = false;
        else if (ch == '\\')
            escaping = true;
        else if (ch == '"')
            inQuotes = !inQuotes;
    }
    return QByteArray(escaping ? " " : "") + (inQuotes ? "\"" : "");
}

} // namespace pulsewerk
