// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and the beat loop: the program's entry point and its only source of timing.
#pragma once

#include "engine/CommandLine.h"
#include "sound/MidiOut.h"

#include <cstdint>
#include <functional>

namespace pulsewerk {
class BeatTiming;
class Clock;
} // namespace pulsewerk
class frmMain;

namespace mdlMain {

// The one main window; set once by Main and never cleared.
extern frmMain *g_frmMain;
// Set by the main window's unload; the beat loop ends at its next pass.
extern bool g_blnQuit;

// What the program runs with: the clock that the beat loop and the windows read, the
// MIDI output that the loop opens, and how the process ends after the loop.
struct Context {
    pulsewerk::Clock *clock = nullptr;
    pulsewerk::MidiOutFactory openMidiOut;
    std::function<void()> endProcess;
};
// The program's own: the system clock, the embedded synthesizer playing as `sound`
// says, and an exit with status 0 at once, before any further window event.
Context programContext(const pulsewerk::SoundConfig &sound);

// The context in use: the one handed to the innermost UsingContext alive, else the
// program's own with the default sound.
const Context &context();

// Puts `context` (not copied) in use while it lives: Main does with the context handed
// to it, tests and benchmarks with theirs.
class UsingContext {
public:
    explicit UsingContext(const Context &context);
    ~UsingContext();
    UsingContext(const UsingContext &) = delete;
    UsingContext &operator=(const UsingContext &) = delete;

private:
    const Context *m_outer;
};

// Puts `context` in use, creates and shows the main window (which loads the
// settings), applies the command line's start options, then runs the beat loop,
// which ends the process. Needs a QApplication.
void Main(const pulsewerk::StartOptions &options, const Context &context);

// Makes SIGTERM, SIGINT and SIGHUP end the program as the window's close does (an open
// dialog is closed first); a second one while it ends ends it at once. Main calls it.
void closeOnSignals();

// Opens the MIDI output and beats until g_blnQuit is set; then releases the sounding
// note, closes the output and ends the process, all as the context in use says.
void RunBeatLoop();

// Asks the beat loop to start its grid afresh at its next pass: that pass sounds a
// beat at once, and the grid runs from it.
void startBeatGrid();
// Asks the beat loop to move its grid so that the next beat comes one period after
// the clock reading `origin`.
void moveBeatGrid(std::uint32_t origin);
// Space with a shared transport (--transport): asks it to start or stop, and the beat
// follows it. False when there is none: Space starts and stops the beat itself.
bool startStopTransport(bool start);
// One pass of the loop after the window events: reads the clock, releases and sounds
// the beat as the timing rules say, and returns the clock reading at which the next
// pass has something to do.
std::uint32_t beatLoopPass(pulsewerk::BeatTiming &timing);

} // namespace mdlMain
