// SPDX-License-Identifier: GPL-3.0-or-later
// What the practice routines keep in the settings store: every key with its group,
// default and range, written once here.
#pragma once

#include "mainwindow/GapTrainer.h"
#include "mainwindow/Setlist.h"

#include <QList>
#include <QString>

namespace pulsewerk {

struct PracticeKey {
    const char *group;
    const char *key;
    int defaultValue;
    int low;
    int high;
};

// The count-in's own sound: a General MIDI side stick on the beat channel.
inline constexpr PracticeKey kCountInNote{"CountIn", "Note", 37, 0, 127};
// The gap trainer's values, as its dialog last started it.
inline constexpr PracticeKey kGapMode{"GapTrainer", "Random", 0, 0, 1};
inline constexpr PracticeKey kGapPlay{"GapTrainer", "Play", 4, 1, 16};
inline constexpr PracticeKey kGapMute{"GapTrainer", "Mute", 4, 1, 16};
inline constexpr PracticeKey kGapChance{"GapTrainer", "Chance", 30, 0, GapTrainer::kMostChance};
inline constexpr PracticeKey kGapStep{"GapTrainer", "Step", 0, 0, GapTrainer::kMostChance};
inline constexpr PracticeKey kGapEvery{"GapTrainer", "Every", 4, 1, 64};
// A song's values, in group "Song<N>" (N from 1, in the setlist's order); its name and
// meter are text.
inline constexpr PracticeKey kSongTempo{"Song", "Tempo", 120, 40, 208};
inline constexpr PracticeKey kSongMultiplier{"Song", "Multiplier", 1, 1, 4};
inline constexpr PracticeKey kSongCountIn{"Song", "CountIn", 0, 0, 4};

// The stored value of `key`, or its default when the store has none that fits.
int readPracticeValue(const PracticeKey &key);

GapTrainer::Plan readGapPlan();
// Stores the plan in the gap trainer's group, on the store's own thread.
void writeGapPlan(const GapTrainer::Plan &plan);

// The stored songs in order; a song that cannot be played is passed over.
QList<Song> readSongs();
// Replaces the stored songs by `songs`; the other groups stay as they are. Returns false
// when the settings file does not end up holding them.
bool writeSongs(const QList<Song> &songs);

} // namespace pulsewerk
