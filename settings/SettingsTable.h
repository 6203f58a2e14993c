// SPDX-License-Identifier: GPL-3.0-or-later
// Every key the program keeps, with its group, its default and its range. The windows
// and dialogs read and write their settings through these rows.
#pragma once

#include "settings/Settings.h"

namespace pulsewerk::settings {

// [Options]: the sound of the beat, written by the options dialog's OK.
inline const IntSetting channel{QStringLiteral("Options"), QStringLiteral("Channel"), 10, 1, 16};
inline const IntSetting strongNote{QStringLiteral("Options"), QStringLiteral("StrongNote"), 61, 0, 127};
inline const IntSetting strongVelocity{QStringLiteral("Options"), QStringLiteral("StrongVel"), 80, 0, 127};
inline const IntSetting weakNote{QStringLiteral("Options"), QStringLiteral("WeakNote"), 60, 0, 127};
inline const IntSetting weakVelocity{QStringLiteral("Options"), QStringLiteral("WeakVel"), 50, 0, 127};

// [Trainer]: the speed trainer's last run, written by its Start.
inline const IntSetting trainerStart{QStringLiteral("Trainer"), QStringLiteral("Start"), 80, 40, 208};
inline const IntSetting trainerEnd{QStringLiteral("Trainer"), QStringLiteral("End"), 120, 40, 208};
inline const IntSetting trainerStep{QStringLiteral("Trainer"), QStringLiteral("Step"), 4, 1, 50};
inline const IntSetting trainerBars{QStringLiteral("Trainer"), QStringLiteral("Bars"), 4, 1, 64};

// [CountIn]: the count-in's own sound, a General MIDI side stick on the beat channel.
inline const IntSetting countInNote{QStringLiteral("CountIn"), QStringLiteral("Note"), 37, 0, 127};

// [GapTrainer]: the gap trainer's last run, written by its Start.
inline const IntSetting gapRandom{QStringLiteral("GapTrainer"), QStringLiteral("Random"), 0, 0, 1};
inline const IntSetting gapPlay{QStringLiteral("GapTrainer"), QStringLiteral("Play"), 4, 1, 16};
inline const IntSetting gapMute{QStringLiteral("GapTrainer"), QStringLiteral("Mute"), 4, 1, 16};
inline const IntSetting gapChance{QStringLiteral("GapTrainer"), QStringLiteral("Chance"), 30, 0, 90};
inline const IntSetting gapStep{QStringLiteral("GapTrainer"), QStringLiteral("Step"), 0, 0, 90};
inline const IntSetting gapEvery{QStringLiteral("GapTrainer"), QStringLiteral("Every"), 4, 1, 64};

// [Sync]: whether the program joins an Ableton Link session, written by the menu's item.
inline const IntSetting linkOn{QStringLiteral("Sync"), QStringLiteral("Link"), 0, 0, 1};

// [Song1], [Song2] ...: the setlist, a song in full in each group, in the list's order
// (the rows' group is the pattern; `in()` names the song's own).
inline const QString songGroup = QStringLiteral("Song%1");
inline const TextSetting songName{songGroup, QStringLiteral("Name"), QString(), 1000};
inline const IntSetting songTempo{songGroup, QStringLiteral("Tempo"), 120, 40, 208};
inline const TextSetting songMeter{songGroup, QStringLiteral("Meter"), QString(), 19};
inline const IntSetting songMultiplier{songGroup, QStringLiteral("Multiplier"), 1, 1, 4};
inline const IntSetting songCountIn{songGroup, QStringLiteral("CountIn"), 0, 0, 4};

// [Jack]: the JACK ports' connections as they last stood, kept by the program itself:
// the full names of the ports each went to, one a line.
inline const TextSetting jackBeat{QStringLiteral("Jack"), QStringLiteral("Beat"), QString(), 16384};
inline const TextSetting jackClock{QStringLiteral("Jack"), QStringLiteral("Clock"), QString(), 16384};
inline const TextSetting jackOutLeft{QStringLiteral("Jack"), QStringLiteral("OutLeft"), QString(), 16384};
inline const TextSetting jackOutRight{QStringLiteral("Jack"), QStringLiteral("OutRight"), QString(), 16384};

} // namespace pulsewerk::settings
