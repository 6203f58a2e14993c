// SPDX-License-Identifier: GPL-3.0-or-later
// The millisecond clock the beat loop reads, and the wait between its passes.
#pragma once

#include <cstdint>

namespace pulsewerk {

// A 32-bit millisecond count from a fixed start. Elapsed time is the unsigned
// 32-bit difference of two readings, so the wrap of the count never matters.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint32_t timeGetTime() = 0;
    // Waits until the count reads `reading` or a window event arrives, whichever
    // comes first, and processes the events that arrived.
    virtual void waitUntil(std::uint32_t reading) = 0;
    // Waits for the next window event, however long that takes, and processes the
    // events that arrived.
    virtual void waitForEvents() = 0;
};

// The system's monotonic clock (CLOCK_MONOTONIC) in microseconds: the time line of the
// system clock's readings, on which the sound is placed.
std::int64_t monotonicUs();

// The system's monotonic clock in milliseconds: the program's clock.
Clock &systemClock();

} // namespace pulsewerk
