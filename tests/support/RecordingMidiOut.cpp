// SPDX-License-Identifier: GPL-3.0-or-later
// The recording MIDI output.
#include "RecordingMidiOut.h"

namespace pulsewerk {

void RecordingMidiOut::sendShortMsg(std::uint32_t message, std::uint32_t atMs)
{
    if (!m_open)
        ++m_log.sentWhileClosed;
    m_log.messages.push_back({m_clock.timeGetTime(), message, atMs});
}

} // namespace pulsewerk
