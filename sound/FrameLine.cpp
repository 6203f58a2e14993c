// SPDX-License-Identifier: GPL-3.0-or-later
// The frame line: the server's account of when frames are heard, and the program's
// clock steered onto it.
#include "sound/FrameLine.h"

#include "platform/Clock.h"

#include <algorithm>
#include <cmath>

namespace pulsewerk {

namespace {

// Reports: the reports the rate is fitted to, long enough that their jitter hardly sways
// it, short enough to follow a sound card's clock as it warms up.
constexpr std::int64_t kRateWindowUs = 30000000;
// Reports: the reports whose median the line's offset follows: their jitter evens out
// over some forty reports.
constexpr std::int64_t kOffsetWindowUs = 10000000;
// Reports: below this span no rate is fitted (the last one, or the nominal, stands).
constexpr std::int64_t kRateSpanUs = 3000000;
// Reports: below this span the line is set straight to the reports; from then on its
// offset moves towards theirs by at most kSlewUsPerS a second.
constexpr std::int64_t kSettleSpanUs = 4000000;
constexpr double kSlewUsPerS = 20;
// A sound card's clock is within a few hundred ppm of the system's, a busy dummy JACK
// driver's within a few thousand; a rate further off comes from bad reports.
constexpr double kMaxRateError = 2e-3;
constexpr double kMaxCycleRateError = 2e-2;
// Reports: a report this far from the line is off it. When this many in a row, over at
// least this long, are off it and agree with each other to kAgreeUs, the stream jumped.
constexpr double kOffLineUs = 1000;
constexpr std::size_t kJumpReports = 3;
constexpr std::int64_t kJumpConfirmUs = 150000;
constexpr double kAgreeUs = 500;
// Reports: how long after the stream ran dry the reports may show it jumped.
constexpr std::int64_t kSkipFollowUs = 3000000;
// Cycles: a cycle this far from the line is off it; this many in a row, the stream jumped.
constexpr double kJumpUs = 4000;
constexpr int kJumpCycles = 4;
// The program's clock catches up with the frames heard over about kCatchUpUs, at most
// kMostCatchUp faster or slower than they go. Further off than the policy's anchor
// distance, the notes' frames are placed anew instead: on PulseAudio a stream that
// jumped (an under-run) is followed at once; JACK's frame clock is the beat's, so
// only a stall too long to catch up with moves the frames. The server's first word
// on the line places them too: until then they stood on a guess.
constexpr double kCatchUpUs = 500000;
constexpr double kMostCatchUp = 0.05;
constexpr double kAnchorReportsUs = 15000;
constexpr double kAnchorCyclesUs = 1000000;

} // namespace

FrameLine::FrameLine(Policy policy, double sampleRate)
    : m_policy(policy), m_nominalUsPerFrame(1e6 / sampleRate), m_line{0, 0, m_nominalUsPerFrame},
      m_fittedUsPerFrame(m_nominalUsPerFrame)
{}

void FrameLine::start(double sampleRate, std::int64_t nowUs, std::int64_t latencyUs)
{
    m_nominalUsPerFrame = 1e6 / sampleRate;
    m_fittedUsPerFrame = m_nominalUsPerFrame;
    m_line = {0, static_cast<double>(nowUs + latencyUs), m_nominalUsPerFrame};
    m_anchorFrame = 0;
    m_anchorUs = timeBase().at(nowUs) + static_cast<double>(latencyUs);
    m_known = m_policy == Policy::Blind;
    m_guessStands = false;
    m_anchored = m_known;
    m_firstSeen = false;
    m_moved = false;
    m_started = true;
    m_reports.clear();
    m_suspect.clear();
    m_skippedUs = -1;
    m_offCycles = 0;
    steer(nowUs);
}

void FrameLine::resume(std::int64_t nowUs, double frame, std::int64_t latencyUs)
{
    m_line = {frame, static_cast<double>(nowUs + latencyUs), m_fittedUsPerFrame};
    m_known = false;
    m_guessStands = false;
    m_moved = false;
    m_reports.clear();
    m_suspect.clear();
    m_skippedUs = -1;
}

void FrameLine::stop(std::int64_t nowUs)
{
    if (m_started && steers())
        timeBase().steer(nowUs, 1.0);
    m_started = false;
}

std::int64_t FrameLine::frameOf(std::int64_t programUs) const
{
    return std::llround(framePosition(static_cast<double>(programUs)));
}

void FrameLine::observe(std::int64_t nowUs, std::int64_t frame, double heardUs, double periodUs, int periodFrames)
{
    m_moved = false;
    const double usPerFrame =
        std::clamp(periodUs / std::max(periodFrames, 1), m_nominalUsPerFrame * (1 - kMaxCycleRateError),
                   m_nominalUsPerFrame * (1 + kMaxCycleRateError));
    if (!m_firstSeen) {
        m_firstSeen = true; // the first cycle after a start often runs late
        return;
    }
    const bool off = m_known && std::abs(heardUs - timeOf(static_cast<double>(frame))) > kJumpUs;
    if (off && ++m_offCycles < kJumpCycles)
        return; // a late cycle, unless the next ones agree
    m_moved = !m_known || off;
    m_offCycles = 0;
    m_line = {static_cast<double>(frame), heardUs, usPerFrame};
    m_known = true;
    steer(nowUs);
}

void FrameLine::report(std::int64_t nowUs, std::int64_t heardUs, double frame)
{
    m_moved = false;
    takeReport({heardUs, frame});
    steer(nowUs);
}

void FrameLine::takeReport(const Report &report)
{
    if (m_known && std::abs(offLine(report)) > kOffLineUs) {
        // Late reports are late by chance, each by its own amount; after a jump the
        // reports agree with each other.
        m_suspect.push_back(report);
        const auto spread = [this] {
            double lo = offLine(m_suspect.front()), hi = lo;
            for (std::size_t i = 1; i < m_suspect.size(); ++i) {
                lo = std::min(lo, offLine(m_suspect[i]));
                hi = std::max(hi, offLine(m_suspect[i]));
            }
            return hi - lo;
        };
        while (spread() > kAgreeUs)
            m_suspect.pop_front();
        const bool ranDry = m_skippedUs >= 0 && report.us - m_skippedUs <= kSkipFollowUs;
        if (!ranDry || m_suspect.size() < kJumpReports || m_suspect.back().us - m_suspect.front().us < kJumpConfirmUs)
            return;
        m_reports.clear(); // they agree for long enough: the stream moved
        for (std::size_t i = 0; i < m_suspect.size(); ++i)
            m_reports.push_back(m_suspect[i]);
        m_moved = true;
    } else {
        m_reports.push_back(report);
        m_moved = !m_known;
    }
    m_suspect.clear();
    while (m_reports.back().us - m_reports.front().us > kRateWindowUs)
        m_reports.pop_front();
    const Line fitted = fit();
    if (!m_known || m_reports.back().us - m_reports.front().us < kSettleSpanUs) {
        m_line = fitted;
    } else {
        // From where the line is now, at the fitted rate, a step towards the fit.
        const double at = m_line.timeOf(fitted.originFrame);
        const double most = kSlewUsPerS * static_cast<double>(std::max<std::int64_t>(report.us - m_movedUs, 0)) / 1e6;
        m_line = {fitted.originFrame, at + std::clamp(fitted.originUs - at, -most, most), fitted.usPerFrame};
    }
    m_known = true;
    m_movedUs = report.us;
}

// Least squares for the rate, the median for the offset, relative to the newest report so
// that the sums stay small.
FrameLine::Line FrameLine::fit()
{
    const Report &last = m_reports.back();
    const std::size_t count = m_reports.size();
    if (last.us - m_reports.front().us >= kRateSpanUs) {
        double sx = 0, sy = 0;
        for (std::size_t i = 0; i < count; ++i) {
            sx += m_reports[i].frame - last.frame;
            sy += static_cast<double>(m_reports[i].us - last.us);
        }
        const double mx = sx / static_cast<double>(count), my = sy / static_cast<double>(count);
        double sxx = 0, sxy = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const double x = m_reports[i].frame - last.frame - mx;
            sxx += x * x;
            sxy += x * (static_cast<double>(m_reports[i].us - last.us) - my);
        }
        if (sxx > 0)
            m_fittedUsPerFrame = std::clamp(sxy / sxx, m_nominalUsPerFrame * (1 - kMaxRateError),
                                            m_nominalUsPerFrame * (1 + kMaxRateError));
    }
    // The median, not the mean: a report comes late now and then (the server or this
    // program was busy), hardly ever early.
    std::size_t n = 0;
    for (std::size_t i = count; i-- > 0 && last.us - m_reports[i].us <= kOffsetWindowUs;)
        m_offsets[n++] =
            static_cast<double>(m_reports[i].us - last.us) - (m_reports[i].frame - last.frame) * m_fittedUsPerFrame;
    const auto middle = m_offsets.begin() + static_cast<std::ptrdiff_t>(n / 2);
    std::nth_element(m_offsets.begin(), middle, m_offsets.begin() + static_cast<std::ptrdiff_t>(n));
    return {last.frame, static_cast<double>(last.us) + *middle, m_fittedUsPerFrame};
}

void FrameLine::steer(std::int64_t nowUs)
{
    if (!m_started || !steers())
        return;
    // Where the program's clock should read now: the time the frame heard now was meant for.
    const double frame = m_line.frameAt(static_cast<double>(nowUs));
    const double targetUs = m_anchorUs + (frame - m_anchorFrame) * m_nominalUsPerFrame;
    const double errorUs = targetUs - timeBase().at(nowUs);
    double catchUp = 0;
    const double anchorUs = m_policy == Policy::Cycles ? kAnchorCyclesUs : kAnchorReportsUs;
    if ((m_known && !m_anchored) || std::abs(errorUs) > anchorUs) {
        m_anchorUs -= errorUs; // the clock reads on; the frames move under it
        m_anchored = m_known;
    } else {
        catchUp = std::clamp(errorUs / kCatchUpUs, -kMostCatchUp, kMostCatchUp);
    }
    timeBase().steer(nowUs, m_nominalUsPerFrame / m_line.usPerFrame * (1 + catchUp));
}

std::int64_t GraphGap::passOver(std::int64_t gap, std::uint64_t ticks, bool resumed)
{
    const bool nextCycle = m_seen && ticks != m_ticks;
    m_seen = true;
    m_ticks = ticks;
    if (gap <= 0) {
        m_pending = false;
        return 0;
    }
    if (resumed || (m_pending && nextCycle)) {
        m_pending = false;
        return gap;
    }
    m_pending = true;
    return 0;
}

} // namespace pulsewerk
