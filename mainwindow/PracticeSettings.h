// SPDX-License-Identifier: GPL-3.0-or-later
// What the practice routines keep in the settings store, by the rows of the settings
// table: the gap trainer's plan and the setlist's songs.
#pragma once

#include "mainwindow/GapTrainer.h"
#include "mainwindow/Setlist.h"

#include <QList>
#include <QString>

namespace pulsewerk {

GapTrainer::Plan readGapPlan();
// Stores the plan in the gap trainer's group, on the store's own thread.
void writeGapPlan(const GapTrainer::Plan &plan);

// The stored songs in order; a song that cannot be played is passed over.
QList<Song> readSongs();
// Replaces the stored songs by `songs`; the other groups stay as they are. Returns false
// when the settings file does not end up holding them.
bool writeSongs(const QList<Song> &songs);

} // namespace pulsewerk
