// SPDX-License-Identifier: GPL-3.0-or-later
// The millisecond clock the beat loop reads, and the wait between its passes.
#pragma once

#include <atomic>
#include <cstdint>

namespace pulsewerk {

// The program's time line in microseconds: the monotonic clock, or, while an audio stream
// plays, the stream's frames as its back end steers it, so that the beat's grid and the
// frames heard are one. It never jumps: steering changes only its rate from then on.
// One thread steers at a time; any thread reads, without waiting for the steering one.
class TimeBase {
public:
    // The reading at monotonic time `monotonicUs`, and the monotonic time of `programUs`.
    double at(std::int64_t monotonicUs) const;
    double monotonicAt(double programUs) const;
    // From monotonic time `monotonicUs` on, the reading runs at `rate` microseconds per
    // microsecond, going on from where it reads then.
    void steer(std::int64_t monotonicUs, double rate);
    double rate() const { return load().rate; }

private:
    struct Map {
        double originUs;  // monotonic
        double readingUs; // the reading at originUs
        double rate;
    };
    Map load() const;

    // A sequence lock: odd while the steering thread writes.
    std::atomic<std::uint32_t> m_sequence{0};
    std::atomic<double> m_originUs{0};
    std::atomic<double> m_readingUs{0};
    std::atomic<double> m_rate{1};
};

// The program's time line that the system clock reads.
TimeBase &timeBase();

// A 32-bit millisecond count from a fixed start. Elapsed time is the unsigned
// 32-bit difference of two readings, so the wrap of the count never matters.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t timeGetTime() = 0;
    // The reading in microseconds, on a 64-bit count.
    virtual std::int64_t nowUs() { return static_cast<std::int64_t>(timeGetTime()) * 1000; }
    // Waits until the count reads `reading` or a window event arrives, whichever
    // comes first, and processes the events that arrived.
    virtual void waitUntil(std::uint32_t reading) = 0;
    // Waits for the next window event, however long that takes, and processes the
    // events that arrived.
    virtual void waitForEvents() = 0;
};

// The system's monotonic clock (CLOCK_MONOTONIC) in microseconds: what audio servers
// date their reports by.
std::int64_t monotonicUs();

// The system's monotonic clock in milliseconds: the program's clock, timeBase() read on
// CLOCK_MONOTONIC.
Clock &systemClock();

// The calling thread (the beat loop's) ahead of ordinary work where the system allows it:
// on a busy machine its notes must still reach the stream within the delay's margin.
void favourThisThread();

} // namespace pulsewerk
