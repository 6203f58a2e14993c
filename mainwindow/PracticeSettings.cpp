// SPDX-License-Identifier: GPL-3.0-or-later
// The practice routines' settings.
#include "mainwindow/PracticeSettings.h"

#include "settings/SettingsTable.h"

#include <QRegularExpression>
#include <QSettings>

#include <algorithm>

namespace pulsewerk {
namespace {

namespace settings = pulsewerk::settings;
const QString kApplication = QStringLiteral("Pulsewerk");

bool isSongGroup(const QString &group)
{
    static const QRegularExpression song(QRegularExpression::anchoredPattern(QStringLiteral("Song[1-9][0-9]*")));
    return song.match(group).hasMatch();
}

// A song group's value of `key`, within its range, or -1.
int songValue(const QSettings &store, const IntSetting &key)
{
    bool ok = false;
    const int value = store.value(key.key).toString().toInt(&ok);
    return ok && value >= key.low && value <= key.high ? value : -1;
}

} // namespace

GapTrainer::Plan readGapPlan()
{
    const StoredGroup stored(settings::gapRandom.group);
    GapTrainer::Plan plan;
    plan.random = stored.value(settings::gapRandom) == 1;
    plan.play = stored.value(settings::gapPlay);
    plan.mute = stored.value(settings::gapMute);
    plan.chance = stored.value(settings::gapChance);
    plan.step = stored.value(settings::gapStep);
    plan.every = stored.value(settings::gapEvery);
    return plan;
}

void writeGapPlan(const GapTrainer::Plan &plan)
{
    writeSettings(settings::gapRandom.group,
                  {settings::gapRandom.with(plan.random ? 1 : 0), settings::gapPlay.with(plan.play),
                   settings::gapMute.with(plan.mute), settings::gapChance.with(plan.chance),
                   settings::gapStep.with(plan.step), settings::gapEvery.with(plan.every)},
                  sayNotSaved(QStringLiteral("gap trainer's values")));
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
        song.name = store.value(settings::songName.key).toString();
        song.meter = store.value(settings::songMeter.key).toString();
        song.tempo = songValue(store, settings::songTempo);
        song.multiplier = songValue(store, settings::songMultiplier);
        song.countIn = songValue(store, settings::songCountIn);
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
        store.beginGroup(settings::songGroup.arg(i + 1));
        store.setValue(settings::songName.key, song.name);
        store.setValue(settings::songTempo.key, song.tempo);
        store.setValue(settings::songMeter.key, song.meter);
        store.setValue(settings::songMultiplier.key, song.multiplier);
        store.setValue(settings::songCountIn.key, song.countIn);
        store.endGroup();
    }
    store.sync();
    return store.status() == QSettings::NoError;
}

} // namespace pulsewerk
