// SPDX-License-Identifier: GPL-3.0-or-later
// The note scheduler and the stream clock it places notes by.
#include "platform/NoteScheduler.h"

#include <algorithm>
#include <cmath>

namespace pulsewerk {

namespace {

// The reports the line is fitted to: long enough to average out their jitter, short
// enough to follow a change of the audio clock's rate within seconds.
constexpr std::int64_t kFitWindowUs = 10000000;
// Below this span of reports the rate is taken as nominal and only the offset fitted:
// a rate fitted to a second or two of reports is further off than a sound card's clock.
constexpr std::int64_t kRateSpanUs = 3000000;
// A sound card's clock is within a few hundred ppm of the system's; a fitted rate
// further off than this comes from bad reports.
constexpr double kMaxRateError = 2e-3;
// A report this far from the line is off it; off it for this long, the stream jumped.
constexpr double kOffLineUs = 1000;
constexpr std::int64_t kJumpConfirmUs = 150000;
// A note-on whose frame was written this long ago is dropped rather than sounded late.
constexpr std::int64_t kStaleUs = 250000;
// Messages kept while no stream takes them (the audio server is away).
constexpr std::size_t kMaxPending = 1024;

bool isNoteOn(std::uint32_t message) { return (message & 0xF0) == 0x90 && ((message >> 16) & 0xFF) != 0; }

} // namespace

StreamClock::StreamClock(double sampleRate) : m_nominalUsPerFrame(1e6 / sampleRate), m_usPerFrame(1e6 / sampleRate) {}

void StreamClock::observe(std::int64_t nowUs, double frame)
{
    if (m_known && std::abs(static_cast<double>(nowUs) - timeOf(frame)) > kOffLineUs) {
        m_suspect.push_back({nowUs, frame});
        if (m_suspect.back().us - m_suspect.front().us < kJumpConfirmUs)
            return;
        m_reports.swap(m_suspect); // they agree for long enough: the stream moved
    } else {
        m_reports.push_back({nowUs, frame});
    }
    m_suspect.clear();
    while (m_reports.back().us - m_reports.front().us > kFitWindowUs)
        m_reports.pop_front();
    fit();
    m_known = true;
}

// Least squares, relative to the newest report so that the sums stay small.
void StreamClock::fit()
{
    const Report &last = m_reports.back();
    const auto n = static_cast<double>(m_reports.size());
    double sx = 0, sy = 0;
    for (const Report &r : m_reports) {
        sx += r.frame - last.frame;
        sy += static_cast<double>(r.us - last.us);
    }
    const double mx = sx / n, my = sy / n;
    double slope = m_nominalUsPerFrame;
    if (last.us - m_reports.front().us >= kRateSpanUs) {
        double sxx = 0, sxy = 0;
        for (const Report &r : m_reports) {
            const double x = r.frame - last.frame - mx;
            sxx += x * x;
            sxy += x * (static_cast<double>(r.us - last.us) - my);
        }
        if (sxx > 0)
            slope = std::clamp(sxy / sxx, m_nominalUsPerFrame * (1 - kMaxRateError),
                               m_nominalUsPerFrame * (1 + kMaxRateError));
    }
    m_usPerFrame = slope;
    m_originFrame = last.frame;
    m_originUs = static_cast<double>(last.us) + my - slope * mx;
}

double StreamClock::frameAt(std::int64_t us) const
{
    return m_originFrame + (static_cast<double>(us) - m_originUs) / m_usPerFrame;
}

double StreamClock::timeOf(double frame) const { return m_originUs + (frame - m_originFrame) * m_usPerFrame; }

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
