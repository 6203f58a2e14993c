// SPDX-License-Identifier: GPL-3.0-or-later
// The recording MIDI outputs.
#include "RecordingMidiOut.h"

namespace pulsewerk {

void RecordingMidiOut::sendShortMsg(std::uint32_t message, std::uint32_t atMs)
{
    if (!m_open)
        ++m_log.sentWhileClosed;
    m_log.messages.push_back({m_clock.timeGetTime(), message, atMs});
}

void TimedMidiOut::open()
{
    // The loop reads the clock as soon as the device is open and takes that reading as
    // its grid's origin. Staying clear of the last 100 us of a millisecond makes that
    // reading the same as this one.
    std::int64_t us = monotonicUs();
    while (us % 1000 > 900)
        us = monotonicUs();
    if (m_log.opens++ == 0)
        m_log.startMs = us / 1000;
}

void TimedMidiOut::sendShortMsg(std::uint32_t message, std::uint32_t /*atMs*/)
{
    const std::int64_t us = monotonicUs();
    if (((message >> 16) & 0xFF) != 0)
        m_log.noteOnUs.push_back(us);
    else
        ++m_log.releases;
}

void RecordingMidiOut::dropUnheard() { m_log.drops.push_back(m_clock.timeGetTime()); }

} // namespace pulsewerk
