// SPDX-License-Identifier: GPL-3.0-or-later
// The beat loop benchmark: how late each beat leaves the real loop on the real clock and
// event loop, how even the beats are, and what the loop costs in CPU and memory, beside
// a copy of the loop that spins instead of waiting.
//
// Usage: beat_bench [--seconds N] [SCENARIO...]   (BENCH_SECONDS=N does the same as --seconds)
// Prints one line per scenario:
//   scenario=NAME beats=N late_p50_us=.. late_p99_us=.. late_max_us=.. interval_err_p99_us=.. cpu_pct=.. rss_kb=..
#include "engine/BeatTiming.h"
#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"
#include "mainwindow/frmMain.h"
#include "platform/Clock.h"
#include "sound/MidiOut.h"

#include "RecordingMidiOut.h"

#include <QApplication>
#include <QEventLoop>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

namespace {

// The scale of every time here: CLOCK_MONOTONIC, the same clock whose milliseconds
// the loop reads through pulsewerk::systemClock().
using pulsewerk::monotonicUs;

// User plus system time of the whole process.
std::int64_t cpuUs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto us = [](const timeval &tv) { return static_cast<std::int64_t>(tv.tv_sec) * 1000000 + tv.tv_usec; };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

// Peak resident set of the process so far, in KiB.
long peakRssKb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// What the benchmark's MIDI device saw in one scenario.
using Recording = pulsewerk::TimedMidiOut::Log;
using pulsewerk::TimedMidiOut;

// The loop as first designed: the engine's own pass, repeated at once, never waiting.
// It keeps a whole core busy; it is here as the baseline.
void spinningBeatLoop()
{
    mdlMidi::OpenMidiOut();
    pulsewerk::BeatTiming timing(mdlMain::context().clock->timeGetTime());
    mdlMain::g_frmMain->repaint();

    while (!mdlMain::g_blnQuit) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (mdlMain::g_blnQuit)
            break;
        mdlMain::beatLoopPass(timing);
    }

    mdlMidi::releaseSoundingNotes();
    mdlMidi::CloseMidiOut();
}

struct Scenario {
    const char *name;
    int bpm;
    const char *multiplier;
    bool spin;
};

const Scenario kScenarios[] = {
    {"loop_120x1", 120, "1", false},
    {"loop_208x4", 208, "4", false},
    {"spin_120x1", 120, "1", true},
    {"spin_208x4", 208, "4", true},
};

// Nearest-rank percentile of sorted values.
std::int64_t percentile(const std::vector<std::int64_t> &sorted, double p)
{
    const auto rank = static_cast<std::size_t>(std::ceil(p * static_cast<double>(sorted.size())));
    return sorted[std::min(std::max<std::size_t>(rank, 1), sorted.size()) - 1];
}

std::string figure(const std::vector<std::int64_t> &sorted, double p)
{
    return sorted.empty() ? std::string("na") : std::to_string(percentile(sorted, p));
}

bool runScenario(const Scenario &scenario, int seconds, Recording &recording)
{
    recording = Recording{};
    mdlMain::g_blnQuit = false;
    auto *window = new frmMain;
    mdlMain::g_frmMain = window;
    window->show(); // the first show loads the window, as at start-up
    window->Slider1->setValue(scenario.bpm);
    window->imgDouble->setTag(QString::fromLatin1(scenario.multiplier));
    const int bpm = window->m_intBpm;
    const int multiplier = window->imgDouble->Tag().toInt();
    if (bpm != scenario.bpm) {
        std::fprintf(stderr, "beat_bench: %s: the window took tempo %d, not %d\n", scenario.name, bpm, scenario.bpm);
        return false;
    }
    const std::int64_t periodMs = pulsewerk::BeatTiming::period(bpm, multiplier);
    recording.noteOnUs.reserve(static_cast<std::size_t>(seconds * 1000 / periodMs + 64));

    // Closing the window is the unload step: it sets g_blnQuit, and the loop ends.
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, window, [] { mdlMain::g_frmMain->close(); });
    const std::int64_t cpuStart = cpuUs();
    const std::int64_t wallStart = monotonicUs();
    if (scenario.spin)
        spinningBeatLoop();
    else
        mdlMain::RunBeatLoop();
    const std::int64_t wallUs = monotonicUs() - wallStart;
    const std::int64_t cpuUsed = cpuUs() - cpuStart;

    mdlMidi::CloseMidiOut(); // the loop closed it already; this only makes sure
    mdlMain::g_frmMain = nullptr;
    delete window;
    mdlMain::g_blnQuit = false;
    QCoreApplication::processEvents(QEventLoop::AllEvents);

    if (recording.opens != 1) {
        std::fprintf(stderr, "beat_bench: %s: the MIDI output was opened %d times, not once\n", scenario.name,
                     recording.opens);
        return false;
    }

    // Note-on k belongs to grid point startMs + k * period; the beat is due from the
    // instant the millisecond clock reads one more than that point. Beats the loop
    // dropped (more than a period late) move k on to the latest due grid point.
    std::vector<std::int64_t> lateness;
    std::vector<std::int64_t> intervalError;
    std::int64_t k = 0;
    std::int64_t dropped = 0;
    std::int64_t early = 0;
    const std::int64_t periodUs = periodMs * 1000;
    const std::int64_t firstDueUs = (recording.startMs + 1) * 1000;
    for (std::size_t i = 0; i < recording.noteOnUs.size(); ++i) {
        const std::int64_t t = recording.noteOnUs[i];
        std::int64_t next = k + 1;
        if (t >= firstDueUs) {
            const std::int64_t latestDue = (t - firstDueUs) / periodUs;
            if (latestDue > next) {
                dropped += latestDue - next;
                next = latestDue;
            }
        }
        k = next;
        const std::int64_t dueUs = firstDueUs + k * periodUs;
        if (t < dueUs)
            ++early;
        lateness.push_back(t - dueUs);
        if (i > 0)
            intervalError.push_back(std::llabs(t - recording.noteOnUs[i - 1] - periodUs));
    }
    if (dropped != 0 || early != 0)
        std::fprintf(stderr, "beat_bench: %s: %lld beats dropped, %lld note-ons before their beat was due\n",
                     scenario.name, static_cast<long long>(dropped), static_cast<long long>(early));
    std::sort(lateness.begin(), lateness.end());
    std::sort(intervalError.begin(), intervalError.end());

    const double cpuPct = wallUs > 0 ? 100.0 * static_cast<double>(cpuUsed) / static_cast<double>(wallUs) : 0.0;
    std::printf("scenario=%s beats=%zu late_p50_us=%s late_p99_us=%s late_max_us=%s interval_err_p99_us=%s "
                "cpu_pct=%.2f rss_kb=%ld\n",
                scenario.name, lateness.size(), figure(lateness, 0.50).c_str(), figure(lateness, 0.99).c_str(),
                figure(lateness, 1.0).c_str(), figure(intervalError, 0.99).c_str(), cpuPct, peakRssKb());
    std::fflush(stdout);
    return true;
}

int usage()
{
    std::fprintf(stderr, "usage: beat_bench [--seconds N] [SCENARIO...]\nscenarios:");
    for (const Scenario &scenario : kScenarios)
        std::fprintf(stderr, " %s", scenario.name);
    std::fprintf(stderr, "\nBENCH_SECONDS=N sets the length of each scenario as --seconds does (default 20).\n");
    return 2;
}

int parseSeconds(const char *text)
{
    char *end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return (end != text && *end == '\0' && value > 0 && value <= 86400) ? static_cast<int>(value) : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    int seconds = 20;
    if (const char *env = std::getenv("BENCH_SECONDS"); env && *env) {
        seconds = parseSeconds(env);
        if (seconds == 0)
            return usage();
    }
    std::vector<const Scenario *> chosen;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = parseSeconds(argv[++i]);
            if (seconds == 0)
                return usage();
            continue;
        }
        const auto found = std::find_if(std::begin(kScenarios), std::end(kScenarios),
                                        [&](const Scenario &s) { return std::strcmp(s.name, argv[i]) == 0; });
        if (found == std::end(kScenarios))
            return usage();
        chosen.push_back(found);
    }
    if (chosen.empty()) {
        for (const Scenario &scenario : kScenarios)
            chosen.push_back(&scenario);
    }

    // Headless unless the caller chose a platform; the window is still created and shown.
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // A private folder (mode 700) for the settings, so the user's own are neither read
    // nor written, and for Qt's runtime files when the session has no runtime folder.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        std::fprintf(stderr, "beat_bench: no temporary folder\n");
        return 1;
    }
    setenv("XDG_RUNTIME_DIR", scratch.path().toLocal8Bit().constData(), 0);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Pulsewerk"));
    QApplication::setOrganizationName(QStringLiteral("Pulsewerk"));
    QApplication::setQuitOnLastWindowClosed(false);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, scratch.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, scratch.path());

    Recording recording;
    // The loop returns at its end instead of ending the process.
    const mdlMain::Context program{&pulsewerk::systemClock(),
                                   [&recording] { return std::make_unique<TimedMidiOut>(recording); }, [] {}};
    const mdlMain::UsingContext inUse(program);

    int status = 0;
    for (const Scenario *scenario : chosen) {
        if (!runScenario(*scenario, seconds, recording))
            status = 1;
    }

    return status;
}
