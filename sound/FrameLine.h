// SPDX-License-Identifier: GPL-3.0-or-later
// When each frame of a stream is heard, as a line of exactly the nominal sample rate
// through an audio server's cycle times, so that notes a whole number of frames apart
// on the server's frame clock stay exactly so. No JACK here: the JACK back end feeds it
// each cycle's time, and tests feed it made-up ones.
#pragma once

#include <array>
#include <cstdint>

namespace pulsewerk {

class FrameLine {
public:
    explicit FrameLine(double sampleRate) : m_usPerFrame(1e6 / sampleRate) {}

    // The cycle starting at stream frame `frame` is heard at monotonic time `heardUs`,
    // by the server's clock; its cycles are `periodUs` long.
    void observe(std::int64_t frame, double heardUs, double periodUs);
    // The line is known: a cycle has placed it (the first after a start is let go by:
    // it often runs late).
    bool known() const { return m_known; }
    // It moved at the last observe() (or was placed): time to tell whoever places notes.
    bool moved() const { return m_moved; }
    // When `frame` is heard, on the line.
    double timeOf(std::int64_t frame) const
    {
        return m_originUs + static_cast<double>(frame - m_originFrame) * m_usPerFrame;
    }
    // The frame heard at `us`, on the line.
    double frameAt(double us) const { return static_cast<double>(m_originFrame) + (us - m_originUs) / m_usPerFrame; }

private:
    static constexpr int kSettleCycles = 32;
    // `settle`: the next cycles set the line right.
    void place(double us, std::int64_t frame, bool settle);

    double m_usPerFrame;
    bool m_known = false;
    bool m_moved = false;
    double m_originUs = 0;
    std::int64_t m_originFrame = 0;
    double m_errorUs = 0; // the server's clock less the line, averaged
    int m_offCycles = 0;  // cycles in a row far off the line
    bool m_firstSeen = false;
    std::array<double, kSettleCycles> m_settling{}; // the errors of the cycles after placing
    int m_settled = kSettleCycles;
};

} // namespace pulsewerk
