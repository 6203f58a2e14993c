// The INI text is read by the rules of QSettings' own reader (logical lines that quotes
// and backslashes carry across line ends, comments from ';', escaped group and key
// names), so that a line is taken for a key exactly when QSettings would take it so.
#include "platform/IniFile.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QSaveFile>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace platform {
namespace {

// A lock older than this is taken for one left behind; a live writer holds it far less.
constexpr int kStaleLockMs = 2000;
// Long enough for a lock left by another host (which only its age shows stale) to go.
constexpr int kLockWaitMs = 2500;

std::function<void(ReplaceStep)> &replaceHook()
{
    static std::function<void(ReplaceStep)> hook;
    return hook;
}

void reached(ReplaceStep step)
{
    if (replaceHook())
        replaceHook()(step);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool isLineEnd(char c) { return c == '\n' || c == '\r'; }

// One logical line: [start, end) holds its text; `equals` is the offset of its first '='
// outside quotes, or -1. An open line runs to the end of the text inside quotes or after
// a lone backslash: whatever came after it would belong to it.
struct Line {
    qsizetype start = 0;
    qsizetype end = 0;
    qsizetype equals = -1;
    bool open = false;
};

// Reads the logical line that begins at or after `pos` and moves `pos` past it.
// Returns false at the end of the text.
bool nextLine(const QByteArray &data, qsizetype &pos, Line &line)
{
    const char *text = data.constData();
    const qsizetype size = data.size();
    qsizetype start = pos;
    while (start < size && isSpace(text[start]))
        ++start;
    bool quoted = false;
    bool escaping = false;
    qsizetype equals = -1;
    qsizetype i = start;
    while (i < size) {
        const char c = text[i++];
        if (c != '=' && c != '\n' && c != '\r' && c != '\\' && c != '"' && c != ';')
            continue;
        if (c == '=') {
            if (!quoted && equals < 0)
                equals = i - 1;
        } else if (isLineEnd(c)) {
            if (i == start + 1) {
                ++start;
            } else if (!quoted) {
                --i;
                break;
            }
        } else if (c == '\\') {
            escaping = i == size;
            if (i < size) {
                const char escaped = text[i++];
                // A backslash before a two-character line end carries the line over both.
                if (i < size && isLineEnd(escaped) && isLineEnd(text[i]) && text[i] != escaped)
                    ++i;
            }
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ';') {
            if (i == start + 1) { // a comment: the line begins after it
                while (i < size && !isLineEnd(text[i]))
                    ++i;
                while (i < size && isSpace(text[i]))
                    ++i;
                start = i;
            } else if (!quoted) {
                --i;
                break;
            }
        }
    }
    pos = i;
    line = {start, i, equals, i == size && (quoted || escaping)};
    return i > start;
}

// Where the physical line that `end` lies on ends, past its line break.
qsizetype pastLineEnd(const QByteArray &data, qsizetype end)
{
    const char *text = data.constData();
    const qsizetype size = data.size();
    while (end < size && !isLineEnd(text[end]))
        ++end; // a comment after the line
    if (end < size && text[end] == '\r')
        ++end;
    if (end < size && text[end] == '\n')
        ++end;
    return end;
}

// A group or key name as QSettings reads it: '\' is the group separator, %XX and %UXXXX
// are characters.
QString unescapedName(QByteArrayView raw)
{
    const QString text = QString::fromUtf8(raw);
    QString name;
    name.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text[i];
        if (c == u'\\') {
            name += u'/';
            ++i;
            continue;
        }
        if (c == u'%' && i + 1 < text.size()) {
            const bool wide = text[i + 1] == u'U';
            const qsizetype first = i + (wide ? 2 : 1);
            const qsizetype digits = wide ? 4 : 2;
            bool ok = false;
            const ushort code = first + digits <= text.size() ? text.mid(first, digits).toUShort(&ok, 16) : 0;
            if (ok) {
                name += QChar(code);
                i = first + digits;
                continue;
            }
        }
        name += c;
        ++i;
    }
    return name;
}

// The prefix that a group header gives the keys below it ("" for the general group).
QString groupPrefix(QByteArrayView header)
{
    if (header.compare("general", Qt::CaseInsensitive) == 0)
        return {};
    if (header.compare("%general", Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(header.sliced(1)) + u'/';
    return unescapedName(header) + u'/';
}

// A name written so that QSettings reads it back: letters, digits and "_-." as they are.
QByteArray escapedName(const QString &name)
{
    QByteArray out;
    for (const QChar c : name) {
        const ushort code = c.unicode();
        if (code == '/')
            out += '\\';
        else if ((code < 128 && std::isalnum(code)) || code == '_' || code == '-' || code == '.')
            out += char(code);
        else if (code <= 0xff)
            out += '%' + QByteArray::number(code, 16).toUpper().rightJustified(2, '0');
        else
            out += "%U" + QByteArray::number(code, 16).toUpper().rightJustified(4, '0');
    }
    return out;
}

// A change to the text: `length` bytes at `at` give way to `insert`.
struct Edit {
    qsizetype at;
    qsizetype length;
    QByteArray insert;
};

} // namespace

QByteArray IniWithValues(const QByteArray &ini, const QString &section, const IniValues &values)
{
    const QString prefix = section + u'/';
    QByteArray block;
    QStringList wanted;
    for (const auto &[key, value] : values) {
        block += escapedName(key) + '=' + QByteArray::number(value) + '\n';
        wanted << prefix + key;
    }
    // No escaped form of a wanted key is longer than six bytes a character (%UXXXX).
    qsizetype longestWanted = 0;
    for (const QString &key : wanted)
        longestWanted = std::max(longestWanted, 6 * key.size());

    std::vector<Edit> edits;
    qsizetype blockAt = -1;     // the first key line of the group, replaced by the block
    qsizetype afterHeader = -1; // just past the group's first header
    QString current;            // the prefix of the group being read
    bool openEnd = false;       // the text ends in an open line
    bool firstLine = true;
    bool headerFirst = false; // the first line is a group header
    // A byte order mark goes: QSettings 6.4 takes it for a line it cannot read.
    const qsizetype bom = ini.startsWith("\xef\xbb\xbf") ? 3 : 0;
    if (bom)
        edits.push_back({0, bom, {}});
    qsizetype pos = bom;
    Line line;
    while (nextLine(ini, pos, line)) {
        openEnd = line.open;
        if (firstLine)
            headerFirst = ini[line.start] == '[';
        firstLine = false;
        const QByteArrayView text = QByteArrayView(ini).sliced(line.start, line.end - line.start);
        if (text.startsWith('[')) {
            qsizetype close = text.indexOf(']');
            if (close < 0) {
                edits.push_back({line.end, 0, "]"});
                close = text.size();
            }
            current = groupPrefix(text.sliced(1, close - 1).trimmed());
            if (current == prefix && afterHeader < 0)
                afterHeader = pastLineEnd(ini, line.end);
            continue;
        }
        const bool unreadable = line.equals < 0 && !text.startsWith(';');
        bool replaced = false;
        if (line.equals >= 0) {
            const QByteArrayView key = text.first(line.equals - line.start).trimmed();
            if (key.size() <= longestWanted)
                replaced = wanted.contains(current + unescapedName(key));
        }
        if (!unreadable && !replaced)
            continue;
        // The line goes up to its line break; a comment after it stays, as a comment.
        qsizetype end = line.end;
        if (end < ini.size() && isLineEnd(ini[end]))
            end = pastLineEnd(ini, end);
        QByteArray insert;
        if (replaced && current == prefix && blockAt < 0) {
            blockAt = line.start;
            insert = block;
        }
        edits.push_back({line.start, end - line.start, insert});
    }

    if (blockAt < 0) {
        const QByteArray header = '[' + escapedName(section) + "]\n";
        if (afterHeader >= 0 && !(afterHeader == ini.size() && openEnd)) {
            const bool unended = afterHeader == ini.size() && !ini.isEmpty() && !isLineEnd(ini.back());
            edits.push_back({afterHeader, 0, (unended ? "\n" : "") + block});
        } else if (!openEnd) {
            QByteArray ending;
            if (ini.size() > bom)
                ending = isLineEnd(ini.back()) ? "\n" : "\n\n";
            edits.push_back({ini.size(), 0, ending + header + block});
        } else {
            // Nothing can follow an open last line: the group goes first, and the keys
            // that stood before any header stay in the general group.
            edits.push_back({bom, 0, header + block + (headerFirst ? "" : "[General]\n")});
        }
        // In text order; at one place, what is put in goes before what is taken out.
        std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) {
            return a.at < b.at || (a.at == b.at && a.length < b.length);
        });
    }

    qsizetype size = ini.size();
    for (const Edit &edit : edits)
        size += edit.insert.size() - edit.length;
    QByteArray out;
    out.reserve(size);
    qsizetype from = 0;
    for (const Edit &edit : edits) {
        out.append(ini.constData() + from, edit.at - from);
        out += edit.insert;
        from = edit.at + edit.length;
    }
    out.append(ini.constData() + from, ini.size() - from);
    return out;
}

void SetReplaceHook(std::function<void(ReplaceStep)> hook) { replaceHook() = std::move(hook); }

bool StoreIniValues(const QString &fileName, const QString &section, const IniValues &values, const ReplaceGuard &guard)
{
    const QFileInfo info(fileName);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    // The lock QSettings takes too, so an older version writing at the same time waits.
    QLockFile lock(fileName + QStringLiteral(".lock"));
    lock.setStaleLockTime(kStaleLockMs);
    if (!lock.tryLock(kLockWaitMs))
        return false;
    reached(ReplaceStep::Locked);

    QByteArray old;
    if (info.exists()) {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            return false; // its keys would be lost
        old = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return false;
    }
    reached(ReplaceStep::Read);

    const QByteArray text = IniWithValues(old, section, values);
    if (info.exists() && text == old)
        return guard ? guard([] { return true; }) : true; // it holds these values already
    old.clear();
    if (info.exists() && ::faccessat(AT_FDCWD, QFile::encodeName(fileName).constData(), W_OK, AT_EACCESS) != 0)
        return false; // made read-only to keep it as it is
    QSaveFile file(fileName);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(text) != text.size() || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return false;
    }
    reached(ReplaceStep::Written);

    const auto replace = [&file] { return file.commit(); };
    if (!(guard ? guard(replace) : replace()))
        return false;
    reached(ReplaceStep::Replaced);
    // The rename itself reaches the disk with the folder.
    const int folder = ::open(QFile::encodeName(QFileInfo(file.fileName()).absolutePath()).constData(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

} // namespace platform
