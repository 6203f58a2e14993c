// SPDX-License-Identifier: GPL-3.0-or-later
// The note scheduler.
#include "sound/NoteScheduler.h"

#include <cmath>

namespace pulsewerk {

namespace {

// A note-on whose frame was written this long ago is dropped rather than sounded late.
constexpr std::int64_t kStaleUs = 250000;

bool isNoteOn(std::uint32_t message) { return (message & 0xF0) == 0x90 && ((message >> 16) & 0xFF) != 0; }

} // namespace

NoteScheduler::NoteScheduler(std::int64_t delayUs) : m_delayUs(delayUs) {}

bool NoteScheduler::push(std::int64_t intendedUs, std::uint32_t message) { return m_queue.push({intendedUs, message}); }

void NoteScheduler::restart(const FrameLine &line, std::int64_t delayUs)
{
    m_line = &line;
    m_delayUs = delayUs;
    m_frames = 0;
}

void NoteScheduler::takeQueued()
{
    Pending next;
    while (m_queue.pop(next)) {
        if (m_pendingCount == kMaxPending) {
            // Kept while no stream took them (the server is away): the oldest go.
            std::move(m_pending.begin() + 1, m_pending.end(), m_pending.begin());
            --m_pendingCount;
        }
        const auto end = m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingCount);
        const auto after = std::upper_bound(m_pending.begin(), end, next.intendedUs,
                                            [](std::int64_t us, const Pending &p) { return us < p.intendedUs; });
        std::move_backward(after, end, end + 1);
        *after = next;
        ++m_pendingCount;
    }
}

bool NoteScheduler::nextDue(std::int64_t end, std::uint32_t &message, std::int64_t &due)
{
    if (!m_line || !m_line->ready())
        return false; // held until the server says where its frames are
    const auto staleFrames = std::llround(static_cast<double>(kStaleUs) * m_line->sampleRate() / 1e6);
    std::size_t taken = 0;
    bool found = false;
    while (taken < m_pendingCount) {
        const Pending &next = m_pending[taken];
        due = m_line->frameOf(next.intendedUs + m_delayUs);
        if (due >= end)
            break; // a later buffer's
        ++taken;
        if (due < m_frames - staleFrames && isNoteOn(next.message))
            continue;
        message = next.message;
        found = true;
        break;
    }
    std::move(m_pending.begin() + static_cast<std::ptrdiff_t>(taken),
              m_pending.begin() + static_cast<std::ptrdiff_t>(m_pendingCount), m_pending.begin());
    m_pendingCount -= taken;
    return found;
}

} // namespace pulsewerk
