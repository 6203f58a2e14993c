// Start-up and the beat loop. The loop does not spin: between passes it waits for the
// next window event or for the next moment at which a pass would act, whichever
// comes first, so it costs next to nothing while keeping every timing rule.
#include "engine/mdlMain.h"

#include "engine/BeatTiming.h"
#include "engine/mdlMidi.h"
#include "mainwindow/frmMain.h"
#include "platform/Clock.h"

#include <QApplication>
#include <QEventLoop>

#include <cstdio>
#include <cstdlib>
#include <optional>

namespace mdlMain {

frmMain *g_frmMain = nullptr;
bool g_blnQuit = false;

namespace {

std::function<void()> &endProcess()
{
    static std::function<void()> replacement;
    return replacement;
}

void EndProcess()
{
    if (endProcess()) {
        endProcess()();
        return;
    }
    // At once: no further window events run, nothing else is saved.
    std::fflush(nullptr);
    std::_Exit(0);
}

} // namespace

void SetEndProcess(std::function<void()> replacement) { endProcess() = std::move(replacement); }

void Main(const StartOptions &options)
{
    QApplication::setQuitOnLastWindowClosed(false);
    g_frmMain = new frmMain; // lives until the process ends
    g_frmMain->show();       // the first show runs the window's load step
    ApplyStartOptions(*g_frmMain, options);
    RunBeatLoop();
}

void RunBeatLoop()
{
    mdlMidi::OpenMidiOut();
    platform::Clock &clock = platform::clock();
    BeatTiming timing(clock.timeGetTime());
    g_frmMain->repaint();

    while (!g_blnQuit) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (g_blnQuit)
            break; // the window was unloaded in this pass: leave it alone
        clock.waitUntil(BeatLoopPass(timing));
    }

    mdlMidi::ReleaseSoundingNotes(); // no note left hanging in the synthesizer
    mdlMidi::CloseMidiOut();
    EndProcess();
}

std::uint32_t BeatLoopPass(BeatTiming &timing)
{
    const std::uint32_t now = platform::clock().timeGetTime();
    const int bpm = g_frmMain->m_intBpm;
    const int multiplier = g_frmMain->imgDouble->Tag().toInt();
    const BeatPass pass = timing.Pass(now, bpm, multiplier);
    // A beat belongs on its grid point, however late this pass came, and so does the
    // release sent with it: their messages carry that time to the output.
    std::optional<mdlMidi::SoundingAt> onTheGrid;
    if (pass.beat)
        onTheGrid.emplace(timing.LastBeatTime());
    if (pass.beatOff)
        g_frmMain->OnBeatOff();
    if (pass.beat)
        g_frmMain->OnBeat();
    return timing.NextActionAt(now, bpm, multiplier);
}

} // namespace mdlMain
