// SPDX-License-Identifier: GPL-3.0-or-later
// The MIDI output wrapper.
#include "engine/mdlMidi.h"

#include "engine/BeatTiming.h"
#include "engine/mdlMain.h"
#include "platform/Clock.h"

#include <algorithm>
#include <array>
#include <bitset>
#include <future>
#include <optional>

namespace mdlMidi {

std::unique_ptr<pulsewerk::MidiOutDevice> g_hMidiOut;

namespace {

// Notes started and not yet released, by channel and note, so none is left sounding
// when the output closes.
std::bitset<16 * 128> g_sounding;

// The clock reading the notes sent now are meant for, while a SoundingAt lives.
std::optional<std::uint32_t> g_soundingAt;
std::optional<std::int64_t> g_soundingAtUs;

// The notes of a beat pass while a PassMessages lives, with the times they were sent for.
struct HeldNote {
    std::uint32_t message;
    std::uint32_t atMs;
    std::optional<std::int64_t> atUs;
};
std::array<HeldNote, 64> g_held;
std::size_t g_heldCount = 0;
bool g_holding = false;

void send(const HeldNote &note)
{
    if (note.atUs)
        g_hMidiOut->sendShortMsgAtUs(note.message, *note.atUs);
    else
        g_hMidiOut->sendShortMsg(note.message, note.atMs);
}

// An opening started ahead of OpenMidiOut.
std::future<std::unique_ptr<pulsewerk::MidiOutDevice>> g_opening;

std::unique_ptr<pulsewerk::MidiOutDevice> openWith(const pulsewerk::MidiOutFactory &factory)
{
    std::unique_ptr<pulsewerk::MidiOutDevice> device = factory ? factory() : nullptr;
    if (device)
        device->open();
    return device;
}

// The beat clock's beat under way: none while it is stopped.
struct ClockBeat {
    std::uint32_t atMs;
    std::int32_t periodMs;
    std::int32_t lengthMs;
};
std::optional<ClockBeat> g_clockBeat;
bool g_clockGridMoved = false;
// Whether the output was last told that the beat runs.
std::optional<bool> g_running;

} // namespace

void OpenMidiOut()
{
    if (g_hMidiOut)
        return;
    g_hMidiOut = g_opening.valid() ? g_opening.get() : openWith(mdlMain::context().openMidiOut);
}

void startOpeningMidiOut()
{
    if (!g_hMidiOut && !g_opening.valid())
        g_opening = std::async(std::launch::async, openWith, mdlMain::context().openMidiOut);
}

void CloseMidiOut()
{
    if (!g_hMidiOut)
        return;
    g_hMidiOut->close();
    g_hMidiOut.reset();
    g_sounding.reset();
    g_clockBeat.reset();
    g_running.reset();
}

void PlayNote(const std::int16_t &channel, const std::int16_t &note, const std::int16_t &velocity)
{
    if (channel < 0 || channel > 15 || note < 0 || note > 127 || velocity < 0 || velocity > 127)
        return;
    if (!g_hMidiOut)
        return;
    const HeldNote sent{packNoteOn(channel, note, velocity),
                        g_soundingAt.value_or(mdlMain::context().clock->timeGetTime()), g_soundingAtUs};
    if (g_holding && g_heldCount < g_held.size())
        g_held[g_heldCount++] = sent;
    else
        send(sent);
    g_sounding.set(static_cast<std::size_t>(channel * 128 + note), velocity != 0);
}

void releaseSoundingNotes()
{
    if (g_sounding.none())
        return; // the common case, at every beat's end
    for (std::int16_t channel = 0; channel < 16; ++channel) {
        for (std::int16_t note = 0; note < 128; ++note) {
            if (g_sounding.test(static_cast<std::size_t>(channel * 128 + note)))
                PlayNote(channel, note, 0);
        }
    }
}

std::uint32_t heardAt()
{
    const std::uint32_t intended = g_soundingAt.value_or(mdlMain::context().clock->timeGetTime());
    return g_hMidiOut ? intended + g_hMidiOut->heardAfterMs() : intended;
}

void dropUnheardNotes()
{
    // As the output drops those sent: the note-ons held for this pass go, their releases stay.
    g_heldCount = static_cast<std::size_t>(
        std::remove_if(g_held.begin(), g_held.begin() + static_cast<std::ptrdiff_t>(g_heldCount),
                       [](const HeldNote &note) { return ((note.message >> 16) & 0xFF) != 0; }) -
        g_held.begin());
    if (g_hMidiOut)
        g_hMidiOut->dropUnheard();
}

void FollowBeat(std::uint32_t lastBeatMs, bool beat, int bpm, int multiplier)
{
    if (!g_hMidiOut)
        return;
    const std::int32_t period = pulsewerk::BeatTiming::period(bpm, 1);
    const std::int32_t click = pulsewerk::BeatTiming::period(bpm, multiplier);
    // A click starts a clock beat when the clock's period is over but for half a click.
    const auto startsBeat = [&](std::uint32_t atMs) {
        return !g_clockBeat || g_clockGridMoved ||
               static_cast<std::int32_t>(atMs - g_clockBeat->atMs) >= period - click / 2;
    };
    const bool start = !g_clockBeat;
    const bool newBeat = beat && startsBeat(lastBeatMs);
    if (newBeat) {
        g_clockBeat = ClockBeat{lastBeatMs, period, 0};
        g_clockGridMoved = false;
    } else if (!g_clockBeat) {
        return;
    }
    // The next clock beat as the loop's grid stands now: a tempo change made during this
    // beat moves it, as it moves the next click.
    std::uint32_t next = lastBeatMs + static_cast<std::uint32_t>(click);
    while (!startsBeat(next))
        next += static_cast<std::uint32_t>(click);
    const auto length = static_cast<std::int32_t>(next - g_clockBeat->atMs);
    if (!newBeat && length == g_clockBeat->lengthMs)
        return;
    g_clockBeat->lengthMs = length;
    g_hMidiOut->clockBeat(g_clockBeat->atMs, g_clockBeat->periodMs, length, start && newBeat);
}

void MoveClockGrid() { g_clockGridMoved = true; }

void StopClock()
{
    if (!g_clockBeat)
        return;
    g_clockBeat.reset();
    g_clockGridMoved = false;
    if (g_hMidiOut)
        g_hMidiOut->clockStop(mdlMain::context().clock->timeGetTime());
}

void FollowRunning(bool running)
{
    if (!g_hMidiOut || g_running == running)
        return;
    g_running = running;
    g_hMidiOut->setBeating(running);
}

PassMessages::PassMessages() { g_holding = true; }

PassMessages::~PassMessages()
{
    g_holding = false;
    for (std::size_t i = 0; i < g_heldCount && g_hMidiOut; ++i)
        send(g_held[i]);
    g_heldCount = 0;
}

SoundingAt::SoundingAt(std::uint32_t clockMs, std::optional<std::int64_t> exactUs)
{
    g_soundingAt = clockMs;
    g_soundingAtUs = exactUs;
}

SoundingAt::~SoundingAt()
{
    g_soundingAt.reset();
    g_soundingAtUs.reset();
}

} // namespace mdlMidi
