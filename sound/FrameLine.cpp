// SPDX-License-Identifier: GPL-3.0-or-later
// The frame line: placed by the second cycle and set right by the median of the next
// ones, moved in steps when the server's clock runs apart from it, placed anew when
// the stream jumps.
#include "sound/FrameLine.h"

#include <algorithm>
#include <cmath>

namespace pulsewerk {

namespace {

// The line moves only when the server's clock, averaged over about kAverageUs, is
// further than kStepUs from it (a sound card whose clock runs apart from the system's:
// the sound keeps up with the lamps), and is placed anew when cycles are kJumpUs off
// for kJumpCycles in a row (the server stalled or skipped cycles). One late cycle's
// time says little.
constexpr double kAverageUs = 2000000;
constexpr double kStepUs = 2000;
constexpr double kJumpUs = 4000;
constexpr int kJumpCycles = 4;
// The first cycles after a start can be far from the rest: once placed, the line is set
// right by the median of the next ones when that is further than this from it.
constexpr double kSettleUs = 100;

} // namespace

void FrameLine::observe(std::int64_t frame, double heardUs, double periodUs)
{
    m_moved = false;
    if (!m_known) {
        if (m_firstSeen)
            place(heardUs, frame, true);
        m_firstSeen = true;
        return;
    }
    const double errorUs = heardUs - timeOf(frame);
    if (std::abs(errorUs) > kJumpUs) {
        if (++m_offCycles >= kJumpCycles)
            place(heardUs, frame, true);
        return;
    }
    m_offCycles = 0;
    if (m_settled < kSettleCycles) {
        m_settling[m_settled++] = errorUs;
        if (m_settled == kSettleCycles) {
            const auto middle = m_settling.begin() + kSettleCycles / 2;
            std::nth_element(m_settling.begin(), middle, m_settling.end());
            if (std::abs(*middle) > kSettleUs)
                place(timeOf(frame) + *middle, frame, false);
        }
        return;
    }
    m_errorUs += (errorUs - m_errorUs) * std::min(1.0, periodUs / kAverageUs);
    if (std::abs(m_errorUs) > kStepUs)
        place(timeOf(frame) + m_errorUs, frame, false);
}

void FrameLine::place(double us, std::int64_t frame, bool settle)
{
    if (settle)
        m_settled = 0;
    m_originUs = us;
    m_originFrame = frame;
    m_errorUs = 0;
    m_offCycles = 0;
    m_known = true;
    m_moved = true;
}

} // namespace pulsewerk
