// SPDX-License-Identifier: GPL-3.0-or-later
// The beat clock's ticks, made on the audio thread from the beats handed over.
#include "sound/MidiClock.h"

#include <cmath>

namespace pulsewerk {

namespace {
constexpr int kTicksPerBeat = 24;
} // namespace

bool MidiClock::beat(std::int64_t atUs, std::int32_t periodMs, std::int32_t lengthMs, bool start)
{
    return m_queue.push(
        {start ? Event::Kind::Start : Event::Kind::Beat, atUs, std::max(periodMs, 1), std::max(lengthMs, 1)});
}

bool MidiClock::stop(std::int64_t atUs) { return m_queue.push({Event::Kind::Stop, atUs, 0, 0}); }

void MidiClock::restart(const FrameLine &line, std::int64_t delayUs)
{
    m_line = &line;
    m_delayUs = delayUs;
    m_frames = 0;
}

std::int64_t MidiClock::frameOf(double programUs) const
{
    return std::llround(m_line->framePosition(programUs + static_cast<double>(m_delayUs)));
}

double MidiClock::nextTickUs()
{
    // Tick n of a beat at its own time, never a sum of rounded steps.
    while (static_cast<std::int64_t>(m_tick) * m_beat.periodMs >=
           static_cast<std::int64_t>(kTicksPerBeat) * m_beat.lengthMs) {
        m_beat.atUs += static_cast<std::int64_t>(m_beat.lengthMs) * 1000;
        m_tick = 0;
    }
    return static_cast<double>(m_beat.atUs) +
           static_cast<double>(static_cast<std::int64_t>(m_tick) * m_beat.periodMs * 1000) / kTicksPerBeat;
}

void MidiClock::apply(const Event &event)
{
    if (event.kind == Event::Kind::Stop) {
        m_running = false;
        m_startDue = 0;
        return;
    }
    if (event.kind == Event::Kind::Start) {
        m_running = true;
        m_startDue = 2;
        m_lastTickUs = -1e300;
    }
    if (!m_running)
        return; // a beat after the stop: the run is over
    // The ticks already sent, on this beat or the one it replaces, are not sent again.
    m_beat = event;
    m_tick = 0;
    while (nextTickUs() <= m_lastTickUs)
        ++m_tick;
}

bool MidiClock::nextDue(std::int64_t end, std::uint32_t &message, std::int64_t &due)
{
    if (!m_line || !m_line->ready())
        return false; // held, as the notes are, until the server places the line
    for (;;) {
        if (!m_hasNext)
            m_hasNext = m_queue.pop(m_next);
        const double tickUs = m_running ? nextTickUs() : 0;
        // What was handed over takes effect at its time: the ticks before it go first.
        if (m_hasNext && (!m_running || static_cast<double>(m_next.atUs) <= tickUs)) {
            if (m_next.kind == Event::Kind::Stop && m_running && m_startDue == 0) {
                due = frameOf(static_cast<double>(m_next.atUs));
                if (due >= end)
                    return false;
                apply(m_next);
                m_hasNext = false;
                message = kStop;
                return true;
            }
            apply(m_next); // a stop before the run's first tick says nothing
            m_hasNext = false;
            continue;
        }
        if (!m_running)
            return false;
        due = frameOf(tickUs);
        if (due >= end)
            return false;
        const bool late = due < m_frames;
        if (m_startDue > 0) {
            message = m_startDue-- == 2 ? kSongPositionZero : kStart;
            return true;
        }
        m_lastTickUs = tickUs;
        ++m_tick;
        if (late && m_lateSent)
            continue;
        m_lateSent = m_lateSent || late;
        message = kTick;
        return true;
    }
}

} // namespace pulsewerk
