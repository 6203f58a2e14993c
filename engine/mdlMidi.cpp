// SPDX-License-Identifier: GPL-3.0-or-later
// The MIDI output wrapper.
#include "engine/mdlMidi.h"

#include "engine/mdlMain.h"
#include "platform/Clock.h"

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

// An opening started ahead of OpenMidiOut.
std::future<std::unique_ptr<pulsewerk::MidiOutDevice>> g_opening;

std::unique_ptr<pulsewerk::MidiOutDevice> openWith(const pulsewerk::MidiOutFactory &factory)
{
    std::unique_ptr<pulsewerk::MidiOutDevice> device = factory ? factory() : nullptr;
    if (device)
        device->open();
    return device;
}

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
}

void PlayNote(const std::int16_t &channel, const std::int16_t &note, const std::int16_t &velocity)
{
    if (channel < 0 || channel > 15 || note < 0 || note > 127 || velocity < 0 || velocity > 127)
        return;
    if (!g_hMidiOut)
        return;
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

std::uint32_t heardAt()
{
    const std::uint32_t intended = g_soundingAt.value_or(mdlMain::context().clock->timeGetTime());
    return g_hMidiOut ? intended + g_hMidiOut->heardAfterMs() : intended;
}

void dropUnheardNotes()
{
    if (g_hMidiOut)
        g_hMidiOut->dropUnheard();
}

SoundingAt::SoundingAt(std::uint32_t clockMs) { g_soundingAt = clockMs; }

SoundingAt::~SoundingAt() { g_soundingAt.reset(); }

} // namespace mdlMidi
