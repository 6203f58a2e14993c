// SPDX-License-Identifier: GPL-3.0-or-later
// Tap tempo: the tempo of a series of taps, from the times between them.
// No Qt here, so a series can be stepped through on made-up clock readings.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace pulsewerk {

class TapTempo {
public:
    // A pause this long or longer starts a new series.
    static constexpr std::uint32_t kSeriesGap = 2000;
    // How many of the latest intervals the tempo is the mean of.
    static constexpr int kIntervals = 4;
    static constexpr int kSlowest = 40;
    static constexpr int kFastest = 208;

    // A tap at clock reading `now`. From the second tap of a series on: 60000 divided
    // by the mean of the last intervals (at most four), rounded and held within
    // 40..208. The first tap of a series gives no tempo.
    std::optional<int> tap(std::uint32_t now);

private:
    std::array<std::uint32_t, kIntervals + 1> m_taps{}; // the latest taps, oldest first
    int m_count = 0;                                    // taps of the series held in m_taps
};

} // namespace pulsewerk
