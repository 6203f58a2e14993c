// SPDX-License-Identifier: GPL-3.0-or-later
// Settings files in the INI form of QSettings, read a piece at a time and replaced whole
// in one atomic step.
#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

namespace pulsewerk {

// A key (letters and digits) with its value as text.
struct IniValue {
    IniValue(QString key, int value) : key(std::move(key)), text(QString::number(value)) {}
    IniValue(QString key, QString text) : key(std::move(key)), text(std::move(text)) {}
    QString key;
    QString text;
};
using IniValues = QList<IniValue>;

// The moments of a replacement, in order, for tests that end the process at each.
enum class ReplaceStep { Locked, Read, Written, Replaced };
using ReplaceHook = std::function<void(ReplaceStep)>;

// Runs `replace` (the rename over the old file) and returns its result, or declines it
// by returning false without running it.
using ReplaceGuard = std::function<bool(const std::function<bool()> &replace)>;

// The keys of group `group` that the file `fileName` holds, as QSettings would read them,
// each with its text; no text for a value that is not one (a list, a typed value).
// Empty when the file is missing, cannot be read, or is not a regular file: a FIFO or a
// device is never opened. The file is read a piece at a time.
using IniGroup = QHash<QString, std::optional<QString>>;
IniGroup readIniGroup(const QString &fileName, const QString &group);

// Sets `values` in group `section` of the file `fileName`, keeping its other keys and
// groups line for line: holding the file's lock, copies it a piece at a time to a
// temporary file in the same folder with the values set, syncs the copy to the disk and
// renames it over the old file (over the file a link points at, for a link). Whenever the
// process dies, the file holds all the old values or all the new ones. Returns true when
// the file holds the new values; a file that cannot be read, is read-only or is not a
// regular file is left as it is. A lock left by a process that is gone is broken; a live
// one is waited for a little while only. `onStep` is called at each step.
bool storeIniValues(const QString &fileName, const QString &section, const IniValues &values,
                    const ReplaceGuard &guard = {}, const ReplaceHook &onStep = {});

} // namespace pulsewerk
