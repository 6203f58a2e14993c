// SPDX-License-Identifier: GPL-3.0-or-later
// The frame line: placed by the second cycle, moved in steps when the server's clock
// runs apart from it, placed anew when the stream jumps.
#include "platform/FrameLine.h"

#include <algorithm>
#include <cmath>

namespace {

// The line moves only when the server's clock, averaged over about kAverageUs, is
// further than kStepUs from it (a sound card whose clock runs apart from the system's:
// the sound keeps up with the lamps), and is placed anew when cycles are kJumpUs off
// for kJumpCycles in a row (the server stalled or skipped cycles). One late cycle's
// time says little.
constexpr double kAverageUs = 2000000;
constexpr double kStepUs = 2000;
constexpr double kJumpUs = 10000;
constexpr int kJumpCycles = 4;

} // namespace

void FrameLine::observe(std::int64_t frame, double heardUs, double periodUs)
{
    m_moved = false;
    if (!m_known) {
        if (m_firstSeen)
            place(heardUs, frame);
        m_firstSeen = true;
        return;
    }
    const double errorUs = heardUs - timeOf(frame);
    if (std::abs(errorUs) > kJumpUs) {
        if (++m_offCycles >= kJumpCycles)
            place(heardUs, frame);
        return;
    }
    m_offCycles = 0;
    m_errorUs += (errorUs - m_errorUs) * std::min(1.0, periodUs / kAverageUs);
    if (std::abs(m_errorUs) > kStepUs)
        place(timeOf(frame) + m_errorUs, frame);
}

void FrameLine::place(double us, std::int64_t frame)
{
    m_originUs = us;
    m_originFrame = frame;
    m_errorUs = 0;
    m_offCycles = 0;
    m_known = true;
    m_moved = true;
}
