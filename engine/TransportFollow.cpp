// SPDX-License-Identifier: GPL-3.0-or-later
// The beat loop on a shared transport.
#include "engine/TransportFollow.h"

#include "engine/BeatTiming.h"
#include "platform/Say.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace pulsewerk {

namespace {

constexpr int kSlowest = 40;
constexpr int kFastest = 208;
// A beat meant for this long ago still lands on its frame: the notes are heard well
// after their time (the stream's latency and a margin for a late sender).
constexpr double kStillInTimeUs = 40000;

int floorMod(std::int64_t a, int b) { return static_cast<int>(((a % b) + b) % b); }

} // namespace

void TransportFollower::pass(TransportWindow &window, BeatTiming &timing, std::uint32_t nowMs)
{
    m_transport.announce(window.beatsPerBar(), window.tempo());
    const TransportReading reading = m_transport.read();
    if (!reading.valid)
        return;
    if (reading.hasBeat && !reading.leading)
        followTempo(window, reading.bpm);
    // A transport about to roll (relocated while rolling, or waiting for the clients that
    // need time to get ready) keeps the beat going.
    const bool rolls = reading.rolling || reading.starting;
    if (rolls != window.running()) {
        window.setRunning(rolls);
        timing.moveGrid(nowMs); // no beat before the transport's grid is known
        m_plannedUs.reset();
    }
    // After a relocation the grid is new; still no two beats come closer than half a
    // beat (a flam), so the last one sounded is kept.
    if (reading.jumps != m_jumps) {
        m_jumps = reading.jumps;
        m_plannedUs.reset();
    }
    m_reading = reading;
    if (reading.rolling && reading.hasBeat)
        plan(window, timing, reading, nowMs);
}

// The transport's tempo, rounded, within the slider's range; said once when it is not.
void TransportFollower::followTempo(TransportWindow &window, double bpm)
{
    const long rounded = std::lround(bpm);
    const int tempo = static_cast<int>(std::clamp<long>(rounded, kSlowest, kFastest));
    if (tempo != rounded && !m_saidClamped)
        say(("the JACK transport's tempo of " + std::to_string(rounded) + " beats per minute is taken as " +
             std::to_string(tempo) + ", within 40 to 208.")
                .c_str());
    m_saidClamped = tempo != rounded;
    if (tempo != window.tempo())
        window.setTempo(tempo);
}

// The grid moves so that the loop's next beat comes at the grid point of the
// transport's next beat (or of its subdivision by the multiplier).
void TransportFollower::plan(TransportWindow &window, BeatTiming &timing, const TransportReading &reading,
                             std::uint32_t nowMs)
{
    const int multiplier = std::max(window.multiplier(), 1);
    const double clickUs = reading.usPerBeat / multiplier;
    const double nowUs = static_cast<double>(nowMs) * 1000;
    double earliest = nowUs - kStillInTimeUs;
    if (m_lastBeatUs)
        earliest = std::max(earliest, *m_lastBeatUs + clickUs / 2);
    // Clock readings wrap at 32 bits: the beat's distance from now, not its reading, counts.
    const double index = std::ceil((earliest - reading.beatUs) / clickUs);
    const double beatUs = reading.beatUs + index * clickUs;
    const auto beatMs = static_cast<std::uint32_t>(static_cast<std::int64_t>(std::floor(beatUs / 1000)));
    const std::int32_t period = BeatTiming::period(window.tempo(), multiplier);
    std::uint32_t origin = beatMs - static_cast<std::uint32_t>(period);
    // A transport slower than the slider's slowest: the beat is held back pass by pass
    // (the loop comes at least every few milliseconds while it follows).
    const bool heldBack = static_cast<std::int32_t>(origin - nowMs) > 0;
    if (heldBack)
        origin = nowMs - static_cast<std::uint32_t>(BeatTiming::soundingTime(period)) - 1;
    if (origin != timing.lastBeatTime())
        timing.moveGrid(origin);
    m_plannedUs = beatUs;
    m_plannedMs = beatMs;
    m_plannedIndex = static_cast<int>(index);
}

std::optional<std::int64_t> TransportFollower::beat(TransportWindow &window, std::uint32_t beatMs)
{
    if (!m_plannedUs || beatMs != m_plannedMs)
        return std::nullopt;
    const int multiplier = std::max(window.multiplier(), 1);
    const int bar = std::max(m_reading.beatsPerBar, 1);
    const int beats =
        m_plannedIndex >= 0 ? m_plannedIndex / multiplier : -((-m_plannedIndex + multiplier - 1) / multiplier);
    const int beatInBar = floorMod(m_reading.beatInBar + beats, bar);
    window.setNextPosition(beatInBar * multiplier + floorMod(m_plannedIndex, multiplier));
    m_lastBeatUs = m_plannedUs;
    m_plannedUs.reset();
    return std::llround(*m_lastBeatUs);
}

void TransportFollower::startStop(bool start)
{
    if (start)
        m_transport.start();
    else
        m_transport.stop();
}

} // namespace pulsewerk
