// SPDX-License-Identifier: GPL-3.0-or-later
// The beat loop's timing rules. Elapsed time is the unsigned 32-bit difference of two
// clock readings, so the wrap of the millisecond count never matters.
#include "engine/BeatTiming.h"

#include <algorithm>

namespace pulsewerk {

std::int32_t BeatTiming::period(int bpm, int multiplier)
{
    const int tempo = std::max(bpm, 1);
    const int divisor = std::max(multiplier, 1);
    return std::max((60000 / tempo) / divisor, 1);
}

std::int32_t BeatTiming::soundingTime(std::int32_t period) { return std::min(period / 2, 200); }

BeatPass BeatTiming::pass(std::uint32_t now, int bpm, int multiplier)
{
    if (m_beatAtNextPass) {
        m_beatAtNextPass = false;
        moveGrid(now);
        BeatPass pass;
        pass.beat = true;
        return pass;
    }
    const std::int64_t period = BeatTiming::period(bpm, multiplier);
    const std::int64_t soundingTime = BeatTiming::soundingTime(static_cast<std::int32_t>(period));
    const std::int64_t elapsed = static_cast<std::uint32_t>(now - m_lastBeatTime);
    BeatPass pass;
    pass.beatOff = elapsed > soundingTime;
    if (pass.beatOff)
        m_releasedSinceBeat = true;
    const bool due = m_nextBeat ? static_cast<std::int32_t>(now - *m_nextBeat) >= 0 : elapsed > period;
    if (due) {
        pass.beat = true;
        m_lastBeatTime = m_nextBeat ? *m_nextBeat : now - static_cast<std::uint32_t>(elapsed % period);
        m_nextBeat.reset();
        m_releasedSinceBeat = false; // the beat comes after the release in the same pass
    }
    return pass;
}

std::uint32_t BeatTiming::nextActionAt(std::uint32_t now, int bpm, int multiplier) const
{
    const std::int64_t period = BeatTiming::period(bpm, multiplier);
    const std::int64_t soundingTime = BeatTiming::soundingTime(static_cast<std::int32_t>(period));
    const std::int64_t elapsed = static_cast<std::uint32_t>(now - m_lastBeatTime);
    if (m_beatAtNextPass || (elapsed > soundingTime && !m_releasedSinceBeat))
        return now;
    if (m_nextBeat) {
        std::uint32_t at = *m_nextBeat;
        const std::uint32_t soundingEnd = m_lastBeatTime + static_cast<std::uint32_t>(soundingTime + 1);
        if (elapsed <= soundingTime && static_cast<std::int32_t>(soundingEnd - at) < 0)
            at = soundingEnd;
        return static_cast<std::int32_t>(at - now) <= 0 ? now : at;
    }
    const std::int64_t nextElapsed = elapsed <= soundingTime ? soundingTime + 1 : period + 1;
    if (nextElapsed <= elapsed)
        return now; // already due
    return m_lastBeatTime + static_cast<std::uint32_t>(nextElapsed);
}

void BeatTiming::moveGrid(std::uint32_t origin)
{
    m_lastBeatTime = origin;
    m_releasedSinceBeat = false;
}

} // namespace pulsewerk
