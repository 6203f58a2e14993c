// The recording MIDI output.
#include "platform/RecordingMidiOut.h"

#include "platform/Clock.h"

namespace platform {

void RecordingMidiOut::sendShortMsg(std::uint32_t message)
{
    if (!m_open)
        ++m_log.sentWhileClosed;
    m_log.messages.push_back({clock().timeGetTime(), message});
}

} // namespace platform
