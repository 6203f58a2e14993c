// Places MIDI messages in an audio stream at the time they were sent plus a fixed
// delay, so that the length of the audio buffers adds no jitter to the beat.
// No Qt and no FluidSynth here: the audio callback calls it, and tests step it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>

class NoteScheduler {
public:
    // `delayUs` must cover one audio buffer and the lateness of its callback.
    NoteScheduler(double sampleRate, std::int64_t delayUs) : m_rate(sampleRate), m_delayUs(delayUs) {}

    // Any thread: `message` was sent at `sentUs` on the monotonic microsecond clock.
    void push(std::int64_t sentUs, std::uint32_t message);

    // The audio thread, once per buffer of `frames` frames, at monotonic time `nowUs`:
    // calls render(from, to) for the runs of frames between messages and apply(message)
    // for each message due in this buffer, in stream order.
    void fill(std::int64_t nowUs, int frames, const std::function<void(int from, int to)> &render,
              const std::function<void(std::uint32_t message)> &apply);

private:
    struct Pending {
        std::int64_t sentUs;
        std::uint32_t message;
    };

    double m_rate;
    std::int64_t m_delayUs;
    std::mutex m_mutex; // guards m_pending only
    std::deque<Pending> m_pending;
    // Audio thread only: frames rendered so far, and the recent estimates of when frame 0
    // was due (callback time minus the stream position), of which the earliest is the
    // least disturbed by a late callback.
    std::int64_t m_frames = 0;
    std::int64_t m_firstCallbackUs = -1;
    std::deque<std::pair<std::int64_t, std::int64_t>> m_origins; // (callback time, origin), origins rising
};
