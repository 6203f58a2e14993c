// SPDX-License-Identifier: GPL-3.0-or-later
// Tap tempo. Intervals are unsigned 32-bit differences of clock readings, so the
// wrap of the millisecond count never matters.
#include "mainwindow/TapTempo.h"

#include <algorithm>

namespace pulsewerk {

std::optional<int> TapTempo::tap(std::uint32_t now)
{
    if (m_count > 0 && now - m_taps[static_cast<std::size_t>(m_count - 1)] >= kSeriesGap)
        m_count = 0;
    if (m_count == static_cast<int>(m_taps.size())) {
        std::rotate(m_taps.begin(), m_taps.begin() + 1, m_taps.end());
        --m_count;
    }
    m_taps[static_cast<std::size_t>(m_count++)] = now;
    if (m_count < 2)
        return std::nullopt;
    const std::int64_t intervals = m_count - 1;
    const std::int64_t span = now - m_taps[0];
    if (span == 0)
        return kFastest; // taps within one millisecond: as fast as it goes
    // 60000 / (span / intervals), rounded half up, in whole numbers.
    const std::int64_t tempo = (2 * 60000 * intervals + span) / (2 * span);
    return static_cast<int>(std::clamp<std::int64_t>(tempo, kSlowest, kFastest));
}

} // namespace pulsewerk
