// SPDX-License-Identifier: GPL-3.0-or-later
// Linked against the sound, settings and platform rooms alone: it links only while none
// of them reaches for the windows' toolkit.
#include "settings/Settings.h"
#include "sound/MidiOut.h"

int main()
{
    auto device = pulsewerk::createSynthOut({});
    return device && pulsewerk::settingsFileName(QStringLiteral("Pulsewerk")).isEmpty() ? 0 : 1;
}
