// SPDX-License-Identifier: GPL-3.0-or-later
// A clock that tests step by hand: the beat loop's waits jump straight to their
// deadline, or to the next scripted action if that comes first.
#pragma once

#include "platform/Clock.h"

#include <cstdint>
#include <functional>
#include <map>

class FakeClock final : public pulsewerk::Clock {
public:
    explicit FakeClock(std::uint32_t start = 0) : m_now(start), m_start(start) {}

    std::uint32_t timeGetTime() override { return m_now; }
    void waitUntil(std::uint32_t reading) override;
    // The next window event is the next scripted action: the clock jumps to it.
    void waitForEvents() override;

    // Runs `action` as a window event once the clock reaches `offset` ms after its start.
    void at(std::uint32_t offset, std::function<void()> action);
    // Moves the clock on by `ms`, as if the program had been busy (a dialog held open).
    void advance(std::uint32_t ms) { m_now += ms; }
    // Milliseconds since the clock's start.
    std::uint32_t sinceStart() const { return m_now - m_start; }
    int waits() const { return m_waits; }

private:
    void countWait();
    void runNextAction();

    std::uint32_t m_now;
    std::uint32_t m_start;
    int m_waits = 0;
    std::multimap<std::uint32_t, std::function<void()>> m_actions; // keyed by offset from the start
};
