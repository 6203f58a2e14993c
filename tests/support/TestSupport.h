// SPDX-License-Identifier: GPL-3.0-or-later
// Shared test support: a temporary settings store, the recording MIDI output and
// fake clock installed around a real main window and beat loop, and access to the
// main window's private state.
#pragma once

#include "FakeClock.h"
#include "RecordingMidiOut.h"
#include "engine/mdlMain.h"
#include "mainwindow/frmMain.h"
#include "settings/Settings.h"

#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <vector>

// Points the per-user settings store at a fresh temporary folder for its lifetime.
class TempSettings {
public:
    TempSettings();
    ~TempSettings();
    // Calls `hook` at each step of the saves queued from now on, on the save thread.
    void onSaveStep(pulsewerk::ReplaceHook hook) { m_store.onStep = std::move(hook); }
    // The settings file the program reads and writes.
    QString fileName() const;
    QString folder() const { return m_dir.path(); }
    // Removes the settings file once the saves under way have landed, so none lands after.
    void clear() const;
    // Writes `value` under section "Options", key `key`, as a hand edit would.
    void store(const QString &key, const QString &value);
    // Waits for the saves under way and runs their failure reports; false if one is stuck.
    static bool waitForSaves();

private:
    QTemporaryDir m_dir;
    pulsewerk::SettingsStore m_store{m_dir.path()};
    pulsewerk::UseSettingsStore m_use{m_store};
};

// The program's private state of the main window, for checks.
struct frmMainTestAccess {
    static QString &pattern(frmMain &w) { return w.m_strPattern; }
    static std::int16_t &beat(frmMain &w) { return w.m_intBeat; }
    static std::int16_t &channel(frmMain &w) { return w.m_intMidiChannel; }
    static std::int16_t &strongNote(frmMain &w) { return w.m_intStrongNote; }
    static std::int16_t &strongVelocity(frmMain &w) { return w.m_intStrongVelocity; }
    static std::int16_t &weakNote(frmMain &w) { return w.m_intWeakNote; }
    static std::int16_t &weakVelocity(frmMain &w) { return w.m_intWeakVelocity; }
    static frmOptions *options(frmMain &w) { return w.m_frmOptions.get(); }
    static frmCustomMeter *customMeter(frmMain &w) { return w.m_frmCustomMeter.get(); }
};

// The program run on `clock` with a MIDI output recording into `log`, the process's
// ends counted instead of done; in use while it lives.
class RecordingContext {
public:
    RecordingContext(pulsewerk::RecordingMidiOut::Log &log, pulsewerk::Clock &clock = pulsewerk::systemClock());

    int ends = 0;
    mdlMain::Context context;

private:
    mdlMain::UsingContext m_inUse;
};

// A recording MIDI output and a fake clock in use, and a main window created and shown
// as the start-up does; everything is put back when it goes.
class BeatHarness {
public:
    explicit BeatHarness(std::uint32_t clockStart = 1000);
    ~BeatHarness();

    // Runs the real beat loop until the window is closed; returns how often the loop
    // ended the process (1 when all is well).
    int runLoop();
    // Opens the output as the loop does, for checks that call OnBeat and OnBeatOff directly.
    void openOutput();

    frmMain &window() { return *m_window; }
    FakeClock clock;
    pulsewerk::RecordingMidiOut::Log midi;
    RecordingContext program{midi, clock}; // its context may be changed before the loop runs
    // Every message sent, with its time in ms after the clock's start.
    std::vector<pulsewerk::RecordedMessage> messages() const;

private:
    std::uint32_t m_start;
    frmMain *m_window = nullptr;
};

// A packed note-on message, for comparisons.
std::uint32_t NoteOn(int channel0, int note, int velocity);
