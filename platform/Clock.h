// The millisecond clock the beat loop reads, and the wait between its passes.
#pragma once

#include <cstdint>

namespace platform {

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

// Elapsed milliseconds from `since` to `now`, right across the wrap of the count.
inline std::uint32_t elapsedMs(std::uint32_t now, std::uint32_t since) { return now - since; }

// The clock in use: the system's monotonic clock unless a test installed another.
Clock &clock();
// Installs `replacement` (not owned) as the clock in use; nullptr restores the system clock.
void setClock(Clock *replacement);

} // namespace platform
