// SPDX-License-Identifier: GPL-3.0-or-later
// The per-user settings store: text values addressed by application, section and key.
// On Linux: $XDG_CONFIG_HOME/Pulsewerk/<application>.conf (~/.config when that is unset),
// the section as a group, in the INI form QSettings reads.
#pragma once

#include "settings/IniFile.h"

#include <QString>

#include <chrono>
#include <functional>

namespace pulsewerk {

// The text stored under `key`, or `defaultValue` as decimal text when the key is missing.
QString ReadSetting(const QString &application, const QString &section, const QString &key, int defaultValue);

// The whole number stored under `key` when it is plain decimal digits within
// [low, high]; otherwise, or when the key is missing, `defaultValue`.
int readWholeNumber(const QString &application, const QString &section, const QString &key, int defaultValue, int low,
                    int high);

// Stores all `values` under `section` in one atomic replacement of the file, on a thread
// of its own: the caller goes on at once. When the file on disk does not end up holding
// them, `onFailure` runs on the calling thread's event loop (or in the wait below).
// A newer save that comes before an older one has started takes its place. Without a
// settings folder nothing is stored and nothing is said: that was said at start.
void WriteSettings(const QString &application, const QString &section, const IniValues &values,
                   std::function<void()> onFailure);

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
// Keeps the settings in the folder that the environment gives; without one, says once
// that settings cannot be kept, and nothing is read or written.
void useUserSettingsFolder();
// Keeps the settings in `folder`; an empty one means nowhere.
void setSettingsFolder(const QString &folder);
// Back to where QSettings puts the files (QSettings::setPath included).
void clearSettingsFolder();
// The settings file of `application`; empty when there is no settings folder.
QString settingsFileName(const QString &application);

} // namespace pulsewerk
