// SPDX-License-Identifier: GPL-3.0-or-later
// FluidSynth synthesizers sharing one loaded SoundFont, so that every note starts on
// its exact frame: FluidSynth starts a note on its next 64-frame block, so each note-on
// goes to an idle synthesizer whose block grid is first moved onto the note's frame.
//
// A metronome plays the same few notes held for the same time, over and over. A note's
// whole sound, from its start through its release to silence, is kept once rendered
// (a take), and the next note with the same key, velocity and holding time plays the
// take instead of the synthesizer. A synthesizer renders the same sound for the same
// input, frame for frame, so a note whose release comes at another time than its
// take's goes live at that frame: a synthesizer plays the note from its start to there
// unheard, and renders on from there as if it had sounded all along.
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
    // For a stream that amends what it wrote: messages may come after the frames they
    // fall on were rendered, and a replay plays on past its take's release until its own
    // release says whether that was right.
    void amending(bool on) { m_amending = on; }
    // The same messages, come late: `left` and `right` hold the last `frames` frames
    // rendered (at most rewindable()), the message falls `at` frames into them, and they
    // are changed to what they would have been had it come on time, as far as they reach.
    // Returns how many frames into them the first change is; `frames` when none is (a
    // release that its note's take already holds, or one repeated).
    int noteOnBack(int channel, int key, int velocity, float *left, float *right, int frames, int at);
    int noteOffBack(int channel, int key, float *left, float *right, int frames, int at);
    // How far back a message may come.
    int rewindable() const { return m_pastFrames; }
    // Every sound stops at once.
    void silence();
    // Some note still sounds (or rings out).
    bool sounding() const;

private:
    friend struct SynthPoolTestAccess; // the tests' view of what sounds
    struct Voice {
        _fluid_synth_t *synth = nullptr;
        int phase = 0;           // frames rendered, modulo the 64-frame block
        int key = -1;            // channel * 128 + key of the note held, -1 when none
        bool active = false;     // has a sound to render
        std::uint64_t order = 0; // when its note started, for taking the oldest
        int note = -1;           // channel * 128 + key of the note it sounds
        int velocity = 0;        // and its velocity
        std::int64_t age = 0;    // frames since the note started
        std::int64_t held = -1;  // frames from its start to its release, -1 until then
        bool recording = false;  // its sound goes into the recording
        bool cut = false;        // its last sound was cut off, not ended
        int endsIn = -1;         // frames of its sound left once its last voice ended
        // The last frames it rendered, a ring, and where the next one goes in it.
        std::vector<float> pastLeft, pastRight;
        std::size_t pastEnd = 0;
    };
    // A note's whole sound, its release taking effect `held` frames after its start, on
    // a block's start (-1: it ended before its release).
    struct Take {
        int note = -1;
        int velocity = 0;
        std::int64_t held = -1;
        std::vector<float> left, right;
        std::uint64_t used = 0;
    };
    // A note played from a take.
    struct Replay {
        std::size_t take = 0;
        std::int64_t played = 0; // frames played
        bool released = false;
        bool provisional = false; // played on past its take's release before its own came
    };
    // How long the last note with this key and velocity was held.
    struct Held {
        int note;
        int velocity;
        std::int64_t frames;
    };
    void clear();
    Voice &idleVoice();
    void startNote(Voice &voice, int note, int velocity);
    void renderVoice(Voice &voice, int frames, float *left, float *right);
    void renderVoiceLong(Voice &voice, int frames, float *left, float *right);
    // Adds `frames` frames to the voice's ring of the frames it rendered last.
    void remember(Voice &voice, const float *left, const float *right, std::size_t frames);
    // Plays replay `index` on; false when it ended or a synthesizer took it over.
    bool playReplay(std::size_t index, int frames, float *left, float *right);
    // Starts a note, on a replay or a synthesizer, returning the replay's index or -1.
    int startAny(int note, int velocity, Voice *&voice);
    // Takes the voice's last `back` frames out of left and right, and renders them anew
    // with its note released `back` frames ago.
    void releaseBack(Voice &voice, int back, float *left, float *right);
    // A synthesizer that has played the note unheard for `frames` frames.
    Voice &fastForward(int note, int velocity, std::int64_t frames);
    Voice &goLive(const Replay &replay, bool releaseNow);
    void keepTake(const Voice &voice);
    void stopRecording();
    const Take *findTake(int note, int velocity, std::int64_t held) const;
    std::int64_t &lastHeld(int note, int velocity);

    _fluid_hashtable_t *m_settings = nullptr;
    _fluid_synth_t *m_owner = nullptr; // holds the SoundFont, never renders
    _fluid_sfont_t *m_sfont = nullptr;
    double m_rate = 0;
    std::vector<Voice> m_voices;
    std::vector<float> m_scratchLeft, m_scratchRight;
    std::uint64_t m_started = 0;
    bool m_replaying = true;       // notes played from takes; off, every note is rendered
    std::vector<Take> m_takes;     // a few, reused least recently used first
    std::vector<Replay> m_replays; // at most one per synthesizer
    std::vector<float> m_recordLeft, m_recordRight;
    std::int64_t m_maxTakeFrames = 0;
    std::vector<Held> m_lastHeld;
    int m_pastFrames = 0; // each voice's ring of the frames it rendered last
    bool m_amending = false;
};

} // namespace pulsewerk
