// SPDX-License-Identifier: GPL-3.0-or-later
// The practice routines' settings.
#include "mainwindow/PracticeSettings.h"

#include "settings/Settings.h"

#include <QRegularExpression>
#include <QSettings>

#include <algorithm>

namespace pulsewerk {
namespace {

const QString kApplication = QStringLiteral("Pulsewerk");
const QString kSongGroup = QStringLiteral("Song%1");

bool isSongGroup(const QString &group)
{
    static const QRegularExpression song(QRegularExpression::anchoredPattern(QStringLiteral("Song[1-9][0-9]*")));
    return song.match(group).hasMatch();
}

// A song group's value of `key`, within its range, or -1.
int songValue(const QSettings &store, const PracticeKey &key)
{
    bool ok = false;
    const int value = store.value(QLatin1String(key.key)).toString().toInt(&ok);
    return ok && value >= key.low && value <= key.high ? value : -1;
}

} // namespace

int readPracticeValue(const PracticeKey &key)
{
    return readWholeNumber(kApplication, QLatin1String(key.group), QLatin1String(key.key), key.defaultValue, key.low,
                           key.high);
}

GapTrainer::Plan readGapPlan()
{
    GapTrainer::Plan plan;
    plan.random = readPracticeValue(kGapMode) == 1;
    plan.play = readPracticeValue(kGapPlay);
    plan.mute = readPracticeValue(kGapMute);
    plan.chance = readPracticeValue(kGapChance);
    plan.step = readPracticeValue(kGapStep);
    plan.every = readPracticeValue(kGapEvery);
    return plan;
}

void writeGapPlan(const GapTrainer::Plan &plan)
{
    const auto entry = [](const PracticeKey &key, int value) { return qMakePair(QLatin1String(key.key), value); };
    WriteSettings(kApplication, QLatin1String(kGapMode.group),
                  {entry(kGapMode, plan.random ? 1 : 0), entry(kGapPlay, plan.play), entry(kGapMute, plan.mute),
                   entry(kGapChance, plan.chance), entry(kGapStep, plan.step), entry(kGapEvery, plan.every)},
                  {});
}

QList<Song> readSongs()
{
    const QString fileName = settingsFileName(kApplication);
    if (fileName.isEmpty())
        return {};
    QSettings store(fileName, QSettings::IniFormat);
    QList<std::pair<int, Song>> numbered;
    for (const QString &group : store.childGroups()) {
        if (!isSongGroup(group))
            continue;
        store.beginGroup(group);
        Song song;
        song.name = store.value(QStringLiteral("Name")).toString();
        song.meter = store.value(QStringLiteral("Meter")).toString();
        song.tempo = songValue(store, kSongTempo);
        song.multiplier = songValue(store, kSongMultiplier);
        song.countIn = songValue(store, kSongCountIn);
        store.endGroup();
        if (songProblem(song).isEmpty())
            numbered.push_back({group.mid(4).toInt(), song});
    }
    std::sort(numbered.begin(), numbered.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    QList<Song> songs;
    for (const auto &[number, song] : numbered)
        songs << song;
    return songs;
}

// QSettings replaces the file whole (a new file renamed over the old) under the same
// lock file as the store's other saves, having read it afresh, so no other group is lost.
bool writeSongs(const QList<Song> &songs)
{
    const QString fileName = settingsFileName(kApplication);
    if (fileName.isEmpty())
        return true; // nowhere to keep them: said at start
    waitForSettingsSaves(std::chrono::steady_clock::now() + std::chrono::seconds(2));
    QSettings store(fileName, QSettings::IniFormat);
    for (const QString &group : store.childGroups()) {
        if (isSongGroup(group))
            store.remove(group);
    }
    for (int i = 0; i < songs.size(); ++i) {
        const Song &song = songs.at(i);
        store.beginGroup(kSongGroup.arg(i + 1));
        store.setValue(QStringLiteral("Name"), song.name);
        store.setValue(QLatin1String(kSongTempo.key), song.tempo);
        store.setValue(QStringLiteral("Meter"), song.meter);
        store.setValue(QLatin1String(kSongMultiplier.key), song.multiplier);
        store.setValue(QLatin1String(kSongCountIn.key), song.countIn);
        store.endGroup();
    }
    store.sync();
    return store.status() == QSettings::NoError;
}

} // namespace pulsewerk
