// SPDX-License-Identifier: GPL-3.0-or-later
// Benchmark: how late the beat comes while OK saves the settings, for a small settings
// file, a 50 MB and a 100 MB one, and the same 50 MB save run on the beat loop's own
// thread for comparison. The real beat loop on the system clock at 208 beats per minute
// x4 (72 ms). Prints one line per scenario, with the process's peak memory during it.
#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"
#include "mainwindow/frmMain.h"
#include "platform/Clock.h"
#include "settings/Settings.h"
#include "sound/MidiOut.h"

#include "RecordingMidiOut.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

namespace {

constexpr int kPeriodMs = 72; // (60000 div 208) div 4

using pulsewerk::monotonicUs;

// The time of every note-on, and the clock reading the loop takes as its origin.
using Recording = pulsewerk::TimedMidiOut::Log;
using pulsewerk::TimedMidiOut;

// A settings file of about `bytes` bytes: another program's keys around the five values.
bool writeSettingsFile(const QString &fileName, qint64 bytes)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    file.write("[Options]\nChannel=10\nStrongNote=61\nStrongVel=80\nWeakNote=60\nWeakVel=50\n[Other]\n");
    QByteArray lines;
    for (int i = 0; lines.size() < 1 << 20; ++i)
        lines += "key" + QByteArray::number(i) + '=' + QByteArray(40, 'v') + '\n';
    for (qint64 written = 0; written + lines.size() <= bytes; written += lines.size())
        file.write("[Group" + QByteArray::number(written) + "]\n" + lines);
    return file.error() == QFileDevice::NoError;
}

struct Result {
    double saveMs = 0;
    double worstLateMs = 0;  // of the beats due while the save ran
    double worstOtherMs = 0; // of the beats before and after it
};

Result runScenario(pulsewerk::SettingsStore &store, bool onLoopThread, Recording &recording)
{
    recording = {};
    static std::atomic<std::int64_t> savedUs{0};
    savedUs = 0;
    store.onStep = [](pulsewerk::ReplaceStep step) {
        if (step == pulsewerk::ReplaceStep::Replaced)
            savedUs = monotonicUs();
    };
    const QString fileName = store.fileName(QStringLiteral("Pulsewerk"));

    mdlMain::g_blnQuit = false;
    auto *window = new frmMain;
    mdlMain::g_frmMain = window;
    window->show();
    window->Slider1->setValue(208);
    window->imgDouble->setTag(QStringLiteral("4"));

    std::int64_t saveStartUs = 0;
    // The save as OK starts it, a second into the beat.
    QTimer::singleShot(1000, window, [&] {
        saveStartUs = monotonicUs();
        const pulsewerk::IniValues values{{QStringLiteral("Channel"), 3},
                                          {QStringLiteral("StrongNote"), 70},
                                          {QStringLiteral("StrongVel"), 100},
                                          {QStringLiteral("WeakNote"), 65},
                                          {QStringLiteral("WeakVel"), 40}};
        if (onLoopThread)
            pulsewerk::storeIniValues(fileName, QStringLiteral("Options"), values, {}, store.onStep);
        else
            pulsewerk::WriteSettings(QStringLiteral("Pulsewerk"), QStringLiteral("Options"), values,
                                     [] { std::fprintf(stderr, "save_bench: the save failed\n"); });
    });
    // A second more of beats once the file is replaced.
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, window, [window] {
        if (savedUs && monotonicUs() - savedUs > 1000000)
            window->close();
    });
    watch.start(20);
    mdlMain::RunBeatLoop();
    watch.stop();
    mdlMain::g_frmMain = nullptr;
    delete window;

    Result result;
    result.saveMs = static_cast<double>(savedUs - saveStartUs) / 1000.0;
    // Beat n is due in the millisecond after origin + n periods.
    for (std::size_t n = 0; n < recording.noteOnUs.size(); ++n) {
        const std::int64_t dueUs =
            recording.startMs * 1000 + static_cast<std::int64_t>(n + 1) * kPeriodMs * 1000 + 1000;
        const double lateMs = static_cast<double>(recording.noteOnUs[n] - dueUs) / 1000.0;
        const bool during = dueUs >= saveStartUs && dueUs <= savedUs + kPeriodMs * 1000;
        double &worst = during ? result.worstLateMs : result.worstOtherMs;
        worst = std::max(worst, lateMs);
    }
    return result;
}

// The process's peak resident memory since the last reset, from /proc/self/status.
long peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Starts the peak over from the memory in use now.
void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir scratch; // the user's own settings stay out of it
    if (!scratch.isValid())
        return 1;
    QApplication app(argc, argv);
    pulsewerk::SettingsStore store(scratch.path());
    const pulsewerk::UseSettingsStore use(store);
    const QString fileName = store.fileName(QStringLiteral("Pulsewerk"));
    Recording recording;
    // The loop returns at its end instead of ending the process.
    const mdlMain::Context program{&pulsewerk::systemClock(),
                                   [&recording] { return std::make_unique<TimedMidiOut>(recording); }, [] {}};
    const mdlMain::UsingContext inUse(program);

    struct Scenario {
        const char *name;
        qint64 bytes;
        bool onLoopThread;
    };
    const Scenario scenarios[] = {{"save_small", 0, false},
                                  {"save_50mb", 50ll << 20, false},
                                  {"save_100mb", 100ll << 20, false},
                                  {"save_50mb_on_loop_thread", 50ll << 20, true}};
    int status = 0;
    for (const Scenario &s : scenarios) {
        QFile::remove(fileName);
        QDir().mkpath(QFileInfo(fileName).absolutePath());
        if (!writeSettingsFile(fileName, s.bytes)) {
            std::fprintf(stderr, "save_bench: cannot write %s\n", qPrintable(fileName));
            return 1;
        }
        const qint64 size = QFileInfo(fileName).size();
        resetPeakRss();
        const Result r = runScenario(store, s.onLoopThread, recording);
        if (pulsewerk::ReadSetting(QStringLiteral("Pulsewerk"), QStringLiteral("Options"), QStringLiteral("Channel"),
                                   0) != QStringLiteral("3"))
            status = 1;
        std::printf("scenario=%s file_mb=%.1f save_ms=%.0f worst_late_during_save_ms=%.2f worst_late_otherwise_ms=%.2f "
                    "beats=%zu rss_peak_kb=%ld\n",
                    s.name, static_cast<double>(size) / (1 << 20), r.saveMs, r.worstLateMs, r.worstOtherMs,
                    recording.noteOnUs.size(), peakRssKb());
        std::fflush(stdout);
    }
    return status;
}
