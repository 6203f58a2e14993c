// SPDX-License-Identifier: GPL-3.0-or-later
// The JACK transport, for the JACK back end: followed when another client says where
// the beats are (the timebase master), led when none does. Its process-thread half
// reads the position every cycle and hands the beat grid, on the program's clock, to
// the main thread through a lock-free queue.
#pragma once

#include "sound/Rings.h"
#include "sound/Transport.h"

#include <jack/jack.h>
#include <jack/transport.h>

#include <atomic>
#include <cstdint>

namespace pulsewerk {

class FrameLine;

class JackTransport final : public Transport {
public:
    // The back end's threads, outside the process thread: the client is active (or is
    // about to go). attach() tries to lead.
    void attach(jack_client_t *client);
    void detach();
    // The back end's own thread: leads when no client does (the one that did has gone).
    void leadWhenUnled();

    // The process thread, once a cycle before the stream's frames are rendered:
    // `streamFrame` is the cycle's first frame on the stream, placed by `line`.
    void cycle(jack_nframes_t frames, std::int64_t streamFrame, const FrameLine &line);

    TransportReading read() override;
    void start() override { m_request = Request::Start; }
    void stop() override { m_request = Request::Stop; }
    void announce(int beatsPerBar, int bpm) override;

private:
    enum class Request { None, Start, Stop };
    // The bar and beat from which the led grid runs at its tempo.
    struct Anchor {
        double frame = 0;
        std::int64_t bar = 0;  // from 0
        std::int64_t beat = 0; // in the bar, from 0
        int bpm = 0;
        int beatsPerBar = 0;
    };

    static void timebase(jack_transport_state_t state, jack_nframes_t frames, jack_position_t *pos, int newPos,
                         void *self);
    void lead(jack_position_t &pos, bool newPos);
    void reanchor(double frame, double rate, int bpm, int beatsPerBar);
    void readBeat(const jack_position_t &pos, std::int64_t streamFrame, const FrameLine &line,
                  TransportReading &reading) const;
    static bool sameGrid(const TransportReading &a, const TransportReading &b);
    void publish(const TransportReading &reading);

    std::atomic<jack_client_t *> m_client{nullptr};
    std::atomic<Request> m_request{Request::None};
    std::atomic<int> m_announcedBar{1};
    std::atomic<int> m_announcedBpm{120};
    std::atomic<bool> m_leading{false};    // the timebase callback is registered
    std::atomic<bool> m_othersLead{false}; // another client says where the beats are

    // The process thread only.
    Anchor m_anchor;
    std::uint64_t m_cycles = 0;
    std::uint64_t m_ledCycle = 0; // the cycle in which the timebase callback last ran
    jack_nframes_t m_expectedFrame = 0;
    bool m_wasRolling = false;
    std::uint32_t m_jumps = 0;
    TransportReading m_published;
    int m_movedCycles = 0; // cycles in a row the grid stood moved, to m_movedTo
    TransportReading m_movedTo;
    SpscRing<TransportReading, 64> m_readings;

    // The main thread only.
    TransportReading m_latest;
};

} // namespace pulsewerk
