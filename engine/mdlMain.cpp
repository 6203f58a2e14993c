// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and the beat loop. The loop does not spin: between passes it waits for the
// next window event or for the next moment at which a pass would act, whichever
// comes first, so it costs next to nothing while keeping every timing rule.
#include "engine/mdlMain.h"

#include "engine/BeatTiming.h"
#include "engine/JackConnections.h"
#include "engine/mdlMidi.h"
#include "mainwindow/frmMain.h"
#include "platform/Clock.h"
#include "platform/Signals.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QEventLoop>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace mdlMain {

frmMain *g_frmMain = nullptr;
bool g_blnQuit = false;

namespace {

const Context *g_context = nullptr; // the innermost UsingContext's

// A grid move asked for by a window event, taken up by the loop's next pass.
struct GridMove {
    bool beatNow = false;
    std::uint32_t origin = 0;
};
std::optional<GridMove> g_gridMove;

void exitAtOnce()
{
    // At once: no further window events run, nothing else is saved.
    pulsewerk::endProcessNow(0);
}

// A signal to end does what the window's close does; a modal dialog open at the time is
// closed first, so that its wait ends and the beat loop sees the quit flag.
void closeForSignal()
{
    for (QWidget *modal = QApplication::activeModalWidget(); modal; modal = QApplication::activeModalWidget()) {
        modal->close();
        if (modal->isVisible())
            modal->hide();
    }
    g_frmMain->close();
}

// A save under way may finish before the end: after a signal, within the 200 ms the end
// may take; after a close, within a few seconds.
std::chrono::steady_clock::time_point SaveDeadline()
{
    using namespace std::chrono_literals;
    if (const auto signalled = pulsewerk::endSignalTime())
        return *signalled + 150ms;
    return std::chrono::steady_clock::now() + 5s;
}

} // namespace

void startBeatGrid() { g_gridMove = GridMove{true, 0}; }

void moveBeatGrid(std::uint32_t origin) { g_gridMove = GridMove{false, origin}; }

Context programContext(const pulsewerk::SoundConfig &sound)
{
    return {&pulsewerk::systemClock(),
            [sound] { return pulsewerk::createSynthOut(pulsewerk::withKeptConnections(sound)); }, exitAtOnce};
}

const Context &context()
{
    if (g_context)
        return *g_context;
    static const Context program = programContext({});
    return program;
}

UsingContext::UsingContext(const Context &context) : m_outer(g_context) { g_context = &context; }

UsingContext::~UsingContext() { g_context = m_outer; }

void closeOnSignals() { pulsewerk::endOnSignals(closeForSignal); }

void Main(const pulsewerk::StartOptions &options, const Context &context)
{
    const UsingContext inUse(context); // for the life of the process
    QApplication::setQuitOnLastWindowClosed(false);
    pulsewerk::useUserSettingsFolder();
    g_frmMain = new frmMain; // lives until the process ends
    g_frmMain->show();       // the first show runs the window's load step
    closeOnSignals();
    pulsewerk::applyStartOptions(*g_frmMain, options);
    RunBeatLoop();
}

void RunBeatLoop()
{
    mdlMidi::OpenMidiOut();
    pulsewerk::Clock &clock = *context().clock;
    pulsewerk::BeatTiming timing(clock.timeGetTime());
    g_gridMove.reset();
    g_frmMain->repaint();

    while (!g_blnQuit) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (g_blnQuit)
            break; // the window was unloaded in this pass: leave it alone
        if (!g_frmMain->isRunning()) {
            mdlMidi::StopClock();
            clock.waitForEvents(); // stopped: nothing to time
            continue;
        }
        if (g_gridMove) {
            if (g_gridMove->beatNow)
                timing.beatAtNextPass();
            else
                timing.moveGrid(g_gridMove->origin);
            g_gridMove.reset();
            mdlMidi::MoveClockGrid();
        }
        clock.waitUntil(beatLoopPass(timing));
    }

    mdlMidi::releaseSoundingNotes(); // no note left hanging in the synthesizer
    mdlMidi::CloseMidiOut();
    pulsewerk::endSettingsSaves(SaveDeadline());
    context().endProcess();
}

std::uint32_t beatLoopPass(pulsewerk::BeatTiming &timing)
{
    const std::uint32_t now = context().clock->timeGetTime();
    const int bpm = g_frmMain->m_intBpm;
    const int multiplier = g_frmMain->imgDouble->Tag().toInt();
    const pulsewerk::BeatPass pass = timing.pass(now, bpm, multiplier);
    // A beat belongs on its grid point, however late this pass came, and so does the
    // release sent with it: their messages carry that time to the output.
    std::optional<mdlMidi::SoundingAt> onTheGrid;
    if (pass.beat)
        onTheGrid.emplace(timing.lastBeatTime());
    if (pass.beatOff)
        g_frmMain->OnBeatOff();
    if (pass.beat)
        g_frmMain->OnBeat();
    mdlMidi::FollowBeat(timing.lastBeatTime(), pass.beat, bpm, multiplier);
    return timing.nextActionAt(now, bpm, multiplier);
}

} // namespace mdlMain
