// SPDX-License-Identifier: GPL-3.0-or-later
// A transport shared with other programs (JACK's): whether it rolls, its tempo and its
// beat grid on the program's clock, as the audio thread last read them, and what the
// program may ask of it. No audio library here: the engine sees this through MidiOut.h.
#pragma once

#include <cstdint>

namespace pulsewerk {

struct TransportReading {
    bool valid = false;    // the audio thread has read the transport
    bool rolling = false;  // the transport rolls
    bool starting = false; // it is about to roll: a start or a relocation under way
    bool leading = false;  // the program itself says where the beats are
    bool hasBeat = false;  // someone says where the beats are: the fields below hold
    double bpm = 0;        // the transport's tempo, unrounded
    // The time on the program's clock at which a note is meant to sound so that it is
    // heard on a beat of the transport's grid, and the beat's length in microseconds.
    double beatUs = 0;
    double usPerBeat = 0;
    int beatInBar = 0; // that beat's place in its bar, from 0
    int beatsPerBar = 1;
    // Counts the times the grid moved other than by rolling on (a relocation, a start).
    std::uint32_t jumps = 0;
};

class Transport {
public:
    virtual ~Transport() = default;
    // The main thread: the latest reading, without waiting for the audio thread.
    virtual TransportReading read() = 0;
    // The main thread: starts or stops the transport for every program that follows it.
    virtual void start() = 0;
    virtual void stop() = 0;
    // The main thread: the bar and tempo the program announces while it leads; a change
    // takes effect at the next beat, a new bar starting there.
    virtual void announce(int beatsPerBar, int bpm) = 0;
};

} // namespace pulsewerk
