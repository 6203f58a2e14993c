// Settings files in the INI form that QSettings reads: a few values set in place with
// the rest of the text kept as it is, and the file replaced whole in one atomic step.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <functional>

namespace platform {

// Keys (letters and digits) with their whole-number values, in the order they are written.
using IniValues = QList<QPair<QString, int>>;

// `ini` with `values` set in group `section`: every line that QSettings would read as one
// of these keys goes, and one line per key takes the place of the first such line of the
// group (or follows the group's first header, or ends the text under a new header).
// Everything else stays byte for byte, except lines QSettings cannot read: a header
// without its ']' gets one, and a line that is neither a key, a header nor a comment is
// left out. The result reads back without error.
QByteArray IniWithValues(const QByteArray &ini, const QString &section, const IniValues &values);

// The moments of a replacement, in order, for tests that end the process at each.
enum class ReplaceStep { Locked, Read, Written, Replaced };
void SetReplaceHook(std::function<void(ReplaceStep)> hook);

// Runs `replace` (the rename over the old file) and returns its result, or declines it
// by returning false without running it.
using ReplaceGuard = std::function<bool(const std::function<bool()> &replace)>;

// Sets `values` in group `section` of the file `fileName`: holding the file's lock, reads
// it whole, writes the new text to a temporary file in the same folder in one write,
// syncs it to the disk and renames it over the old one. Whenever the process dies, the
// file holds all the old values or all the new ones. Returns true when the file holds
// the new values. A lock left by a process that is gone is broken; a live one is waited
// for a little while only.
bool StoreIniValues(const QString &fileName, const QString &section, const IniValues &values,
                    const ReplaceGuard &guard = {});

} // namespace platform
