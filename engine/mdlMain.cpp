// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and the beat loop. The loop does not spin: between passes it waits for the
// next window event or for the next moment at which a pass would act, whichever
// comes first, so it costs next to nothing while keeping every timing rule.
#include "engine/mdlMain.h"

#include "engine/BeatTiming.h"
#include "engine/TransportFollow.h"
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

// The beat loop's follower of a shared transport, while the loop runs with one.
pulsewerk::TransportFollower *g_follower = nullptr;
// While it follows, the loop looks at the transport at least this often; less often
// while the transport stands.
constexpr std::uint32_t kFollowMs = 10;
constexpr std::uint32_t kStandingMs = 20;

// The main window as the transport follower sees it.
class WindowOnTransport final : public pulsewerk::TransportWindow {
public:
    int tempo() const override { return g_frmMain->m_intBpm; }
    int multiplier() const override { return g_frmMain->imgDouble->Tag().toInt(); }
    int beatsPerBar() const override { return g_frmMain->patternLength(); }
    bool running() const override { return g_frmMain->isRunning(); }
    void setRunning(bool running) override { g_frmMain->followTransport(running); }
    void setTempo(int bpm) override { g_frmMain->setTempoFromTransport(bpm); }
    void setNextPosition(int index) override { g_frmMain->setNextPosition(index); }
};

// The earlier of `reading` and the follower's next look at the transport.
std::uint32_t nextLook(std::uint32_t now, std::uint32_t reading)
{
    if (!g_follower || static_cast<std::int32_t>(reading - now) <= static_cast<std::int32_t>(kFollowMs))
        return reading;
    return now + kFollowMs;
}

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

bool startStopTransport(bool start)
{
    if (!g_follower)
        return false;
    g_follower->startStop(start);
    return true;
}

Context programContext(const pulsewerk::SoundConfig &sound)
{
    return {&pulsewerk::systemClock(), [sound] { return pulsewerk::createSynthOut(sound); }, exitAtOnce};
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
    pulsewerk::Transport *transport = mdlMidi::g_hMidiOut ? mdlMidi::g_hMidiOut->transport() : nullptr;
    std::optional<pulsewerk::TransportFollower> follower;
    if (transport)
        g_follower = &follower.emplace(*transport);
    WindowOnTransport window;

    while (!g_blnQuit) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (g_blnQuit)
            break; // the window was unloaded in this pass: leave it alone
        if (g_follower)
            g_follower->pass(window, timing, clock.timeGetTime());
        if (!g_frmMain->isRunning()) {
            if (g_follower) // the transport may start rolling
                clock.waitUntil(clock.timeGetTime() + kStandingMs);
            else
                clock.waitForEvents(); // stopped: nothing to time
            continue;
        }
        if (g_gridMove) {
            if (g_gridMove->beatNow)
                timing.beatAtNextPass();
            else
                timing.moveGrid(g_gridMove->origin);
            g_gridMove.reset();
        }
        const std::uint32_t next = beatLoopPass(timing);
        clock.waitUntil(nextLook(clock.timeGetTime(), next));
    }
    g_follower = nullptr;

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
    if (pass.beat) {
        WindowOnTransport window;
        onTheGrid.emplace(timing.lastBeatTime(),
                          g_follower ? g_follower->beat(window, timing.lastBeatTime()) : std::nullopt);
    }
    if (pass.beatOff)
        g_frmMain->OnBeatOff();
    if (pass.beat)
        g_frmMain->OnBeat();
    return timing.nextActionAt(now, bpm, multiplier);
}

} // namespace mdlMain
