// SPDX-License-Identifier: GPL-3.0-or-later
// The MIDI output device: open, send one packed short message, close.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace pulsewerk {

class Transport;

class MidiOutDevice {
public:
    virtual ~MidiOutDevice() = default;
    // Opens the device. Failure is silent to the caller; the device then drops every message.
    virtual void open() = 0;
    // One short message, least significant byte first: status, data 1, data 2, 0, meant
    // to sound at the clock reading `atMs` (the program's clock): now, or the grid point of
    // a beat sent a little late. A device that schedules its output places it there.
    virtual void sendShortMsg(std::uint32_t message, std::uint32_t atMs) = 0;
    // The same, meant for the microsecond `atUs` on the program's clock (a beat of a
    // grid finer than the millisecond).
    virtual void sendShortMsgAtUs(std::uint32_t message, std::int64_t atUs)
    {
        sendShortMsg(message, static_cast<std::uint32_t>(atUs / 1000));
    }
    virtual void close() = 0;
    // The transport the device shares with other programs (JACK's); null when none.
    virtual Transport *transport() { return nullptr; }
};

// Where the embedded synthesizer plays, what it offers there and what it loads.
struct SoundConfig {
    bool jack = false;        // a JACK client, with a MIDI port; the desktop's server without JACK
    bool connectPorts = true; // its audio ports to the first physical playback ports
    bool audioPorts = true;   // false: a JACK client with the MIDI port only, no synthesizer
    bool transport = false;   // the JACK client follows the JACK transport, or leads it
    QStringList soundFonts;   // the SoundFonts tried, in order; empty: chooseSoundFont()'s search
};

// Makes the device that opening the MIDI output gives.
using MidiOutFactory = std::function<std::unique_ptr<MidiOutDevice>()>;

// The embedded synthesizer, playing as `config` says.
std::unique_ptr<MidiOutDevice> createSynthOut(const SoundConfig &config);

// The SoundFont the synthesizer loads: PULSEWERK_SOUNDFONT when set, else the first
// General MIDI SoundFont found in the data folders (XDG_DATA_HOME, then each of
// XDG_DATA_DIRS: sounds/sf2/ and soundfonts/), else FluidSynth's own default.
// Empty when there is none.
QString chooseSoundFont();

} // namespace pulsewerk
