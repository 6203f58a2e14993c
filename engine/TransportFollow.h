// SPDX-License-Identifier: GPL-3.0-or-later
// The beat loop on a shared transport: the beat starts and stops as the transport
// rolls, takes its tempo, and falls on its beats, the bar's first beat on the bar's
// first beat; Space starts and stops the transport. No Qt here.
#pragma once

#include "sound/Transport.h"

#include <cstdint>
#include <optional>

namespace pulsewerk {

class BeatTiming;

// What the follower reads of and does to the main window.
class TransportWindow {
public:
    virtual ~TransportWindow() = default;
    virtual int tempo() const = 0;
    virtual int multiplier() const = 0;
    virtual int beatsPerBar() const = 0; // the pattern's length
    virtual bool running() const = 0;
    virtual void setRunning(bool running) = 0;   // the beat starts (no count-in) or stops
    virtual void setTempo(int bpm) = 0;          // on the slider and in the box
    virtual void setNextPosition(int index) = 0; // the pattern position the next beat sounds
};

class TransportFollower {
public:
    explicit TransportFollower(Transport &transport) : m_transport(transport) {}

    // Every pass of the loop, stopped or not, at clock reading `nowMs`: follows what the
    // transport did since, and places the loop's next beat on its grid.
    void pass(TransportWindow &window, BeatTiming &timing, std::uint32_t nowMs);
    // The loop sounds a beat at grid point `beatMs`: the microsecond its note is for,
    // when it is the transport's beat; the pattern position is set for it.
    std::optional<std::int64_t> beat(TransportWindow &window, std::uint32_t beatMs);
    // Space: the transport starts or stops; the beat follows it.
    void startStop(bool start);

private:
    void followTempo(TransportWindow &window, double bpm);
    void plan(TransportWindow &window, BeatTiming &timing, const TransportReading &reading, std::uint32_t nowMs);

    Transport &m_transport;
    TransportReading m_reading;
    std::uint32_t m_jumps = 0;
    bool m_saidClamped = false;
    // The next beat planned: its time, its grid point and its index from the reading's beat.
    std::optional<double> m_plannedUs;
    std::uint32_t m_plannedMs = 0;
    int m_plannedIndex = 0;
    std::optional<double> m_lastBeatUs; // the last beat sounded on the grid
};

} // namespace pulsewerk
