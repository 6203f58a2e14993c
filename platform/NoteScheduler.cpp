// The note scheduler.
#include "platform/NoteScheduler.h"

#include <algorithm>
#include <cmath>

namespace {

// How long an estimate of the stream's origin is kept: long enough to include an
// on-time callback, short enough to follow drift between the audio and system clocks.
constexpr std::int64_t kOriginWindowUs = 1000000;
// The start of the stream, when the audio server takes buffers as fast as they come.
constexpr std::int64_t kSettleUs = 300000;
// A rise of the origin that every callback of this long shows is a restart, not jitter.
constexpr std::int64_t kRecentUs = 150000;
constexpr std::int64_t kJumpUs = 2000;

} // namespace

void NoteScheduler::push(std::int64_t sentUs, std::uint32_t message)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending.push_back({sentUs, message});
}

void NoteScheduler::fill(std::int64_t nowUs, int frames, const std::function<void(int, int)> &render,
                         const std::function<void(std::uint32_t)> &apply)
{
    // Where frame 0 of the stream lies on the monotonic clock: the earliest recent
    // estimate, callback time minus stream position, is the least delayed one. The
    // first callbacks fill the audio server's buffer faster than it plays and say
    // nothing of the pace; after an under-run the stream restarts later, which shows
    // as every recent estimate lying above the old minimum, and the old ones go.
    const auto origin = nowUs - static_cast<std::int64_t>(std::llround(static_cast<double>(m_frames) * 1e6 / m_rate));
    if (m_firstCallbackUs < 0)
        m_firstCallbackUs = nowUs;
    if (nowUs - m_firstCallbackUs >= kSettleUs || m_origins.empty()) {
        while (!m_origins.empty() && m_origins.front().first < nowUs - kOriginWindowUs)
            m_origins.pop_front();
        while (!m_origins.empty() && m_origins.back().second >= origin)
            m_origins.pop_back();
        m_origins.emplace_back(nowUs, origin);
        // The entries are rising in origin: the first of the recent ones is their minimum.
        const auto recent = std::find_if(m_origins.begin(), m_origins.end(),
                                         [nowUs](const auto &entry) { return entry.first >= nowUs - kRecentUs; });
        if (recent != m_origins.begin() && nowUs - m_firstCallbackUs >= kSettleUs + kRecentUs &&
            recent->second - m_origins.front().second > kJumpUs)
            m_origins.erase(m_origins.begin(), recent);
    }
    const std::int64_t streamOrigin = m_origins.front().second;

    int position = 0;
    for (;;) {
        std::uint32_t message = 0;
        double dueFrame = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_pending.empty())
                break;
            const Pending &next = m_pending.front();
            dueFrame = static_cast<double>(next.sentUs + m_delayUs - streamOrigin) * m_rate / 1e6 -
                       static_cast<double>(m_frames);
            if (dueFrame >= frames)
                break; // a later buffer's
            message = next.message;
            m_pending.pop_front();
        }
        // A message already due (a late callback) goes at the start of what is left.
        const int at = std::clamp(static_cast<int>(std::floor(dueFrame)), position, frames);
        if (at > position) {
            render(position, at);
            position = at;
        }
        apply(message);
    }
    if (position < frames)
        render(position, frames);
    m_frames += frames;
}
