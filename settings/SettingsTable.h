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

} // namespace pulsewerk::settings
