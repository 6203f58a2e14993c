// SPDX-License-Identifier: GPL-3.0-or-later
// FluidSynth synthesizers sharing one loaded SoundFont, so that every note starts on
// its exact frame: FluidSynth starts a note on its next 64-frame block, so each note-on
// goes to an idle synthesizer whose block grid is first moved onto the note's frame.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_sfont_t;

namespace pulsewerk {

class SynthPool {
public:
    SynthPool();
    ~SynthPool();
    SynthPool(const SynthPool &) = delete;
    SynthPool &operator=(const SynthPool &) = delete;

    // Loads the SoundFont once (with `dynamicLoading`, only the samples that sound);
    // on failure says why in `why`.
    bool load(const std::string &soundFont, bool dynamicLoading, std::string &why);
    // Makes the synthesizers for `sampleRate` (anew when it changed), all silent.
    void prepare(double sampleRate);

    // The audio thread. Messages take effect at the current place in the stream: a
    // note-on exactly there, a release on the next block of the note's synthesizer.
    void noteOn(int channel, int key, int velocity);
    void noteOff(int channel, int key);
    // Adds the next `frames` frames of every sounding synthesizer to left and right.
    void render(int frames, float *left, float *right);
    // Every sound stops at once.
    void silence();
    // Synthesizers with a sound in them (idle ones cost nothing).
    int sounding() const;

private:
    struct Voice {
        _fluid_synth_t *synth = nullptr;
        int phase = 0;           // frames rendered, modulo the 64-frame block
        int key = -1;            // channel * 128 + key of the note held, -1 when none
        bool active = false;     // has a sound to render
        std::uint64_t order = 0; // when its note started, for taking the oldest
    };
    void clear();

    _fluid_hashtable_t *m_settings = nullptr;
    _fluid_synth_t *m_owner = nullptr; // holds the SoundFont, never renders
    _fluid_sfont_t *m_sfont = nullptr;
    double m_rate = 0;
    std::vector<Voice> m_voices;
    std::vector<float> m_scratchLeft, m_scratchRight;
    std::uint64_t m_started = 0;
};

} // namespace pulsewerk
