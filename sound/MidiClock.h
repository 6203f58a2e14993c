// SPDX-License-Identifier: GPL-3.0-or-later
// MIDI beat clock on a stream's frames: 24 Timing Clocks a beat, each on the frame at
// which its time is heard, with Start before a run and Stop after it. The main thread
// hands over the beats as the beat loop sounds them; the audio thread makes every tick
// itself from them, so no tick waits for the main thread to wake on time.
#pragma once

#include "sound/FrameLine.h"
#include "sound/Rings.h"

#include <algorithm>
#include <cstdint>

namespace pulsewerk {

class MidiClock {
public:
    // The messages, packed as for MidiOutDevice.
    static constexpr std::uint32_t kTick = 0xF8, kStart = 0xFA, kStop = 0xFC;
    static constexpr std::uint32_t kSongPositionZero = 0xF2; // with two data bytes of 0

    // The main thread (one producer). A beat at `atUs` on the program's clock, its ticks
    // `periodMs`/24 apart, the next beat `lengthMs` after it; the beats after that go on
    // alike until the next call. `start`: the first beat of a run, with Song Position
    // Pointer 0 and Start just before its first tick. A call for the beat under way (the
    // same `atUs`) changes only when the next one comes. False when the queue is full.
    bool beat(std::int64_t atUs, std::int32_t periodMs, std::int32_t lengthMs, bool start);
    // The main thread: the run ends at `atUs`, with Stop; no tick after it.
    bool stop(std::int64_t atUs);

    // The audio thread. A new stream, whose messages are heard `delayUs` after their time,
    // placed by `line`: frame 0 is the next one filled.
    void restart(const FrameLine &line, std::int64_t delayUs);
    // The audio thread: ticks are heard `delayUs` after their time from now on.
    void setDelay(std::int64_t delayUs) { m_delayUs = delayUs; }
    // The audio thread, once per buffer of `frames` frames: send(frame, message) for each
    // message due in it, in order. A tick whose frame has passed goes at the buffer's
    // start, one at most: the others are dropped rather than sent in a burst.
    template <typename Send> void fill(int frames, Send &&send)
    {
        if (frames <= 0)
            return;
        const std::int64_t end = m_frames + frames;
        int position = 0;
        m_lateSent = false;
        std::uint32_t message = 0;
        std::int64_t due = 0;
        while (nextDue(end, message, due)) {
            position = static_cast<int>(std::clamp<std::int64_t>(due - m_frames, position, frames - 1));
            send(position, message);
        }
        m_frames = end;
    }

private:
    struct Event {
        enum class Kind : std::uint8_t { Beat, Start, Stop };
        Kind kind = Kind::Beat;
        std::int64_t atUs = 0;
        std::int32_t periodMs = 0;
        std::int32_t lengthMs = 0;
    };

    // The next message due before frame `end`, with its frame; false when none is.
    bool nextDue(std::int64_t end, std::uint32_t &message, std::int64_t &due);
    // The time of the next tick, going on to the beat after the one under way when its
    // ticks are done.
    double nextTickUs();
    void apply(const Event &event);
    std::int64_t frameOf(double programUs) const;

    SpscRing<Event, 256> m_queue;
    // The audio thread only.
    Event m_next; // taken from the queue, waiting for its time
    bool m_hasNext = false;
    const FrameLine *m_line = nullptr;
    std::int64_t m_delayUs = 0;
    std::int64_t m_frames = 0;
    bool m_running = false;
    int m_startDue = 0;           // Song Position Pointer (2) and Start (1) go before the next tick
    bool m_lateSent = false;      // a late tick went at this buffer's start
    Event m_beat;                 // the beat under way
    std::int32_t m_tick = 0;      // its next tick, counted from 0
    double m_lastTickUs = -1e300; // the time of the last tick sent
};

} // namespace pulsewerk
