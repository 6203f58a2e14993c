// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up and the beat loop. The loop does not spin: between passes it waits for the
// next window event or for the next moment at which a pass would act, whichever
// comes first, so it costs next to nothing while keeping every timing rule.
#include "engine/mdlMain.h"

#include "engine/BeatTiming.h"
#include "engine/JackConnections.h"
#include "engine/TransportFollow.h"
#include "engine/mdlMidi.h"
#include "mainwindow/frmMain.h"
#include "platform/Clock.h"
#include "platform/Signals.h"
#include "settings/Settings.h"
#include "sync/LinkSession.h"

#include <QApplication>
#include <QEventLoop>

#include <algorithm>
#include <cmath>
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

// With Link on: the session beat a start waits for (the bar's first), until it sounds;
// and the click (a beat divided by the multiplier) set as the next beat.
std::optional<double> g_sessionStart;
std::optional<double> g_sessionClick;

// The program's clock counts the milliseconds of the time line Link runs on.
std::uint32_t readingAt(std::int64_t us) { return static_cast<std::uint32_t>((us + 500) / 1000); }

std::int64_t usAt(std::uint32_t reading)
{
    const std::int64_t nowUs = pulsewerk::LinkSession::nowUs();
    const auto ago = static_cast<std::int32_t>(static_cast<std::uint32_t>(nowUs / 1000) - reading);
    return (nowUs / 1000 - ago) * 1000;
}

// The session whose timeline the beats follow: Link's, while its tempo is the window's.
// A session beyond the slider's range beats at the slider's end, on a grid of its own.
pulsewerk::LinkSession *followedSession()
{
    pulsewerk::LinkSession *link = g_frmMain->linkSession();
    if (link && std::llround(link->tempo()) == g_frmMain->m_intBpm)
        return link;
    g_sessionStart.reset();
    g_sessionClick.reset();
    return nullptr;
}

// A start waits for the session's next bar; a peer's start heard a little late still
// has its first bar.
void startOnSessionBar(const pulsewerk::LinkSession &link)
{
    constexpr std::int64_t kLateStartUs = 50000;
    const double quantum = g_frmMain->barLength();
    const std::int64_t nowUs = pulsewerk::LinkSession::nowUs();
    const std::int64_t from = link.isPlaying() ? std::max(link.playingSince(), nowUs - kLateStartUs) : nowUs;
    g_sessionStart = std::ceil(link.beatAt(from, quantum) / quantum - 1e-6) * quantum;
}

// The next beat is the session's next click: the clicks' times come from the session's
// timeline, not from a sum of whole-millisecond periods, so they stay on its beats at any
// tempo. A click missed while the loop was held is dropped, as on the loop's own grid.
void followSession(pulsewerk::BeatTiming &timing, const pulsewerk::LinkSession &link)
{
    const double quantum = g_frmMain->barLength();
    const int multiplier = std::max(g_frmMain->imgDouble->Tag().toInt(), 1);
    if (g_sessionStart) {
        g_sessionClick = *g_sessionStart * multiplier;
    } else {
        const double last = std::round(link.beatAt(usAt(timing.lastBeatTime()), quantum) * multiplier);
        const double latest = std::floor(link.beatAt(pulsewerk::LinkSession::nowUs(), quantum) * multiplier);
        g_sessionClick = std::max(last + 1, latest);
    }
    timing.beatAt(readingAt(link.timeAt(*g_sessionClick / multiplier, quantum)));
}

// A pass later than the output leaves room for (held up by a modal dialog, a busy
// machine) sounds its beat when it comes: the output would place a later note late while
// its lamp showed on time, and drop a note meant for a moment long gone.
bool passTooLate(std::uint32_t gridPoint, std::uint32_t now)
{
    const std::uint32_t room = mdlMidi::g_hMidiOut ? mdlMidi::g_hMidiOut->lateRoomMs() : pulsewerk::kLateRoomMs;
    return now - gridPoint > room;
}

std::uint32_t beatTime(std::uint32_t gridPoint, std::uint32_t now)
{
    return passTooLate(gridPoint, now) ? now : gridPoint;
}
// The time of the beat last sounded late, until a pass releases it.
std::optional<std::uint32_t> g_lateBeat;
// The lamp change the loop waits for, when it comes before the beat's next action.
std::optional<std::uint32_t> g_lampWake;
// A beat action due this soon after a lamp change is taken at the lamp's wake-up. Its
// messages carry the time they are meant for, so they sound and light exactly as if sent
// then, and the loop wakes once instead of twice: at 208 bpm x4 a lamp changes some
// 10 ms before each release and 9 ms before each beat.
constexpr std::uint32_t kShareWakeMs = 15;
// The clock reading the last pass acted for, while the clock has not reached it: the
// loop's time does not go back.
std::optional<std::uint32_t> g_passedAhead;

// Releases and sounds the beat as the timing rules say for the clock reading `now`.
void beatPass(pulsewerk::BeatTiming &timing, std::uint32_t now, int bpm, int multiplier)
{
    const mdlMidi::PassMessages together;
    const pulsewerk::BeatPass pass = timing.pass(now, bpm, multiplier);
    // A beat belongs on its grid point, however late this pass came, and so does the
    // release sent with it: their messages carry that time to the output, and their
    // lamps change when it is heard.
    std::optional<mdlMidi::SoundingAt> meant;
    if (pass.beat) {
        WindowOnTransport window;
        meant.emplace(beatTime(timing.lastBeatTime(), now),
                      g_follower ? g_follower->beat(window, timing.lastBeatTime()) : std::nullopt);
    } else if (pass.beatOff && g_lateBeat) {
        // A beat sounded late is released a sounding time after it, not with it.
        const std::int32_t period = pulsewerk::BeatTiming::period(bpm, multiplier);
        const std::uint32_t release =
            *g_lateBeat + static_cast<std::uint32_t>(pulsewerk::BeatTiming::soundingTime(period));
        const std::uint32_t nextBeat = timing.lastBeatTime() + static_cast<std::uint32_t>(period);
        meant.emplace(static_cast<std::int32_t>(release - nextBeat) < 0 ? release : nextBeat);
    } else if (pass.beatOff) {
        meant.emplace(now); // the pass's reading, which may lie a moment ahead of the clock
    }
    if (pass.beatOff) {
        g_frmMain->OnBeatOff();
        g_lateBeat.reset();
    }
    if (pass.beat && g_sessionClick) {
        g_frmMain->placeNextBeat(std::llround(*g_sessionClick)); // the bar's place is the session's
        g_sessionStart.reset();
    }
    if (pass.beat) {
        g_frmMain->OnBeat();
        if (passTooLate(timing.lastBeatTime(), now))
            g_lateBeat = now;
    }
    mdlMidi::FollowBeat(pass.beat ? beatTime(timing.lastBeatTime(), now) : timing.lastBeatTime(), pass.beat, bpm,
                        multiplier);
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
    mdlMidi::startOpeningMidiOut(); // the sound gets ready while the window comes up
    g_frmMain = new frmMain;        // lives until the process ends
    g_frmMain->show();              // the first show runs the window's load step
    closeOnSignals();
    pulsewerk::applyStartOptions(*g_frmMain, options);
    pulsewerk::favourThisThread(); // threads started from here on share it
    RunBeatLoop();
}

void RunBeatLoop()
{
    mdlMidi::OpenMidiOut();
    pulsewerk::Clock &clock = *context().clock;
    pulsewerk::BeatTiming timing(clock.timeGetTime());
    g_gridMove.reset();
    g_lampWake.reset();
    g_passedAhead.reset();
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
        mdlMidi::FollowRunning(g_frmMain->isRunning());
        if (!g_frmMain->isRunning()) {
            g_passedAhead.reset();
            mdlMidi::StopClock();
            if (g_follower) // the transport may start rolling
                clock.waitUntil(clock.timeGetTime() + kStandingMs);
            else
                clock.waitForEvents(); // stopped: nothing to time
            continue;
        }
        pulsewerk::LinkSession *const link = followedSession();
        if (g_gridMove) {
            if (link) {
                if (g_gridMove->beatNow) // a move (a tap) leaves the session's grid as it is
                    startOnSessionBar(*link);
            } else if (g_gridMove->beatNow) {
                timing.beatAtNextPass();
            } else {
                timing.moveGrid(g_gridMove->origin);
            }
            g_gridMove.reset();
            g_lateBeat.reset();
            g_lampWake.reset();
            g_passedAhead.reset(); // a move is made on the clock's own reading
            mdlMidi::MoveClockGrid();
        }
        if (link)
            followSession(timing, *link);
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
    const std::uint32_t clockNow = context().clock->timeGetTime();
    std::uint32_t now = clockNow;
    if (g_passedAhead && static_cast<std::int32_t>(*g_passedAhead - clockNow) > 0)
        now = *g_passedAhead;
    else
        g_passedAhead.reset();
    const int bpm = g_frmMain->m_intBpm;
    const int multiplier = g_frmMain->imgDouble->Tag().toInt();
    const std::uint32_t action = timing.nextActionAt(now, bpm, multiplier);
    // Woken to show a lamp: the beat itself waits for its own time, unless that is near
    // enough to share the wake-up. A shared transport or session times its own beats.
    const bool lampDue = g_lampWake && static_cast<std::int32_t>(clockNow - *g_lampWake) >= 0;
    const bool share = lampDue && action - now <= kShareWakeMs && !g_follower && !g_frmMain->linkSession();
    if (share && action != now) {
        now = action;
        g_passedAhead = action;
    }
    if (!g_lampWake || action == now)
        beatPass(timing, now, bpm, multiplier);
    const std::uint32_t next = timing.nextActionAt(now, bpm, multiplier);
    const std::optional<std::uint32_t> lamps = g_frmMain->showDueLamps(clockNow);
    g_lampWake.reset();
    if (lamps && static_cast<std::int32_t>(*lamps - next) < 0)
        g_lampWake = lamps;
    return g_lampWake ? *g_lampWake : next;
}

} // namespace mdlMain
