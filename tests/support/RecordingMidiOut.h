// SPDX-License-Identifier: GPL-3.0-or-later
// A MIDI output that keeps every message with the clock reading at which it was sent.
#pragma once

#include "platform/Clock.h"
#include "sound/MidiOut.h"

#include <cstdint>
#include <vector>

namespace pulsewerk {

struct RecordedMessage {
    std::uint32_t timeMs; // the clock's reading when sent
    std::uint32_t message;
    std::uint32_t atMs; // the clock reading it was meant to sound at

    std::uint8_t status() const { return message & 0xFF; }
    std::uint8_t data1() const { return (message >> 8) & 0xFF; }
    std::uint8_t data2() const { return (message >> 16) & 0xFF; }
    std::uint8_t byte3() const { return (message >> 24) & 0xFF; }
};

// The recording lives in a shared Log so that it outlives the device the program closes;
// each message is dated by `clock`.
class RecordingMidiOut final : public MidiOutDevice {
public:
    struct Log {
        std::vector<RecordedMessage> messages;
        int opens = 0;
        int closes = 0;
        int sentWhileClosed = 0;
    };

    RecordingMidiOut(Log &log, Clock &clock) : m_log(log), m_clock(clock) {}

    void open() override
    {
        ++m_log.opens;
        m_open = true;
    }
    void sendShortMsg(std::uint32_t message, std::uint32_t atMs) override;
    void close() override
    {
        ++m_log.closes;
        m_open = false;
    }

private:
    Log &m_log;
    Clock &m_clock;
    bool m_open = false;
};

} // namespace pulsewerk
