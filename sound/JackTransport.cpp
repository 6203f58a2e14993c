// SPDX-License-Identifier: GPL-3.0-or-later
// The JACK transport: followed or led, its beat grid carried to the main thread.
#include "sound/JackTransport.h"

#include "sound/FrameLine.h"

#include <algorithm>
#include <cmath>

namespace pulsewerk {

namespace {

// What the program announces while it leads: ticks per beat, and a quarter note's beat.
constexpr double kTicksPerBeat = 1920;
constexpr float kBeatType = 4;
// A grid that moved by less than this (rounding of the line's arithmetic) is the same grid.
constexpr double kSameGridUs = 0.5;
// Cycles in a row a grid must have moved to before it is taken as moved: more than the
// back end takes to follow a gap in the server's frames.
constexpr int kMovedCycles = 5;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

} // namespace

void JackTransport::attach(jack_client_t *client)
{
    m_client = client;
    m_leading = false;
    leadWhenUnled();
}

// The client's closing lets go of the timebase, if it held it.
void JackTransport::detach()
{
    m_client = nullptr;
    m_leading = false;
}

// Conditional: a client already leading is left to lead.
void JackTransport::leadWhenUnled()
{
    jack_client_t *client = m_client;
    if (client && !m_leading && !m_othersLead)
        m_leading = jack_set_timebase_callback(client, 1, timebase, this) == 0;
}

void JackTransport::announce(int beatsPerBar, int bpm)
{
    m_announcedBar = std::max(beatsPerBar, 1);
    m_announcedBpm = std::max(bpm, 1);
}

// The process thread, after the cycle's process callbacks: the position of the cycle to
// come, from the program's bar and tempo.
void JackTransport::timebase(jack_transport_state_t, jack_nframes_t, jack_position_t *pos, int newPos, void *self)
{
    static_cast<JackTransport *>(self)->lead(*pos, newPos != 0);
}

void JackTransport::lead(jack_position_t &pos, bool newPos)
{
    m_ledCycle = m_cycles;
    const double rate = pos.frame_rate > 0 ? pos.frame_rate : 48000;
    const double frame = pos.frame;
    const int bpm = m_announcedBpm, beatsPerBar = m_announcedBar;
    if (m_anchor.bpm == 0 || (newPos && frame < m_anchor.frame))
        m_anchor = {0, 0, 0, bpm, beatsPerBar}; // from the start, at the tempo now
    else if (bpm != m_anchor.bpm || beatsPerBar != m_anchor.beatsPerBar)
        reanchor(frame, rate, bpm, beatsPerBar);
    const double framesPerBeat = rate * 60 / m_anchor.bpm;
    const double beats = static_cast<double>(m_anchor.beat) + (frame - m_anchor.frame) / framesPerBeat;
    const double whole = std::floor(beats);
    const auto beat = static_cast<std::int64_t>(whole);
    const std::int64_t bar = m_anchor.bar + floorDiv(beat, m_anchor.beatsPerBar);
    pos.valid = static_cast<jack_position_bits_t>(JackPositionBBT | JackTickDouble);
    pos.bar = static_cast<std::int32_t>(std::max<std::int64_t>(bar, 0) + 1);
    pos.beat = static_cast<std::int32_t>(beat - floorDiv(beat, m_anchor.beatsPerBar) * m_anchor.beatsPerBar + 1);
    pos.tick_double = (beats - whole) * kTicksPerBeat;
    pos.tick = static_cast<std::int32_t>(pos.tick_double);
    pos.bar_start_tick = static_cast<double>(pos.bar - 1) * m_anchor.beatsPerBar * kTicksPerBeat;
    pos.beats_per_bar = static_cast<float>(m_anchor.beatsPerBar);
    pos.beat_type = kBeatType;
    pos.ticks_per_beat = kTicksPerBeat;
    pos.beats_per_minute = m_anchor.bpm;
}

// A new tempo or bar from the next beat on; a new bar starts there.
void JackTransport::reanchor(double frame, double rate, int bpm, int beatsPerBar)
{
    const double framesPerBeat = rate * 60 / m_anchor.bpm;
    const double ahead = std::ceil((frame - m_anchor.frame) / framesPerBeat - 1e-9);
    const std::int64_t beat = m_anchor.beat + static_cast<std::int64_t>(ahead);
    Anchor next{m_anchor.frame + ahead * framesPerBeat, m_anchor.bar + floorDiv(beat, m_anchor.beatsPerBar),
                beat - floorDiv(beat, m_anchor.beatsPerBar) * m_anchor.beatsPerBar, bpm, beatsPerBar};
    if (beatsPerBar != m_anchor.beatsPerBar && next.beat != 0) {
        ++next.bar;
        next.beat = 0;
    }
    m_anchor = next;
}

void JackTransport::cycle(jack_nframes_t frames, std::int64_t streamFrame, const FrameLine &line)
{
    jack_client_t *client = m_client;
    if (!client)
        return;
    ++m_cycles;
    // Starting and stopping are real-time safe: asked for here, no other thread races
    // the client's closing.
    const Request request = m_request.exchange(Request::None);
    if (request == Request::Start)
        jack_transport_start(client);
    else if (request == Request::Stop)
        jack_transport_stop(client);
    jack_position_t pos{};
    const jack_transport_state_t state = jack_transport_query(client, &pos);
    TransportReading reading;
    reading.valid = true;
    reading.rolling = state == JackTransportRolling;
    reading.starting = state == JackTransportStarting;
    // The timebase callback runs in every rolling cycle; while the transport stops it
    // runs only after a relocation. Another client that took over stops it for good.
    if (m_leading && reading.rolling && m_wasRolling && m_cycles - m_ledCycle > 2)
        m_leading = false;
    reading.leading = m_leading;
    // A start, or a frame other than the one rolling on gives: the grid jumped.
    if (reading.rolling && (!m_wasRolling || pos.frame != m_expectedFrame))
        ++m_jumps;
    m_wasRolling = reading.rolling;
    m_expectedFrame = pos.frame + (reading.rolling ? frames : 0);
    reading.jumps = m_jumps;
    readBeat(pos, streamFrame, line, reading);
    m_othersLead = reading.hasBeat && !reading.leading;
    publish(reading);
}

// Where the next beat falls, from the position's bar, beat and tick at its frame.
void JackTransport::readBeat(const jack_position_t &pos, std::int64_t streamFrame, const FrameLine &line,
                             TransportReading &reading) const
{
    if (!(pos.valid & JackPositionBBT) || !(pos.beats_per_minute > 0) || !(pos.ticks_per_beat > 0) ||
        !(pos.beats_per_bar >= 1) || pos.beat < 1 || !(line.sampleRate() > 0))
        return;
    const double rate = line.sampleRate();
    const double framesPerBeat = rate * 60 / pos.beats_per_minute;
    const double tick = (pos.valid & JackTickDouble) ? pos.tick_double : pos.tick;
    // The bar, beat and tick may be those of a frame a little before the cycle's.
    const double at = static_cast<double>(pos.frame) - ((pos.valid & JackBBTFrameOffset) ? pos.bbt_offset : 0);
    const double toNext = tick > 0 ? (pos.ticks_per_beat - tick) / pos.ticks_per_beat : 0;
    const double nextBeat = at + toNext * framesPerBeat;
    const auto beatsPerBar = static_cast<int>(std::lround(pos.beats_per_bar));
    reading.hasBeat = true;
    reading.bpm = pos.beats_per_minute;
    reading.beatsPerBar = beatsPerBar;
    reading.beatInBar = (pos.beat - 1 + (tick > 0 ? 1 : 0)) % beatsPerBar;
    if (!reading.rolling)
        return; // a grid that stands still moves on the clock: no news until it rolls
    reading.beatUs = line.programUsOf(static_cast<double>(streamFrame) + (nextBeat - pos.frame));
    reading.usPerBeat = framesPerBeat * 1e6 / rate;
}

// The same grid: a beat of one falls on a beat of the other, at the same place in the bar.
bool JackTransport::sameGrid(const TransportReading &a, const TransportReading &b)
{
    if (!a.hasBeat || !b.hasBeat || a.usPerBeat != b.usPerBeat || a.beatsPerBar != b.beatsPerBar)
        return a.hasBeat == b.hasBeat && a.usPerBeat == b.usPerBeat;
    const double beats = std::round((b.beatUs - a.beatUs) / b.usPerBeat);
    const auto shift = static_cast<std::int64_t>(beats) % b.beatsPerBar;
    return std::abs(b.beatUs - (a.beatUs + beats * b.usPerBeat)) < kSameGridUs &&
           (a.beatInBar + shift + b.beatsPerBar) % b.beatsPerBar == b.beatInBar;
}

// Only what changed goes to the main thread: the same grid a beat on is no news. A grid
// that moved with nothing else (no relocation, no new tempo) moves only when the next
// cycles agree: a master late for a cycle leaves its bar, beat and tick a cycle behind
// the frame, and the server's frames stand a cycle apart from the stream's until the
// back end has taken up the gap.
void JackTransport::publish(const TransportReading &reading)
{
    const TransportReading &last = m_published;
    const bool sameState = last.valid == reading.valid && last.rolling == reading.rolling &&
                           last.starting == reading.starting && last.leading == reading.leading &&
                           last.jumps == reading.jumps && last.bpm == reading.bpm && last.hasBeat == reading.hasBeat;
    if (sameState && sameGrid(last, reading)) {
        m_movedCycles = 0;
        return;
    }
    if (sameState) {
        if (m_movedCycles > 0 && sameGrid(m_movedTo, reading)) {
            ++m_movedCycles;
        } else {
            m_movedCycles = 1;
            m_movedTo = reading;
        }
        if (m_movedCycles < kMovedCycles)
            return;
    }
    m_movedCycles = 0;
    if (m_readings.push(reading))
        m_published = reading;
}

TransportReading JackTransport::read()
{
    TransportReading next;
    while (m_readings.pop(next))
        m_latest = next;
    return m_latest;
}

} // namespace pulsewerk
