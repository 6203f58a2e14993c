// SPDX-License-Identifier: GPL-3.0-or-later
// MIDI outputs that record what the program sends: every message with the clock reading
// at which it was sent (for the tests), or the system time of every note-on (for the
// benchmarks).
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
        std::uint32_t latencyMs = 0;            // how long after its intended time a message is heard
        std::uint32_t lateRoomMs = kLateRoomMs; // how late a message may come and still be heard on time
        std::vector<std::uint32_t> drops;       // clock readings at which unheard notes were dropped
        // The beat clock's beats: the time each is meant for, and how many messages had
        // been sent when it was handed over.
        std::vector<std::pair<std::uint32_t, std::size_t>> clockBeats;
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
    std::uint32_t heardAfterMs() const override { return m_log.latencyMs; }
    std::uint32_t lateRoomMs() const override { return m_log.lateRoomMs; }
    void dropUnheard() override;
    void clockBeat(std::uint32_t atMs, std::int32_t, std::int32_t, bool) override
    {
        m_log.clockBeats.emplace_back(atMs, m_log.messages.size());
    }

private:
    Log &m_log;
    Clock &m_clock;
    bool m_open = false;
};

// Keeps the monotonic time of every note-on and only counts the releases: a loop that
// spins sends a release on every pass, millions of them, and keeping those would swell
// a memory figure with the recording's own bookkeeping.
class TimedMidiOut final : public MidiOutDevice {
public:
    struct Log {
        std::int64_t startMs = -1;          // the clock reading the loop took as its grid's origin
        std::vector<std::int64_t> noteOnUs; // monotonicUs() when each note-on (velocity != 0) was sent
        std::int64_t releases = 0;          // note-ons with velocity 0
        int opens = 0;
    };

    explicit TimedMidiOut(Log &log) : m_log(log) {}

    void open() override;
    void sendShortMsg(std::uint32_t message, std::uint32_t atMs) override;
    void close() override {}

private:
    Log &m_log;
};

} // namespace pulsewerk
