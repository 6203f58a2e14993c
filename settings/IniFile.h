// SPDX-License-Identifier: GPL-3.0-or-later
// Settings files in the INI form of QSettings, replaced whole in one atomic step.
#pragma once

#include <QList>
#include <QPair>
#include <QString>

#include <functional>

namespace pulsewerk {

// Keys (letters and digits) with their whole-number values.
using IniValues = QList<QPair<QString, int>>;

// The moments of a replacement, in order, for tests that end the process at each.
enum class ReplaceStep { Locked, Read, Written, Replaced };
void setReplaceHook(std::function<void(ReplaceStep)> hook);

// Runs `replace` (the rename over the old file) and returns its result, or declines it
// by returning false without running it.
using ReplaceGuard = std::function<bool(const std::function<bool()> &replace)>;

// Sets `values` in group `section` of the file `fileName`, keeping its other keys and
// groups: holding the file's lock, copies it to a temporary file in the same folder,
// sets the values there through QSettings, reads them back, syncs the copy to the disk
// and renames it over the old file. Whenever the process dies, the file holds all the
// old values or all the new ones. Returns true when the file holds the new values; a
// file that cannot be read, or is read-only, is left as it is. A lock left by a process
// that is gone is broken; a live one is waited for a little while only.
bool storeIniValues(const QString &fileName, const QString &section, const IniValues &values,
                    const ReplaceGuard &guard = {});

} // namespace pulsewerk
