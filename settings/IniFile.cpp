// SPDX-License-Identifier: GPL-3.0-or-later
// A settings file read and rewritten a piece at a time, so that a large one takes little
// memory, and replaced whole: the copy with the new values is renamed over the old file.
#include "settings/IniFile.h"

#include "settings/IniText.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>

#include <cerrno>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <vector>

namespace pulsewerk {
namespace {

// A lock older than this is taken for one left behind; a live writer holds it far less.
constexpr int kStaleLockMs = 2000;
// Long enough for a lock left by another host (which only its age shows stale) to go.
constexpr int kLockWaitMs = 2500;
// What the copy collects before each write.
constexpr qsizetype kWriteChunk = 64 * 1024;
// Links followed to the file a link points at.
constexpr int kMostLinks = 40;

// Opens `fileName` for reading when it is a regular file. Anything else (a FIFO, a
// socket, a device) is not opened, as opening it could block; the check on the open
// file catches one put in its place meanwhile.
int openRegular(const QString &fileName, struct stat *info)
{
    const QByteArray name = QFile::encodeName(fileName);
    if (::stat(name.constData(), info) != 0 || !S_ISREG(info->st_mode))
        return -1;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0 && (::fstat(fd, info) != 0 || !S_ISREG(info->st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Writes the copy in pieces, keeping count and the first failure.
class Output {
public:
    explicit Output(int fd) : m_fd(fd) {}
    void write(QByteArrayView bytes)
    {
        if (!bytes.isEmpty())
            m_last = bytes.back();
        m_pending.append(bytes);
        if (m_pending.size() >= kWriteChunk)
            flush();
    }
    bool flush()
    {
        for (qsizetype done = 0; !m_failed && done < m_pending.size();) {
            const ssize_t wrote = ::write(m_fd, m_pending.constData() + done, size_t(m_pending.size() - done));
            if (wrote > 0) {
                done += wrote;
                m_written += wrote;
            } else if (wrote == 0 || errno != EINTR) {
                m_failed = true; // a full disk, or a file size limit
            }
        }
        m_pending.resize(0); // keeps its room for the next piece
        return !m_failed;
    }
    qint64 written() const { return m_written + m_pending.size(); }
    // Whether what has been written so far ends a line (or is nothing).
    bool atLineStart() const { return m_last == '\n' || m_last == '\r' || m_last == 0; }

private:
    int m_fd;
    QByteArray m_pending;
    qint64 m_written = 0;
    char m_last = 0;
    bool m_failed = false;
};

// Copies a settings file line by line with `values` set in their group: a key of the
// group keeps its place with its new value; another copy of it (a second section of the
// group, or the key spelled from another group) goes; the keys not found end the group's
// first section, or a new section at the end. Lines that QSettings reads as errors go too,
// so that the copy reads without one.
class GroupCopy {
public:
    GroupCopy(const QString &group, const IniValues &values, Output &out)
        : m_prefix(group + u'/'), m_group(group), m_values(values), m_out(out), m_placed(values.size(), false)
    {}

    // Copies the file open as `fd` (none when negative); false when it cannot be read whole.
    bool copy(int fd)
    {
        if (fd >= 0) {
            IniLines lines(fd);
            while (lines.next()) {
                writeGap(lines.gap());
                copyLine(lines);
            }
            if (lines.failed())
                return false;
            writeGap(lines.rest());
        }
        if (!m_done)
            placeMissing(true);
        return m_out.flush();
    }
    // Whether the copy differs from the file.
    bool changed() const { return m_changed; }

private:
    void writeGap(QByteArrayView gap)
    {
        if (m_skipLineEnd) { // the end of a line that went
            m_skipLineEnd = false;
            const qsizetype lineEnd = gap.startsWith("\r\n") ? 2 : gap.startsWith('\n') || gap.startsWith('\r') ? 1 : 0;
            gap = gap.sliced(lineEnd);
        }
        m_out.write(gap);
    }

    void copyLine(const IniLines &lines)
    {
        const QByteArrayView line = lines.line();
        std::optional<QByteArray> other; // what stands instead of the line, when not itself
        if (line.startsWith('[')) {
            if (m_inGroup && !m_done)
                placeMissing(false);
            m_section = iniSectionGroup(line);
            m_inGroup = m_section == m_prefix;
            if (!line.contains(']')) // an error to QSettings, which reads the name as if it were there
                other = line.toByteArray() + ']';
        } else {
            other = lines.equalsAt() >= 0 ? keyLine(line, lines.equalsAt()) : QByteArray();
        }
        const QByteArrayView written = other ? QByteArrayView(*other) : line;
        m_changed = m_changed || written != line;
        m_skipLineEnd = written.isEmpty();
        m_out.write(written);
        m_closer = lines.lineAtEnd() && !written.isEmpty() ? iniLineCloser(written) + '\n' : QByteArray();
    }

    // What stands for a key line of the file: no other line (itself), the key with its
    // new value, or nothing.
    std::optional<QByteArray> keyLine(QByteArrayView line, qsizetype equals)
    {
        if (!m_prefix.startsWith(m_section))
            return std::nullopt;
        const QString key = m_section + iniUnescapedKey(line.first(equals).trimmed());
        for (qsizetype i = 0; i < m_values.size(); ++i) {
            if (key != m_prefix + m_values[i].key)
                continue;
            if (!m_inGroup || m_done || m_placed[i])
                return QByteArray(); // goes
            m_placed[i] = true;
            return valueLine(m_values[i]);
        }
        return std::nullopt;
    }

    void placeMissing(bool atEnd)
    {
        m_done = true;
        if (std::find(m_placed.begin(), m_placed.end(), false) == m_placed.end())
            return;
        m_changed = true;
        if (atEnd) {
            m_out.write(m_closer);
            if (!m_out.atLineStart())
                m_out.write("\n");
            if (!m_inGroup)
                m_out.write((m_out.written() > 0 ? "\n" : "") + header(m_group) + '\n');
        }
        for (qsizetype i = 0; i < m_values.size(); ++i) {
            if (!m_placed[i])
                m_out.write(valueLine(m_values[i]) + '\n');
        }
    }

    static QByteArray header(const QString &group)
    {
        const QByteArray name = iniEscapedKey(group);
        if (name.isEmpty())
            return "[General]";
        return name.compare("general", Qt::CaseInsensitive) == 0 ? "[%" + name + ']' : '[' + name + ']';
    }

    static QByteArray valueLine(const IniValue &value)
    {
        return iniEscapedKey(value.key) + '=' + iniEscapedText(value.text);
    }

    const QString m_prefix;
    const QString m_group;
    const IniValues &m_values;
    Output &m_out;
    std::vector<bool> m_placed;
    QString m_section;
    QByteArray m_closer;
    bool m_inGroup = false;
    bool m_done = false;
    bool m_changed = false;
    bool m_skipLineEnd = false;
};

// The temporary file of one save, next to the settings file; gone when the save ends.
struct Scratch {
    explicit Scratch(const QString &fileName)
        : name(QStringLiteral("%1.new-%2").arg(fileName).arg(QRandomGenerator::global()->generate64(), 0, 36))
    {}
    ~Scratch()
    {
        if (fd >= 0)
            ::close(fd);
        QFile::remove(name);
    }
    // Whether the copy is on the disk whole: a write that fell short shows in its size.
    bool sync()
    {
        struct stat written {};
        const bool synced = ::fsync(fd) == 0 && ::fstat(fd, &written) == 0 && written.st_size == size;
        const int was = fd;
        fd = -1;
        return ::close(was) == 0 && synced;
    }
    const QString name;
    int fd = -1;
    qint64 size = 0;
};

bool renameOver(const QString &from, const QString &to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// The file a save replaces: the settings file, or for a link the file it points at, also
// one that does not exist yet (the save creates it). Empty for a loop of links.
QString saveTarget(const QString &fileName)
{
    QFileInfo info(fileName);
    for (int links = 0; info.isSymLink(); ++links) {
        if (info.exists())
            return info.canonicalFilePath();
        if (links == kMostLinks || info.symLinkTarget().isEmpty())
            return {};
        info = QFileInfo(info.symLinkTarget());
    }
    return info.absoluteFilePath();
}

// Takes the lock QSettings takes too, so that an older version writing at the same time waits.
bool lockSettings(QLockFile &lock, const QString &lockName)
{
    lock.setStaleLockTime(kStaleLockMs);
    // QLockFile breaks a stale lock while it holds "<lock>.rmlock" (and breaks that one
    // under "<lock>.rmlock.rmlock"); one left by a process killed meanwhile it takes for
    // live for half a minute. A live one is held for a moment only.
    const auto clearBreakers = [lockInfo = QFileInfo(lockName)] {
        for (const QFileInfo &left :
             lockInfo.dir().entryInfoList({lockInfo.fileName() + QStringLiteral(".rmlock*")}, QDir::Files)) {
            if (left.lastModified().msecsTo(QDateTime::currentDateTime()) > kStaleLockMs / 2)
                QFile::remove(left.filePath());
        }
    };
    clearBreakers();
    if (lock.tryLock(kLockWaitMs / 2))
        return true;
    clearBreakers();
    return lock.tryLock(kLockWaitMs / 2);
}

void syncFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

enum class Copied { Failed, Unchanged, Written };

// Writes the copy of `target` with the values set into `scratch`.
Copied writeCopy(const QString &target, const QString &section, const IniValues &values, Scratch &scratch)
{
    struct stat old {};
    const bool exists = ::lstat(QFile::encodeName(target).constData(), &old) == 0;
    const int in = exists ? openRegular(target, &old) : -1;
    if (exists && in < 0)
        return Copied::Failed; // its keys would be lost
    if (exists && ::faccessat(AT_FDCWD, QFile::encodeName(target).constData(), W_OK, AT_EACCESS) != 0) {
        ::close(in);
        return Copied::Failed; // made read-only to keep it as it is
    }
    scratch.fd = ::open(QFile::encodeName(scratch.name).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (scratch.fd < 0 || (exists && ::fchmod(scratch.fd, old.st_mode & 07777) != 0)) {
        if (in >= 0)
            ::close(in);
        return Copied::Failed;
    }
    Output out(scratch.fd);
    GroupCopy copy(section, values, out);
    const bool whole = copy.copy(in);
    if (in >= 0)
        ::close(in);
    if (!whole)
        return Copied::Failed;
    scratch.size = out.written();
    return copy.changed() ? Copied::Written : Copied::Unchanged;
}

} // namespace

IniGroup readIniGroup(const QString &fileName, const QString &group)
{
    struct stat info {};
    const int fd = openRegular(fileName, &info);
    if (fd < 0)
        return {};
    const QString prefix = group + u'/';
    QString section;
    // Of sections that name the same key, QSettings takes the one whose name sorts last.
    QHash<QString, QString> sectionOf;
    IniGroup found;
    IniLines lines(fd);
    while (lines.next()) {
        const QByteArrayView line = lines.line();
        if (line.startsWith('[')) {
            section = iniSectionGroup(line);
            continue;
        }
        if (lines.equalsAt() < 0 || !prefix.startsWith(section))
            continue;
        const QString key = section + iniUnescapedKey(line.first(lines.equalsAt()).trimmed());
        if (!key.startsWith(prefix) || key.indexOf(u'/', prefix.size()) >= 0)
            continue;
        const QString name = key.mid(prefix.size());
        if (sectionOf.contains(name) && section < sectionOf.value(name))
            continue;
        sectionOf.insert(name, section);
        found.insert(name, iniUnescapedText(line.sliced(lines.equalsAt() + 1)));
    }
    ::close(fd);
    return lines.failed() ? IniGroup() : found;
}

bool storeIniValues(const QString &fileName, const QString &section, const IniValues &values, const ReplaceGuard &guard,
                    const ReplaceHook &onStep)
{
    const auto reached = [&onStep](ReplaceStep step) {
        if (onStep)
            onStep(step);
    };
    if (!QDir().mkpath(QFileInfo(fileName).absolutePath()))
        return false;
    QLockFile lock(fileName + QStringLiteral(".lock"));
    if (!lockSettings(lock, fileName + QStringLiteral(".lock")))
        return false;
    reached(ReplaceStep::Locked);
    // A file that is a link (kept with the user's other files) stays one: its target is replaced.
    const QString target = saveTarget(fileName);
    if (target.isEmpty())
        return false;
    const QString folder = QFileInfo(target).absolutePath();
    // What a save that was killed left behind.
    for (const QString &left :
         QDir(folder).entryList({QFileInfo(target).fileName() + QStringLiteral(".new-*")}, QDir::Files))
        QFile::remove(folder + u'/' + left);

    Scratch scratch(target);
    const Copied copied = writeCopy(target, section, values, scratch);
    if (copied == Copied::Unchanged)
        return guard ? guard([] { return true; }) : true;
    if (copied == Copied::Failed)
        return false;
    reached(ReplaceStep::Read);
    if (!scratch.sync()) // the copy reaches the disk before the rename
        return false;
    reached(ReplaceStep::Written);
    const auto replace = [&] { return renameOver(scratch.name, target); };
    if (!(guard ? guard(replace) : replace()))
        return false;
    reached(ReplaceStep::Replaced);
    syncFolder(folder); // the rename itself reaches the disk with the folder
    return true;
}

} // namespace pulsewerk
