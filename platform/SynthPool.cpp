// SPDX-License-Identifier: GPL-3.0-or-later
// The synthesizer pool.
#include "platform/SynthPool.h"

#include <fluidsynth.h>

#include <algorithm>

namespace pulsewerk {
namespace {

// FluidSynth renders in blocks of this many frames and starts a note on a block.
constexpr int kBlock = 64;
// Notes sounding at once: at 208 bpm x4 a click starts every 72 ms and rings for
// up to about a second.
constexpr int kSynths = 16;
// FluidSynth's default gain (0.2) is quiet for a single click; with this one a
// velocity-80 drum note peaks near -12 dBFS with the common General MIDI SoundFonts.
constexpr double kSynthGain = 1.2;
// Voices one note may start (layers, stereo samples).
constexpr int kPolyphony = 16;
// Frames one synthesizer renders in one go.
constexpr int kScratchFrames = 1024;

} // namespace

SynthPool::SynthPool() : m_scratchLeft(kScratchFrames), m_scratchRight(kScratchFrames) {}

SynthPool::~SynthPool()
{
    clear();
    if (m_owner)
        delete_fluid_synth(m_owner); // the SoundFont's owner goes last
    if (m_settings)
        delete_fluid_settings(m_settings);
}

bool SynthPool::load(const std::string &soundFont, bool dynamicLoading, std::string &why)
{
    m_settings = new_fluid_settings();
    if (!m_settings) {
        why = "the synthesizer could not be set up";
        return false;
    }
    fluid_settings_setnum(m_settings, "synth.gain", kSynthGain);
    fluid_settings_setint(m_settings, "synth.reverb.active", 0);
    fluid_settings_setint(m_settings, "synth.chorus.active", 0);
    fluid_settings_setint(m_settings, "synth.polyphony", kPolyphony);
    fluid_settings_setint(m_settings, "synth.dynamic-sample-loading", dynamicLoading ? 1 : 0);
    // Only the audio thread calls a synthesizer once it plays: no locking needed.
    fluid_settings_setint(m_settings, "synth.threadsafe-api", 0);
    m_owner = new_fluid_synth(m_settings);
    const int id = m_owner ? fluid_synth_sfload(m_owner, soundFont.c_str(), 1) : FLUID_FAILED;
    if (id == FLUID_FAILED) {
        why = "the SoundFont " + soundFont + " could not be loaded";
        return false;
    }
    m_sfont = fluid_synth_get_sfont_by_id(m_owner, id);
    return true;
}

void SynthPool::prepare(double sampleRate)
{
    if (!m_sfont)
        return;
    if (sampleRate == m_rate) {
        silence();
        return;
    }
    clear();
    m_rate = sampleRate;
    fluid_settings_setnum(m_settings, "synth.sample-rate", sampleRate);
    for (int i = 0; i < kSynths; ++i) {
        fluid_synth_t *synth = new_fluid_synth(m_settings);
        if (!synth)
            break;
        fluid_synth_add_sfont(synth, m_sfont);
        Voice voice;
        voice.synth = synth;
        m_voices.push_back(voice);
    }
}

// A borrower lets go of the SoundFont before it is deleted, or deleting it crashes.
void SynthPool::clear()
{
    for (Voice &voice : m_voices) {
        fluid_synth_remove_sfont(voice.synth, m_sfont);
        delete_fluid_synth(voice.synth);
    }
    m_voices.clear();
    m_rate = 0;
}

void SynthPool::noteOn(int channel, int key, int velocity)
{
    if (m_voices.empty())
        return;
    noteOff(channel, key); // as one synthesizer does with a key struck again
    auto voice = std::find_if(m_voices.begin(), m_voices.end(), [](const Voice &v) { return !v.active; });
    if (voice == m_voices.end()) {
        voice = std::min_element(m_voices.begin(), m_voices.end(),
                                 [](const Voice &a, const Voice &b) { return a.order < b.order; });
        fluid_synth_all_sounds_off(voice->synth, -1);
    }
    // Rendering (and throwing away) the rest of its block puts the next block here.
    if (voice->phase != 0) {
        float scratch[2][kBlock];
        fluid_synth_write_float(voice->synth, kBlock - voice->phase, scratch[0], 0, 1, scratch[1], 0, 1);
        voice->phase = 0;
    }
    fluid_synth_noteon(voice->synth, channel, key, velocity);
    voice->key = channel * 128 + key;
    voice->active = true;
    voice->order = ++m_started;
}

void SynthPool::noteOff(int channel, int key)
{
    for (Voice &voice : m_voices) {
        if (voice.active && voice.key == channel * 128 + key) {
            fluid_synth_noteoff(voice.synth, channel, key);
            voice.key = -1;
        }
    }
}

// Each synthesizer writes into scratch buffers that are then added: FluidSynth's mixing
// call keeps its blocks otherwise than its writing call, and the note alignment above
// counts on the writing call's.
void SynthPool::render(int frames, float *left, float *right)
{
    while (frames > 0) {
        const int n = std::min(frames, kScratchFrames);
        for (Voice &voice : m_voices) {
            if (!voice.active)
                continue;
            fluid_synth_write_float(voice.synth, n, m_scratchLeft.data(), 0, 1, m_scratchRight.data(), 0, 1);
            for (int i = 0; i < n; ++i) {
                left[i] += m_scratchLeft[static_cast<std::size_t>(i)];
                right[i] += m_scratchRight[static_cast<std::size_t>(i)];
            }
            voice.phase = (voice.phase + n) % kBlock;
            if (fluid_synth_get_active_voice_count(voice.synth) == 0) {
                voice.active = false;
                voice.key = -1;
            }
        }
        frames -= n;
        left += n;
        right += n;
    }
}

void SynthPool::silence()
{
    for (Voice &voice : m_voices) {
        if (voice.active)
            fluid_synth_all_sounds_off(voice.synth, -1);
        voice.active = false;
        voice.key = -1;
    }
}

int SynthPool::sounding() const
{
    return static_cast<int>(std::count_if(m_voices.begin(), m_voices.end(), [](const Voice &v) { return v.active; }));
}

} // namespace pulsewerk
