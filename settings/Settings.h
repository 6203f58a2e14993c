// SPDX-License-Identifier: GPL-3.0-or-later
// The per-user settings store: values addressed by application, section and key, read and
// written through the rows of the settings table (SettingsTable.h).
// On Linux: $XDG_CONFIG_HOME/Pulsewerk/<application>.conf (~/.config when that is unset),
// the section as a group, in the INI form QSettings reads.
#pragma once

#include "settings/IniFile.h"

#include <QString>

#include <chrono>
#include <functional>
#include <optional>

namespace pulsewerk {

// Where the settings are kept: where QSettings puts them, in a folder of their own, or
// nowhere; and, for tests, what to call at each step of a save (on the save thread).
class SettingsStore {
public:
    SettingsStore() = default;
    // In `folder`; an empty one means nowhere.
    explicit SettingsStore(const QString &folder);
    // The settings file of `application`; empty when there is no settings folder.
    QString fileName(const QString &application) const;
    ReplaceHook onStep;

private:
    std::optional<QString> m_folder;
};

// Makes `store` the one read and written while it lives; then the one before is back.
class UseSettingsStore {
public:
    explicit UseSettingsStore(SettingsStore &store);
    ~UseSettingsStore();
    UseSettingsStore(const UseSettingsStore &) = delete;
    UseSettingsStore &operator=(const UseSettingsStore &) = delete;

private:
    SettingsStore *m_previous;
};

// A whole-number setting: its group and key, its default and the range it must lie in.
struct IntSetting {
    QString group;
    QString key;
    int defaultValue;
    int low;
    int high;
    // The key with `value`, for a save.
    IniValue with(int value) const { return {key, value}; }
    // The same key in another group of its kind (one of a list of groups).
    IntSetting in(const QString &otherGroup) const { return {otherGroup, key, defaultValue, low, high}; }
};

// A text setting: its group and key, its default and its greatest length.
struct TextSetting {
    QString group;
    QString key;
    QString defaultValue;
    qsizetype longest;
    IniValue with(const QString &text) const { return {key, text}; }
    TextSetting in(const QString &otherGroup) const { return {otherGroup, key, defaultValue, longest}; }
};

// The values of one group, read from the settings file in one pass.
class StoredGroup {
public:
    explicit StoredGroup(const QString &group);
    // The stored whole number when it is plain decimal digits within the row's range;
    // otherwise, or when it is missing, the row's default.
    int value(const IntSetting &row) const;
    // The stored text when there is one no longer than the row allows; else the default.
    QString text(const TextSetting &row) const;

private:
    IniGroup m_values;
};

int readSetting(const IntSetting &row);
QString readSetting(const TextSetting &row);

// The text stored under `key`, or `defaultValue` as decimal text when the key is missing.
QString ReadSetting(const QString &application, const QString &section, const QString &key, int defaultValue);

// Stores all `values` under `section` in one atomic replacement of the file, on a thread
// of its own: the caller goes on at once. When the file on disk does not end up holding
// them, `onFailure` runs on the calling thread's event loop (or in the wait below).
// A newer save that comes before an older one has started takes its place. Without a
// settings folder nothing is stored and nothing is said: that was said at start.
void WriteSettings(const QString &application, const QString &section, const IniValues &values,
                   std::function<void()> onFailure);
// The same for the program's own settings file.
void writeSettings(const QString &group, const IniValues &values, std::function<void()> onFailure);
// A failure call for the saves above: says once that `what` could not be saved.
std::function<void()> sayNotSaved(const QString &what);

// Waits until the saves under way are done or `deadline` has come, and runs the
// failures' calls. Returns true when none is left.
bool waitForSettingsSaves(std::chrono::steady_clock::time_point deadline);
// As the wait above; then the saves still under way are given up: none of them replaces
// the file after this returns, and each reports its failure.
void endSettingsSaves(std::chrono::steady_clock::time_point deadline);

// The folder for the settings by the XDG base directory rules: an absolute
// XDG_CONFIG_HOME, else .config in an absolute home folder other than the root. Empty
// when there is neither.
QString userSettingsFolder(const QByteArray &xdgConfigHome, const QByteArray &home);
// Keeps the program's settings in the folder that the environment gives; without one,
// says once that settings cannot be kept, and nothing is read or written.
void useUserSettingsFolder();
// The settings file of `application` in the store in use; empty when there is none.
QString settingsFileName(const QString &application);

} // namespace pulsewerk
