// The per-user settings store: text values addressed by application, section and key.
// On Linux: ~/.config/Pulsewerk/<application>.conf, the section as a group.
#pragma once

#include <QString>

namespace platform {

// The text stored under `key`, or `defaultValue` as decimal text when the key is missing.
QString ReadSetting(const QString &application, const QString &section, const QString &key, int defaultValue);

// The whole number stored under `key` when it is plain decimal digits within
// [low, high]; otherwise, or when the key is missing, `defaultValue`.
int ReadWholeNumber(const QString &application, const QString &section, const QString &key, int defaultValue, int low,
                    int high);

// Stores `value` under `key`. Returns false when the store cannot be written; the
// file on disk is then left as it was.
bool WriteSetting(const QString &application, const QString &section, const QString &key, const QString &value);

} // namespace platform
