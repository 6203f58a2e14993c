// SPDX-License-Identifier: GPL-3.0-or-later
// The synthesizer pool.
#include "sound/SynthPool.h"

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
// A release takes effect on the synthesizer's next block: two notes released within the
// same block of their start sound the same. This is the frame at which a release given
// `held` frames after its note's start takes effect.
std::int64_t releaseFrame(std::int64_t held) { return (held + kBlock - 1) / kBlock * kBlock; }
// Takes kept, and the longest sound kept as one.
constexpr std::size_t kTakes = 4;
constexpr double kLongestTakeSeconds = 2.0;
// Notes (key and velocity) whose holding time is remembered.
constexpr std::size_t kRemembered = 16;
// How far back a message may come: each synthesizer keeps its last frames this long.
constexpr double kRewindableSeconds = 0.125;

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
    // Room for every take and the recording, set aside now rather than in the audio
    // callback; pages are only taken up as sound is written.
    m_maxTakeFrames = static_cast<std::int64_t>(sampleRate * kLongestTakeSeconds);
    const auto room = static_cast<std::size_t>(m_maxTakeFrames + kScratchFrames);
    m_takes.assign(kTakes, Take{});
    for (Take &take : m_takes) {
        take.left.reserve(room);
        take.right.reserve(room);
    }
    m_recordLeft.reserve(room);
    m_recordRight.reserve(room);
    m_replays.reserve(kSynths);
    m_lastHeld.reserve(kRemembered);
    fluid_settings_setnum(m_settings, "synth.sample-rate", sampleRate);
    m_pastFrames = 1;
    while (m_pastFrames < sampleRate * kRewindableSeconds)
        m_pastFrames *= 2;
    for (int i = 0; i < kSynths; ++i) {
        fluid_synth_t *synth = new_fluid_synth(m_settings);
        if (!synth)
            break;
        fluid_synth_add_sfont(synth, m_sfont);
        Voice voice;
        voice.synth = synth;
        voice.pastLeft.assign(static_cast<std::size_t>(m_pastFrames), 0.0f);
        voice.pastRight.assign(static_cast<std::size_t>(m_pastFrames), 0.0f);
        m_voices.push_back(std::move(voice));
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
    m_takes.clear();
    m_replays.clear();
    m_lastHeld.clear();
    m_recordLeft.clear();
    m_recordRight.clear();
    m_maxTakeFrames = 0;
    m_pastFrames = 0;
}

SynthPool::Voice &SynthPool::idleVoice()
{
    // A synthesizer whose sound was cut off starts its next note from where the cut left
    // it: one whose sound ended goes first.
    auto voice = std::find_if(m_voices.begin(), m_voices.end(), [](const Voice &v) { return !v.active && !v.cut; });
    if (voice == m_voices.end())
        voice = std::find_if(m_voices.begin(), m_voices.end(), [](const Voice &v) { return !v.active; });
    if (voice == m_voices.end()) {
        voice = std::min_element(m_voices.begin(), m_voices.end(),
                                 [](const Voice &a, const Voice &b) { return a.order < b.order; });
        fluid_synth_all_sounds_off(voice->synth, -1);
        if (voice->recording)
            stopRecording();
    }
    return *voice;
}

void SynthPool::startNote(Voice &voice, int note, int velocity)
{
    // Rendering (and throwing away) the rest of its block puts the next block here.
    if (voice.phase != 0) {
        float scratch[2][kBlock];
        fluid_synth_write_float(voice.synth, kBlock - voice.phase, scratch[0], 0, 1, scratch[1], 0, 1);
        voice.phase = 0;
    }
    fluid_synth_noteon(voice.synth, note / 128, note % 128, velocity);
    voice.cut = false;
    voice.endsIn = -1;
    voice.key = note;
    voice.note = note;
    voice.velocity = velocity;
    voice.active = true;
    voice.order = ++m_started;
    voice.age = 0;
    voice.held = -1;
    voice.recording = false;
}

void SynthPool::noteOn(int channel, int key, int velocity)
{
    if (m_voices.empty())
        return;
    noteOff(channel, key); // as one synthesizer does with a key struck again
    Voice *voice = nullptr;
    startAny(channel * 128 + key, velocity, voice);
}

int SynthPool::startAny(int note, int velocity, Voice *&voice)
{
    voice = nullptr;
    if (m_replaying && m_replays.size() < m_voices.size()) {
        if (const Take *take = findTake(note, velocity, lastHeld(note, velocity))) {
            const auto index = static_cast<std::size_t>(take - m_takes.data());
            m_takes[index].used = ++m_started;
            m_replays.push_back({index, 0, false});
            return static_cast<int>(m_replays.size()) - 1;
        }
    }
    voice = &idleVoice();
    startNote(*voice, note, velocity);
    const bool recorderFree =
        std::none_of(m_voices.begin(), m_voices.end(), [](const Voice &v) { return v.recording; });
    if (m_replaying && recorderFree && m_maxTakeFrames > 0) {
        m_recordLeft.clear();
        m_recordRight.clear();
        voice->recording = true;
    }
    return -1;
}

int SynthPool::noteOnBack(int channel, int key, int velocity, float *left, float *right, int frames, int at)
{
    const int back = frames - at;
    if (m_voices.empty() || back <= 0) {
        noteOn(channel, key, velocity);
        return frames;
    }
    const int released = noteOffBack(channel, key, left, right, frames, at);
    Voice *voice = nullptr;
    const int replay = startAny(channel * 128 + key, velocity, voice);
    if (replay >= 0)
        playReplay(static_cast<std::size_t>(replay), back, left + at, right + at);
    else
        renderVoiceLong(*voice, back, left + at, right + at);
    return std::min(released, at);
}

int SynthPool::noteOffBack(int channel, int key, float *left, float *right, int frames, int at)
{
    const int back = frames - at;
    if (back <= 0 || frames > m_pastFrames) {
        noteOff(channel, key);
        return frames;
    }
    const int note = channel * 128 + key;
    int first = frames;
    for (Voice &voice : m_voices) {
        if (voice.active && voice.key == note && voice.age >= back) {
            releaseBack(voice, back, left + at, right + at);
            first = at;
        }
    }
    for (std::size_t i = 0; i < m_replays.size();) {
        const Replay replay = m_replays[i];
        const Take &take = m_takes[replay.take];
        if (take.note != note || (replay.released && !replay.provisional) || replay.played < back) {
            ++i;
            continue;
        }
        const std::int64_t releasedAt = replay.played - back;
        lastHeld(note, take.velocity) = releasedAt;
        m_replays[i].provisional = false;
        if (releaseFrame(releasedAt) == take.held) {
            m_replays[i++].released = true; // the take holds this very release
            continue;
        }
        // The sound changes at the release, or, released later than its take, where the
        // take's release was played instead; beyond reach, it stays as it was played.
        const std::int64_t from = replay.provisional ? std::min(releasedAt, take.held) : releasedAt;
        if (replay.played - from > frames) {
            ++i;
            continue;
        }
        const auto offset = static_cast<std::ptrdiff_t>(frames - (replay.played - from));
        first = std::min(first, static_cast<int>(offset));
        for (std::int64_t k = from; k < replay.played; ++k) {
            left[offset + k - from] -= take.left[static_cast<std::size_t>(k)];
            right[offset + k - from] -= take.right[static_cast<std::size_t>(k)];
        }
        m_replays.erase(m_replays.begin() + static_cast<std::ptrdiff_t>(i));
        Voice &voice = goLive({replay.take, from, false, false}, from == releasedAt);
        const auto held = static_cast<int>(releasedAt - from);
        if (held > 0) {
            renderVoiceLong(voice, held, left + offset, right + offset);
            if (voice.active) {
                fluid_synth_noteoff(voice.synth, channel, key);
                voice.key = -1;
                voice.held = voice.age;
            }
        }
        renderVoiceLong(voice, back, left + at, right + at);
    }
    return first;
}

void SynthPool::releaseBack(Voice &voice, int back, float *left, float *right)
{
    const std::size_t mask = voice.pastLeft.size() - 1;
    for (int i = 0; i < back; ++i) {
        const std::size_t at = (voice.pastEnd - static_cast<std::size_t>(back - i)) & mask;
        left[i] -= voice.pastLeft[at];
        right[i] -= voice.pastRight[at];
    }
    const int note = voice.note;
    const int velocity = voice.velocity;
    const std::int64_t at = voice.age - back;
    const bool recording = voice.recording;
    voice.recording = false;
    voice.key = -1; // another synthesizer takes the note over
    Voice &fresh = fastForward(note, velocity, at);
    if (&fresh != &voice) {
        fluid_synth_all_sounds_off(voice.synth, -1);
        voice.active = false;
        voice.cut = true;
    }
    fluid_synth_noteoff(fresh.synth, note / 128, note % 128);
    fresh.key = -1;
    fresh.held = at;
    lastHeld(note, velocity) = at;
    if (recording && static_cast<std::int64_t>(m_recordLeft.size()) >= at) {
        m_recordLeft.resize(static_cast<std::size_t>(at)); // shorter: no allocation
        m_recordRight.resize(static_cast<std::size_t>(at));
        fresh.recording = true;
    } else if (recording) {
        stopRecording();
    }
    renderVoiceLong(fresh, back, left, right);
}

SynthPool::Voice &SynthPool::fastForward(int note, int velocity, std::int64_t frames)
{
    Voice &voice = idleVoice();
    startNote(voice, note, velocity);
    for (std::int64_t done = 0; done < frames;) {
        const int n = static_cast<int>(std::min<std::int64_t>(kScratchFrames, frames - done));
        fluid_synth_write_float(voice.synth, n, m_scratchLeft.data(), 0, 1, m_scratchRight.data(), 0, 1);
        done += n;
    }
    voice.phase = static_cast<int>(frames % kBlock);
    voice.age = frames;
    return voice;
}

void SynthPool::noteOff(int channel, int key)
{
    const int note = channel * 128 + key;
    for (Voice &voice : m_voices) {
        if (voice.active && voice.key == note) {
            fluid_synth_noteoff(voice.synth, channel, key);
            voice.key = -1;
            voice.held = voice.age;
            lastHeld(note, voice.velocity) = voice.age;
        }
    }
    for (std::size_t i = 0; i < m_replays.size();) {
        const Replay replay = m_replays[i];
        const Take &take = m_takes[replay.take];
        if (take.note != note || (replay.released && !replay.provisional)) {
            ++i;
            continue;
        }
        lastHeld(note, take.velocity) = replay.played;
        if (replay.provisional) {
            m_replays[i++].provisional = false; // released later than its take, past reach
            continue;
        }
        if (releaseFrame(replay.played) == take.held) {
            m_replays[i++].released = true; // the take holds this very release
            continue;
        }
        m_replays.erase(m_replays.begin() + static_cast<std::ptrdiff_t>(i));
        goLive(replay, true);
    }
}

void SynthPool::renderVoice(Voice &voice, int frames, float *left, float *right)
{
    fluid_synth_write_float(voice.synth, frames, m_scratchLeft.data(), 0, 1, m_scratchRight.data(), 0, 1);
    for (int i = 0; i < frames; ++i) {
        left[i] += m_scratchLeft[static_cast<std::size_t>(i)];
        right[i] += m_scratchRight[static_cast<std::size_t>(i)];
    }
    if (voice.recording) {
        if (static_cast<std::int64_t>(m_recordLeft.size()) + frames > m_maxTakeFrames) {
            stopRecording(); // too long to keep
        } else {
            m_recordLeft.insert(m_recordLeft.end(), m_scratchLeft.begin(), m_scratchLeft.begin() + frames);
            m_recordRight.insert(m_recordRight.end(), m_scratchRight.begin(), m_scratchRight.begin() + frames);
        }
    }
    remember(voice, m_scratchLeft.data(), m_scratchRight.data(), static_cast<std::size_t>(frames));
    voice.phase = (voice.phase + frames) % kBlock;
    voice.age += frames;
    // The synthesizer's last voice ends within a block it has rendered: the rest of that
    // block still sounds.
    if (voice.endsIn < 0) {
        if (fluid_synth_get_active_voice_count(voice.synth) == 0)
            voice.endsIn = (kBlock - voice.phase) % kBlock;
    } else {
        voice.endsIn = std::max(0, voice.endsIn - frames);
    }
    if (voice.endsIn == 0) {
        if (voice.recording)
            keepTake(voice);
        voice.active = false;
        voice.key = -1;
        voice.recording = false;
    }
}

void SynthPool::remember(Voice &voice, const float *left, const float *right, std::size_t frames)
{
    const std::size_t mask = voice.pastLeft.size() - 1;
    for (std::size_t i = 0; i < frames; ++i) {
        voice.pastLeft[(voice.pastEnd + i) & mask] = left[i];
        voice.pastRight[(voice.pastEnd + i) & mask] = right[i];
    }
    voice.pastEnd = (voice.pastEnd + frames) & mask;
}

// Each synthesizer writes into scratch buffers that are then added: FluidSynth's mixing
// call keeps its blocks otherwise than its writing call, and the note alignment above
// counts on the writing call's.
void SynthPool::render(int frames, float *left, float *right)
{
    while (frames > 0) {
        const int n = std::min(frames, kScratchFrames);
        for (Voice &voice : m_voices) {
            if (voice.active)
                renderVoice(voice, n, left, right);
        }
        // After the synthesizers: one that takes over a note below renders its own rest.
        for (std::size_t i = 0; i < m_replays.size();) {
            if (playReplay(i, n, left, right))
                ++i;
        }
        frames -= n;
        left += n;
        right += n;
    }
}

void SynthPool::renderVoiceLong(Voice &voice, int frames, float *left, float *right)
{
    for (int done = 0; done < frames && voice.active;) {
        const int n = std::min(frames - done, kScratchFrames);
        renderVoice(voice, n, left + done, right + done);
        done += n;
    }
}

bool SynthPool::playReplay(std::size_t index, int frames, float *left, float *right)
{
    Replay &replay = m_replays[index];
    const Take &take = m_takes[replay.take];
    const auto length = static_cast<std::int64_t>(take.left.size());
    std::int64_t count = std::min<std::int64_t>(frames, length - replay.played);
    if (!replay.released && take.held >= 0 && replay.played + count > take.held) {
        if (m_amending)
            replay.released = replay.provisional = true; // its release may yet come back here
        else
            count = take.held - replay.played;
    }
    const auto from = static_cast<std::size_t>(replay.played);
    for (std::int64_t k = 0; k < count; ++k) {
        left[k] += take.left[from + static_cast<std::size_t>(k)];
        right[k] += take.right[from + static_cast<std::size_t>(k)];
    }
    replay.played += count;
    if (count < frames && replay.played < length) {
        // Held past its take's release: a synthesizer plays on from here.
        const Replay held = replay;
        m_replays.erase(m_replays.begin() + static_cast<std::ptrdiff_t>(index));
        Voice &voice = goLive(held, false);
        renderVoiceLong(voice, frames - static_cast<int>(count), left + count, right + count);
        return false;
    }
    if (replay.played >= length) {
        m_replays.erase(m_replays.begin() + static_cast<std::ptrdiff_t>(index));
        return false;
    }
    return true;
}

// A synthesizer plays the replayed note from its start unheard, up to where the replay
// is, and the note sounds on from it; with `releaseNow` it is released there.
SynthPool::Voice &SynthPool::goLive(const Replay &replay, bool releaseNow)
{
    const Take &take = m_takes[replay.take];
    Voice &voice = fastForward(take.note, take.velocity, replay.played);
    // What the replay played is the synthesizer's past, should a release come back there.
    const auto kept = static_cast<std::size_t>(std::min<std::int64_t>(replay.played, m_pastFrames));
    const auto from = static_cast<std::size_t>(replay.played) - kept;
    remember(voice, take.left.data() + from, take.right.data() + from, kept);
    if (releaseNow) {
        fluid_synth_noteoff(voice.synth, take.note / 128, take.note % 128);
        voice.key = -1;
        voice.held = voice.age;
    }
    if (fluid_synth_get_active_voice_count(voice.synth) == 0) {
        voice.active = false;
        voice.key = -1;
    }
    return voice;
}

// The recorded sound becomes a take, in the least recently used place that no replay
// is reading; its storage becomes the next recording's.
void SynthPool::keepTake(const Voice &voice)
{
    Take *place = nullptr;
    for (std::size_t i = 0; i < m_takes.size(); ++i) {
        const bool reading =
            std::any_of(m_replays.begin(), m_replays.end(), [i](const Replay &r) { return r.take == i; });
        if (!reading && (!place || m_takes[i].used < place->used))
            place = &m_takes[i];
    }
    if (place) {
        place->note = voice.note;
        place->velocity = voice.velocity;
        place->held = voice.held >= 0 ? releaseFrame(voice.held) : -1;
        place->used = ++m_started;
        place->left.swap(m_recordLeft);
        place->right.swap(m_recordRight);
    }
    stopRecording();
}

void SynthPool::stopRecording()
{
    for (Voice &voice : m_voices)
        voice.recording = false;
    m_recordLeft.clear();
    m_recordRight.clear();
}

// A take for a note held `held` frames (-1: not known), or none: one released in the
// same block. A take whose note ended
// before its release serves any note held at least as long as it sounds.
const SynthPool::Take *SynthPool::findTake(int note, int velocity, std::int64_t held) const
{
    for (const Take &take : m_takes) {
        if (take.note != note || take.velocity != velocity || take.left.empty())
            continue;
        if (take.held >= 0 ? held >= 0 && take.held == releaseFrame(held)
                           : held < 0 || held >= static_cast<std::int64_t>(take.left.size()))
            return &take;
    }
    return nullptr;
}

// How long the last note with this key and velocity was held.
std::int64_t &SynthPool::lastHeld(int note, int velocity)
{
    for (Held &entry : m_lastHeld) {
        if (entry.note == note && entry.velocity == velocity)
            return entry.frames;
    }
    if (m_lastHeld.size() >= kRemembered)
        m_lastHeld.erase(m_lastHeld.begin());
    m_lastHeld.push_back({note, velocity, -1});
    return m_lastHeld.back().frames;
}

void SynthPool::silence()
{
    for (Voice &voice : m_voices) {
        if (voice.active)
            fluid_synth_all_sounds_off(voice.synth, -1);
        voice.active = false;
        voice.key = -1;
    }
    m_replays.clear();
    stopRecording();
}

bool SynthPool::sounding() const
{
    return !m_replays.empty() || std::any_of(m_voices.begin(), m_voices.end(), [](const Voice &v) { return v.active; });
}

} // namespace pulsewerk
