// SPDX-License-Identifier: GPL-3.0-or-later
// The timing rules of the beat loop: given the clock reading, the tempo and the
// multiplier, what one pass does and when the next pass has something to do.
// No Qt here, so every rule can be stepped through on a made-up clock.
#pragma once

#include <cstdint>
#include <optional>

namespace pulsewerk {

struct BeatPass {
    bool beatOff = false; // the sounding time of the current beat is over
    bool beat = false;    // more than a period has elapsed: the next beat is due
};

class BeatTiming {
public:
    // The grid's origin: the first beat comes one full period after `start`.
    explicit BeatTiming(std::uint32_t start) : m_lastBeatTime(start) {}

    // (60000 div tempo) div multiplier, truncating; a multiplier below 1 counts as 1.
    static std::int32_t period(int bpm, int multiplier);
    // Half the period, truncating, at most 200 ms.
    static std::int32_t soundingTime(std::int32_t period);

    // One pass at clock reading `now`. When a beat is due the last beat time moves
    // to the latest grid point not after `now`: lateness never accumulates into drift
    // and missed beats are dropped, not replayed.
    BeatPass pass(std::uint32_t now, int bpm, int multiplier);

    // The first clock reading from `now` on at which a pass has something to do: the
    // end of the sounding time, or else the next beat. A beat that came so late that
    // its sounding time is already over is released by the very next pass.
    std::uint32_t nextActionAt(std::uint32_t now, int bpm, int multiplier) const;

    std::uint32_t lastBeatTime() const { return m_lastBeatTime; }

    // Moves the grid so that `origin` is its latest point: the next beat comes one
    // period after it.
    void moveGrid(std::uint32_t origin);
    // Starts the grid afresh: the next pass sounds a beat at once, without a release
    // before it, and the grid runs from that pass.
    void beatAtNextPass() { m_beatAtNextPass = true; }
    // The next beat is due at the clock reading `next` rather than one period after the
    // last: a grid kept outside (a sync session's). Holds until that beat is sounded.
    void beatAt(std::uint32_t next) { m_nextBeat = next; }

private:
    std::uint32_t m_lastBeatTime;
    bool m_releasedSinceBeat = false; // a pass has released the latest beat already
    bool m_beatAtNextPass = false;
    std::optional<std::uint32_t> m_nextBeat;
};

} // namespace pulsewerk
