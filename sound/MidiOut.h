// SPDX-License-Identifier: GPL-3.0-or-later
// The MIDI output device: open, send one packed short message, close.
#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace pulsewerk {

class Transport;

// How late a sender may send a note and still have it heard at its intended time: the
// outputs leave about this much room, a JACK port more.
constexpr std::uint32_t kLateRoomMs = 50;

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
    // How long after its intended time a message is heard: the output's own latency as it
    // reports it, the same whether or not a note sounds. 0 for a device heard at once.
    virtual std::uint32_t heardAfterMs() const { return 0; }
    // How late after its intended time a message may be sent and still be heard at it.
    virtual std::uint32_t lateRoomMs() const { return kLateRoomMs; }
    // The note-ons sent and not yet heard are not to be heard: their beat was stopped,
    // muted or cut short. Releases still go.
    virtual void dropUnheard() {}
    // The beat clock, for a device that carries one (a JACK client's clock port): the
    // beat at the clock reading `atMs` has its ticks `periodMs`/24 apart, and the next
    // comes `lengthMs` after it; `start` begins a run. Sent again for the same beat when
    // the next one moves. Others ignore it.
    virtual void clockBeat(std::uint32_t atMs, std::int32_t periodMs, std::int32_t lengthMs, bool start)
    {
        (void)atMs, (void)periodMs, (void)lengthMs, (void)start;
    }
    // The run of the beat clock stops at the clock reading `atMs`.
    virtual void clockStop(std::uint32_t atMs) { (void)atMs; }
    // The beat runs, or stands: a device whose stream rests while nothing sounds has it
    // ready again before the first beat.
    virtual void setBeating(bool beating) { (void)beating; }
    // The transport the device shares with other programs (JACK's); null when none.
    virtual Transport *transport() { return nullptr; }
};

// JACK's ports' connections by the port's own name ("beat", "clock", "out_left",
// "out_right"): the full names of the ports each goes to.
using PortConnections = QHash<QString, QStringList>;

// Where the embedded synthesizer plays, what it offers there and what it loads.
struct SoundConfig {
    bool jack = false;        // a JACK client, with a MIDI port; the desktop's server without JACK
    bool connectPorts = true; // its audio ports to the first physical playback ports
    bool audioPorts = true;   // false: a JACK client with the MIDI port only, no synthesizer
    bool transport = false;   // the JACK client follows the JACK transport, or leads it
    QStringList soundFonts;   // the SoundFonts tried, in order; empty: chooseSoundFont()'s search
    // With JACK and connectPorts: the connections kept from before, made again where
    // the ports are there (the audio ports go to the playback ports only without any);
    // and where each new set goes once it has settled, on a thread of the back end's.
    PortConnections keptConnections;
    std::function<void(const PortConnections &)> connectionsChanged;
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
