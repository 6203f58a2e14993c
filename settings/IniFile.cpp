// SPDX-License-Identifier: GPL-3.0-or-later
// A settings file replaced whole: QSettings sets the values in a copy of the file, which
// is read back and then renamed over the old one.
#include "settings/IniFile.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLockFile>
#include <QRandomGenerator>
#include <QSettings>

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

namespace pulsewerk {
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

// Whether QSettings reads the file without error and finds `values` in group `section`
// and, when `keys` is not negative, that many keys. Reading every key keeps a large file out
// of the store of files that QSettings keeps after use.
bool holds(const QString &fileName, const QString &section, const IniValues &values, qsizetype keys = -1)
{
    QSettings store(fileName, QSettings::IniFormat);
    if (keys >= 0 && store.allKeys().size() != keys)
        return false;
    store.beginGroup(section);
    for (const auto &[key, value] : values) {
        if (store.value(key).toString() != QString::number(value))
            return false;
    }
    return store.status() == QSettings::NoError;
}

// The temporary files of one save, next to the settings file; gone when the save ends.
struct Scratch {
    explicit Scratch(const QString &fileName) : copy(name(fileName)), check(name(fileName)) {}
    ~Scratch()
    {
        QFile::remove(copy);
        QFile::remove(check);
    }
    static QString name(const QString &fileName)
    {
        return QStringLiteral("%1.new-%2").arg(fileName).arg(QRandomGenerator::global()->generate64(), 0, 36);
    }
    const QString copy;
    const QString check;
};

// Copies the settings file (when there is one) to `copy`, with its permissions.
bool copyFile(const QString &fileName, bool exists, const QString &copy)
{
    QByteArray text;
    QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther;
    if (exists) {
        QFile old(fileName);
        if (!old.open(QIODevice::ReadOnly))
            return false; // its keys would be lost
        text = old.readAll();
        if (old.error() != QFileDevice::NoError)
            return false;
        permissions = old.permissions();
    }
    QFile file(copy);
    return file.open(QIODevice::WriteOnly | QIODevice::NewOnly, permissions) && file.write(text) == text.size() &&
           file.flush();
}

bool renameOver(const QString &from, const QString &to)
{
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// Whether the file that QSettings wrote ends in a line end, as all it writes do, and
// reaches the disk. QSaveFile does not report a write that fell short when it closes (a
// full disk), which leaves a file cut off.
bool syncWhole(const QString &fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) && file.seek(file.size() - 1) && file.read(1) == "\n" &&
           ::fsync(file.handle()) == 0;
}

} // namespace

void setReplaceHook(std::function<void(ReplaceStep)> hook) { replaceHook() = std::move(hook); }

bool storeIniValues(const QString &fileName, const QString &section, const IniValues &values, const ReplaceGuard &guard)
{
    if (!QDir().mkpath(QFileInfo(fileName).absolutePath()))
        return false;
    // The lock QSettings takes too, so an older version writing at the same time waits.
    QLockFile lock(fileName + QStringLiteral(".lock"));
    lock.setStaleLockTime(kStaleLockMs);
    // QLockFile breaks a stale lock while it holds "<lock>.rmlock" (and breaks that one
    // under "<lock>.rmlock.rmlock"); one left by a process killed meanwhile it takes for
    // live for half a minute. A live one is held for a moment only.
    const auto clearBreakers = [lockInfo = QFileInfo(fileName + QStringLiteral(".lock"))] {
        for (const QFileInfo &left :
             lockInfo.dir().entryInfoList({lockInfo.fileName() + QStringLiteral(".rmlock*")}, QDir::Files)) {
            if (left.lastModified().msecsTo(QDateTime::currentDateTime()) > kStaleLockMs / 2)
                QFile::remove(left.filePath());
        }
    };
    clearBreakers();
    if (!lock.tryLock(kLockWaitMs / 2)) {
        clearBreakers();
        if (!lock.tryLock(kLockWaitMs / 2))
            return false;
    }
    reached(ReplaceStep::Locked);
    // A file that is a link (kept with the user's other files) stays one: its target is replaced.
    const QFileInfo info(fileName);
    const QString target = info.isSymLink() && info.exists() ? info.canonicalFilePath() : fileName;
    const QString folder = QFileInfo(target).absolutePath();
    // What a save that was killed left behind.
    for (const QString &left :
         QDir(folder).entryList({QFileInfo(target).fileName() + QStringLiteral(".new-*")}, QDir::Files))
        QFile::remove(folder + u'/' + left);

    const bool exists = info.exists();
    if (exists && holds(target, section, values))
        return guard ? guard([] { return true; }) : true;
    if (exists && ::faccessat(AT_FDCWD, QFile::encodeName(target).constData(), W_OK, AT_EACCESS) != 0)
        return false; // made read-only to keep it as it is

    const Scratch scratch(target);
    if (!copyFile(target, exists, scratch.copy))
        return false;
    reached(ReplaceStep::Read);
    qsizetype keys = 0;
    {
        QSettings copy(scratch.copy, QSettings::IniFormat);
        copy.beginGroup(section);
        for (const auto &[key, value] : values)
            copy.setValue(key, value);
        copy.endGroup();
        copy.sync(); // its status may tell of a read error while the write went well: the check tells
        keys = copy.allKeys().size();
    }
    // QSettings keeps what it has read and written by file name: under a new one, the
    // check reads the disk. A file cut off ends early or lacks keys.
    if (!renameOver(scratch.copy, scratch.check) || !holds(scratch.check, section, values, keys) ||
        !syncWhole(scratch.check))
        return false;
    reached(ReplaceStep::Written);

    const auto replace = [&] { return renameOver(scratch.check, target); };
    if (!(guard ? guard(replace) : replace()))
        return false;
    reached(ReplaceStep::Replaced);
    // The rename itself reaches the disk with the folder.
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return true;
}

} // namespace pulsewerk
