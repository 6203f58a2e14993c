// SPDX-License-Identifier: GPL-3.0-or-later
// The MIDI output wrapper.
#include "engine/mdlMidi.h"

#include "engine/mdlMain.h"
#include "platform/Clock.h"

#include <bitset>
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

} // namespace

void OpenMidiOut()
{
    if (g_hMidiOut)
        return;
    g_hMidiOut = mdlMain::context().openMidiOut();
    if (g_hMidiOut)
        g_hMidiOut->open();
}

void CloseMidiOut()
{
    if (!g_hMidiOut)
        return;
    g_hMidiOut->close();
    g_hMidiOut.reset();
    g_sounding.reset();
}

void PlayNote(const std::int16_t &channel, const std::int16_t &note, const std::int16_t &velocity)
{
    if (channel < 0 || channel > 15 || note < 0 || note > 127 || velocity < 0 || velocity > 127)
        return;
    if (!g_hMidiOut)
        return;
    if (g_soundingAtUs)
        g_hMidiOut->sendShortMsgAtUs(packNoteOn(channel, note, velocity), *g_soundingAtUs);
    else
        g_hMidiOut->sendShortMsg(packNoteOn(channel, note, velocity),
                                 g_soundingAt.value_or(mdlMain::context().clock->timeGetTime()));
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
