// SPDX-License-Identifier: GPL-3.0-or-later
// The JACK ports' connections, kept in the settings from one run to the next.
#pragma once

#include "sound/MidiOut.h"

namespace pulsewerk {

// `sound` with the connections kept in the settings to make again, and each new set of
// them saved on the main thread; as it is when it asks for no JACK or no connections.
SoundConfig withKeptConnections(SoundConfig sound);

} // namespace pulsewerk
