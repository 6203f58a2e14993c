// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and the beat loop: the program's entry point and its only source of timing.
#pragma once

#include "engine/CommandLine.h"

#include <cstdint>
#include <functional>

namespace pulsewerk {
class BeatTiming;
}
class frmMain;

namespace mdlMain {

// The one main window; set once by Main and never cleared.
extern frmMain *g_frmMain;
// Set by the main window's unload; the beat loop ends at its next pass.
extern bool g_blnQuit;

// Creates and shows the main window (which loads the settings), applies the command
// line's start options, then runs the beat loop, which ends the process. Needs a
// QApplication.
void Main(const pulsewerk::StartOptions &options = {});

// Makes SIGTERM, SIGINT and SIGHUP end the program as the window's close does (an open
// dialog is closed first); a second one while it ends ends it at once. Main calls it.
void closeOnSignals();

// Opens the MIDI output and beats until g_blnQuit is set; then releases the sounding
// note, closes the output and ends the process.
void RunBeatLoop();

// Asks the beat loop to start its grid afresh at its next pass: that pass sounds a
// beat at once, and the grid runs from it.
void startBeatGrid();
// Asks the beat loop to move its grid so that the next beat comes one period after
// the clock reading `origin`.
void moveBeatGrid(std::uint32_t origin);
// One pass of the loop after the window events: reads the clock, releases and sounds
// the beat as the timing rules say, and returns the clock reading at which the next
// pass has something to do.
std::uint32_t beatLoopPass(pulsewerk::BeatTiming &timing);

// Replaces the call that ends the process after the loop (tests keep the process).
// An empty function restores the default, which exits with status 0 at once.
void setEndProcess(std::function<void()> endProcess);

} // namespace mdlMain
