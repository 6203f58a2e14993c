// SPDX-License-Identifier: GPL-3.0-or-later
// Places MIDI messages on the exact frame of an audio stream at which their intended
// time is heard, as the stream's frame line says. Messages come from the main thread
// through a lock-free queue; the audio thread places them without allocating, locking
// or waiting. No Qt and no FluidSynth here: the audio callback calls it, and tests step it.
#pragma once

#include "sound/FrameLine.h"
#include "sound/Rings.h"

#include <algorithm>
#include <array>
#include <cstdint>

namespace pulsewerk {

class NoteScheduler {
public:
    // `delayUs`: how long after its intended time a message is heard. It must cover the
    // stream's latency (from writing a frame to hearing it) and the lateness of a sender.
    explicit NoteScheduler(std::int64_t delayUs);

    // The main thread (one producer): `message` is meant to sound at `intendedUs` on the
    // program's clock. False when the queue is full (no stream has taken it for long).
    bool push(std::int64_t intendedUs, std::uint32_t message);

    // The audio thread. A new stream, with messages heard `delayUs` after their intended
    // time, placed by `line`: frame 0 is the next one filled.
    void restart(const FrameLine &line, std::int64_t delayUs);
    // The audio thread: messages are heard `delayUs` after their intended time from now on.
    void setDelay(std::int64_t delayUs) { m_delayUs = delayUs; }
    // The audio thread, once per buffer of `frames` frames: calls render(from, to) for the
    // runs of frames between messages and apply(message) on the exact frame of each
    // message due in this buffer, in order. A message whose frame has already been
    // written goes at the start of the buffer; a note-on that late by more than a moment
    // (the stream was away) is dropped.
    template <typename Render, typename Apply> void fill(int frames, Render &&render, Apply &&apply)
    {
        takeQueued();
        const std::int64_t end = m_frames + frames;
        int position = 0;
        std::uint32_t message = 0;
        std::int64_t due = 0;
        while (nextDue(end, message, due)) {
            const auto at = static_cast<int>(std::clamp<std::int64_t>(due - m_frames, position, frames));
            if (at > position) {
                render(position, at);
                position = at;
            }
            apply(message);
        }
        if (position < frames)
            render(position, frames);
        m_frames = end;
    }

    // The audio thread, between fills, for a stream that can still change its last
    // `frames` frames: apply(at, message) for each message due on one of them, `at`
    // frames into them, and for each due sooner, on the first of them.
    template <typename Apply> void amend(int frames, Apply &&apply)
    {
        takeQueued();
        const std::int64_t first = m_frames - std::clamp<std::int64_t>(frames, 0, m_frames);
        std::uint32_t message = 0;
        std::int64_t due = 0;
        while (first < m_frames && nextDue(m_frames, message, due))
            apply(static_cast<int>(std::max(due, first) - first), message);
    }

    // The audio thread: no message waits to be placed.
    bool idle()
    {
        takeQueued();
        return m_pendingCount == 0;
    }

    // Frames filled since the stream started.
    std::int64_t position() const { return m_frames; }

private:
    struct Pending {
        std::int64_t intendedUs = 0;
        std::uint32_t message = 0;
    };
    static constexpr std::size_t kQueued = 4096;
    static constexpr std::size_t kMaxPending = 1024;

    // Moves what the queue holds into the pending messages, in order.
    void takeQueued();
    // The next message due before frame `end`, with its frame; false when none is.
    bool nextDue(std::int64_t end, std::uint32_t &message, std::int64_t &due);

    SpscRing<Pending, kQueued> m_queue;
    // The audio thread only: in order of intended time, then of sending.
    std::array<Pending, kMaxPending> m_pending{};
    std::size_t m_pendingCount = 0;
    const FrameLine *m_line = nullptr;
    std::int64_t m_delayUs;
    std::int64_t m_frames = 0;
};

} // namespace pulsewerk
