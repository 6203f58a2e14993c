// SPDX-License-Identifier: GPL-3.0-or-later
// The command line: read before any display is needed, and applied to the main window
// after its load step the way the user's own typing and clicks would be.
#pragma once

#include "sound/MidiOut.h"

#include <QString>
#include <QStringList>

class frmMain;

namespace pulsewerk {

// What the command line asks for at start. The defaults leave the start as it is.
struct StartOptions {
    QString tempo;      // typed into the tempo box and entered; empty: not given
    QString meter;      // the entry of the meter list to choose; empty: not given
    QString pattern;    // typed into the custom meter dialog when `meter` is its entry
    int multiplier = 1; // 1, 2 or 4
    bool mute = false;
    SoundConfig sound;            // handed to the MIDI output when it opens
    QString song;                 // the setlist's song to start with; empty: none
    int countIn = -1;             // bars counted in before the first beat, 0..4; -1: not given
    bool multiplierGiven = false; // `multiplier` was given, so it overrides the song's
    bool link = false;            // join the Ableton Link session, for this run
};

// The outcome of reading the command line: either run with `options`, or end at once
// with `exitStatus` after writing `output` to standard output. `error` goes to standard
// error: the one line about a mistake, or, when it runs, a line about each thing given
// that has no effect.
struct CommandLine {
    bool run = true;
    int exitStatus = 0;
    QString output;
    QString error;
    StartOptions options;
};

// Reads `arguments`, the program's name first; PULSEWERK_AUDIO=jack asks for JACK as
// --jack does. Every value of a repeated option is checked, and the last one taken. The application's name and version
// (QCoreApplication) go into the help and version texts.
CommandLine parseCommandLine(const QStringList &arguments);

// Applies `options` to the loaded main window through its own controls: the tempo is
// typed into the tempo box and entered, the meter chosen from the list (a custom
// pattern typed into the custom meter dialog, which stays off screen), and the
// multiplier and mute buttons clicked.
void applyStartOptions(frmMain &window, const StartOptions &options);

} // namespace pulsewerk
