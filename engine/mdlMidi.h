// SPDX-License-Identifier: GPL-3.0-or-later
// The program's MIDI output: opened once by the beat loop, note-on messages sent
// through PlayNote, closed once at the end.
#pragma once

#include "sound/MidiOut.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace mdlMidi {

// The open output device; empty until OpenMidiOut and after CloseMidiOut.
extern std::unique_ptr<pulsewerk::MidiOutDevice> g_hMidiOut;

// Opens the MIDI output of the context in use, without callbacks. Failures are silent.
// When an opening was started beforehand, waits for it and takes its device.
void OpenMidiOut();
// Starts opening the default MIDI output on a thread of its own (loading a SoundFont and
// reaching the audio server take a while), so that it is open by the time the beat
// loop starts; OpenMidiOut takes it up. Nothing is sent before OpenMidiOut.
void startOpeningMidiOut();
// Closes the output; a no-op when it is not open.
void CloseMidiOut();
// Sends one note-on: status 0x90 + channel (0-based), note, velocity; velocity 0
// releases the note. A value out of its range (channel 0..15, note and velocity
// 0..127) would make a malformed message, so such a call sends nothing.
void PlayNote(const std::int16_t &channel, const std::int16_t &note, const std::int16_t &velocity);
// Releases every note that a PlayNote started and none released yet.
void releaseSoundingNotes();
// The clock reading at which a note sent now is heard: the time it is meant for plus the
// output's latency. A beat's lamps change then, so that they light with its click.
std::uint32_t heardAt();
// The note-ons sent and not yet heard are not to be heard (a stop, a mute, a new bar).
void dropUnheardNotes();

// The beat clock of the output follows the beat loop: after each pass while the beat
// runs, with the grid point of the loop's latest beat, whether this pass sounded it, the
// tempo and the multiplier. A clock beat lasts the tempo's own period (the multiplier
// divides the clicks, not the clock) and starts on the click that comes nearest to that.
void FollowBeat(std::uint32_t lastBeatMs, bool beat, int bpm, int multiplier);
// The loop's grid was moved: its next beat starts a clock beat.
void MoveClockGrid();
// The beat stopped: so does the clock, at the clock reading now.
void StopClock();
// Whether the beat runs, told to the output at every pass: it hears each change once.
void FollowRunning(bool running);

// While one lives (a beat pass), the notes sent wait; they go out when it ends, after the
// pass has handed the output's clock its beat. An audio thread that took a beat's note
// between the two and not its clock beat would send the beat's first tick a cycle late.
class PassMessages {
public:
    PassMessages();
    ~PassMessages();
    PassMessages(const PassMessages &) = delete;
    PassMessages &operator=(const PassMessages &) = delete;
};
// While one lives, the notes sent are meant to sound at the clock reading `clockMs`
// (the grid point of a beat the loop sends a little late), or at the program clock's
// microsecond `exactUs` when given (a beat of a shared transport); otherwise when sent.
class SoundingAt {
public:
    explicit SoundingAt(std::uint32_t clockMs, std::optional<std::int64_t> exactUs = std::nullopt);
    ~SoundingAt();
    SoundingAt(const SoundingAt &) = delete;
    SoundingAt &operator=(const SoundingAt &) = delete;
};

// The packed message, least significant byte first: status, note, velocity, 0.
constexpr std::uint32_t packNoteOn(std::int16_t channel, std::int16_t note, std::int16_t velocity)
{
    return static_cast<std::uint32_t>(note) * 256u + static_cast<std::uint32_t>(velocity) * 65536u + 0x90u +
           static_cast<std::uint32_t>(channel);
}

} // namespace mdlMidi
