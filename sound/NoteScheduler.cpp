// SPDX-License-Identifier: GPL-3.0-or-later
// The note scheduler and the stream clock it places notes by.
#include "sound/NoteScheduler.h"

#include <algorithm>
#include <cmath>

namespace pulsewerk {

namespace {

// The reports the rate is fitted to: long enough that their jitter hardly sways it,
// short enough to follow a sound card's clock as it warms up.
constexpr std::int64_t kRateWindowUs = 30000000;
// The reports whose median the line's offset follows: their jitter evens out over
// some forty reports.
constexpr std::int64_t kOffsetWindowUs = 10000000;
// Below this span of reports no rate is fitted (the last one, or the nominal, stands):
// a rate fitted to a second or two of reports is further off than a sound card's clock.
constexpr std::int64_t kRateSpanUs = 3000000;
// Below this span the line is set straight to the reports; from then on its offset
// moves towards theirs by at most kSlewUsPerS a second, so that a stray report, or one
// entering or leaving the windows, moves the next note by a few microseconds at most.
constexpr std::int64_t kSettleSpanUs = 4000000;
constexpr double kSlewUsPerS = 20;
// A sound card's clock is within a few hundred ppm of the system's; a fitted rate
// further off than this comes from bad reports.
constexpr double kMaxRateError = 2e-3;
// A report this far from the line is off it. When this many reports in a row, over at
// least this long, are off it and agree with each other to kAgreeUs, the stream jumped.
constexpr double kOffLineUs = 1000;
constexpr std::size_t kJumpReports = 3;
constexpr std::int64_t kJumpConfirmUs = 150000;
constexpr double kAgreeUs = 500;
// A note-on whose frame was written this long ago is dropped rather than sounded late.
constexpr std::int64_t kStaleUs = 250000;
// Messages kept while no stream takes them (the audio server is away).
constexpr std::size_t kMaxPending = 1024;

bool isNoteOn(std::uint32_t message) { return (message & 0xF0) == 0x90 && ((message >> 16) & 0xFF) != 0; }

} // namespace

StreamClock::StreamClock(double sampleRate)
    : m_nominalUsPerFrame(1e6 / sampleRate), m_fittedUsPerFrame(m_nominalUsPerFrame), m_line{0, 0, m_nominalUsPerFrame}
{}

void StreamClock::observe(std::int64_t nowUs, double frame)
{
    if (m_known && std::abs(offLine({nowUs, frame})) > kOffLineUs) {
        // Late reports are late by chance, each by its own amount; after a jump the
        // reports agree with each other.
        m_suspect.push_back({nowUs, frame});
        const auto spread = [this] {
            const auto [lo, hi] =
                std::minmax_element(m_suspect.begin(), m_suspect.end(),
                                    [this](const Report &a, const Report &b) { return offLine(a) < offLine(b); });
            return offLine(*hi) - offLine(*lo);
        };
        while (spread() > kAgreeUs)
            m_suspect.pop_front();
        if (m_suspect.size() < kJumpReports || m_suspect.back().us - m_suspect.front().us < kJumpConfirmUs)
            return;
        m_reports.swap(m_suspect); // they agree for long enough: the stream moved
    } else {
        m_reports.push_back({nowUs, frame});
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
        const double most = kSlewUsPerS * static_cast<double>(std::max<std::int64_t>(nowUs - m_movedUs, 0)) / 1e6;
        m_line = {fitted.originFrame, at + std::clamp(fitted.originUs - at, -most, most), fitted.usPerFrame};
    }
    m_known = true;
    m_movedUs = nowUs;
}

// Least squares for the rate, the median for the offset, relative to the newest report so
// that the sums stay small.
StreamClock::Line StreamClock::fit()
{
    const Report &last = m_reports.back();
    if (last.us - m_reports.front().us >= kRateSpanUs) {
        const auto n = static_cast<double>(m_reports.size());
        double sx = 0, sy = 0;
        for (const Report &r : m_reports) {
            sx += r.frame - last.frame;
            sy += static_cast<double>(r.us - last.us);
        }
        const double mx = sx / n, my = sy / n;
        double sxx = 0, sxy = 0;
        for (const Report &r : m_reports) {
            const double x = r.frame - last.frame - mx;
            sxx += x * x;
            sxy += x * (static_cast<double>(r.us - last.us) - my);
        }
        if (sxx > 0)
            m_fittedUsPerFrame = std::clamp(sxy / sxx, m_nominalUsPerFrame * (1 - kMaxRateError),
                                            m_nominalUsPerFrame * (1 + kMaxRateError));
    }
    // The median, not the mean: a report comes late now and then (the server or this
    // program was busy), hardly ever early.
    m_offsets.clear();
    for (auto r = m_reports.rbegin(); r != m_reports.rend() && last.us - r->us <= kOffsetWindowUs; ++r)
        m_offsets.push_back(static_cast<double>(r->us - last.us) - (r->frame - last.frame) * m_fittedUsPerFrame);
    const auto middle = m_offsets.begin() + static_cast<std::ptrdiff_t>(m_offsets.size() / 2);
    std::nth_element(m_offsets.begin(), middle, m_offsets.end());
    return {last.frame, static_cast<double>(last.us) + *middle, m_fittedUsPerFrame};
}

NoteScheduler::NoteScheduler(double sampleRate, std::int64_t delayUs) : m_delayUs(delayUs), m_clock(sampleRate) {}

void NoteScheduler::push(std::int64_t intendedUs, std::uint32_t message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto after = std::upper_bound(m_pending.begin(), m_pending.end(), intendedUs,
                                        [](std::int64_t us, const Pending &p) { return us < p.intendedUs; });
    m_pending.insert(after, {intendedUs, message});
    if (m_pending.size() > kMaxPending)
        m_pending.pop_front();
}

void NoteScheduler::restart(double sampleRate, std::int64_t delayUs)
{
    m_delayUs = delayUs;
    m_clock = StreamClock(sampleRate);
    m_frames = 0;
    m_firstFillUs = -1;
}

void NoteScheduler::fill(std::int64_t nowUs, int frames, const std::function<void(int, int)> &render,
                         const std::function<void(std::uint32_t)> &apply)
{
    if (m_firstFillUs < 0)
        m_firstFillUs = nowUs;
    // Until the server has said when a frame plays, the first one written is taken as
    // heard at once; its first report puts the line where it belongs.
    const double usPerFrame = 1e6 / m_clock.rate();
    const auto frameOf = [this, usPerFrame](std::int64_t us) {
        return m_clock.known() ? m_clock.frameAt(us) : static_cast<double>(us - m_firstFillUs) / usPerFrame;
    };
    const auto staleFrames = static_cast<std::int64_t>(static_cast<double>(kStaleUs) / usPerFrame);
    const std::int64_t end = m_frames + frames;

    int position = 0;
    for (;;) {
        std::uint32_t message = 0;
        std::int64_t due = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_pending.empty())
                break;
            const Pending &next = m_pending.front();
            due = std::llround(frameOf(next.intendedUs + m_delayUs));
            if (due >= end)
                break; // a later buffer's
            message = next.message;
            m_pending.pop_front();
        }
        if (due < m_frames - staleFrames && isNoteOn(message))
            continue;
        const auto at = static_cast<int>(std::clamp<std::int64_t>(due - m_frames, position, frames));
        if (at > position) {
            render(position, at);
            position = at;
        }
        apply(message);
    }
    if (position < frames)
        render(position, frames);
    m_frames = end;
}

} // namespace pulsewerk
