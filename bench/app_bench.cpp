// SPDX-License-Identifier: GPL-3.0-or-later
// The figures a user feels, from the real program with the real synthesizer: start-up
// (process start to the window shown and the synthesizer ready), CPU while beating at
// 208 bpm x4, and the peak resident memory. Prints one line. Built as app_bench_baseline
// (PULSEWERK_BASELINE) it measures the same program on FluidSynth's own audio driver.
#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"
#include "mainwindow/frmMain.h"
#ifdef PULSEWERK_BASELINE
#include "FluidSynthDriverBackend.h"
#endif

#include <QApplication>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <ctime>
#include <sys/resource.h>
#include <unistd.h>

namespace {

double secondsOf(const timespec &ts) { return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9; }

// When this process started, on CLOCK_BOOTTIME (the clock of /proc/self/stat).
double processStartSeconds()
{
    QFile stat(QStringLiteral("/proc/self/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // Field 22 of the whole line is the start time; after "pid (comm) " it is the 20th.
    return fields.size() > 19 ? fields[19].toDouble() / static_cast<double>(sysconf(_SC_CLK_TCK)) : -1;
}

double nowSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return secondsOf(ts);
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const int seconds = qEnvironmentVariableIsSet("BENCH_SECONDS") ? qEnvironmentVariableIntValue("BENCH_SECONDS") : 20;
    QTemporaryDir settings; // the user's own settings stay out of it
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());

    QApplication app(argc, argv);
    // The program's own, but the loop returns at its end instead of ending the process.
    mdlMain::Context program = mdlMain::programContext({});
#ifdef PULSEWERK_BASELINE
    program.openMidiOut = [] { return pulsewerk::createSynthOut({}, pulsewerk::createFluidSynthDriverBackend); };
#endif
    program.endProcess = [] {};
    const mdlMain::UsingContext inUse(program);
    // Start-up as Main does it: the window created and shown, then the output opened.
    mdlMain::g_frmMain = new frmMain;
    mdlMain::g_frmMain->show();
    (void)QTest::qWaitForWindowExposed(mdlMain::g_frmMain);
    mdlMidi::OpenMidiOut();
    const double startupMs = (nowSeconds(CLOCK_BOOTTIME) - processStartSeconds()) * 1000;
    mdlMidi::CloseMidiOut();

    mdlMain::g_frmMain->Slider1->setValue(208);
    mdlMain::g_frmMain->imgDouble->setTag(QStringLiteral("4"));
    // The steady beat is measured: from 2 s in, when the output is open and every sound
    // the beat plays has been rendered once, for `seconds` more.
    double wallStart = 0;
    double cpuStart = 0;
    QTimer::singleShot(2000, mdlMain::g_frmMain, [&] {
        wallStart = nowSeconds(CLOCK_MONOTONIC);
        cpuStart = nowSeconds(CLOCK_PROCESS_CPUTIME_ID);
    });
    QTimer::singleShot(2000 + seconds * 1000, mdlMain::g_frmMain, [] { mdlMain::g_frmMain->close(); });
    mdlMain::RunBeatLoop(); // opens the synthesizer again and beats until the window closes
    const double cpuPct =
        100.0 * (nowSeconds(CLOCK_PROCESS_CPUTIME_ID) - cpuStart) / (nowSeconds(CLOCK_MONOTONIC) - wallStart);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("scenario=app_208x4 startup_ms=%.0f cpu_pct=%.2f rss_peak_kb=%ld\n", startupMs, cpuPct,
                usage.ru_maxrss);
    std::fflush(stdout);
    std::_Exit(0);
}
