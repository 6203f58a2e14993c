// SPDX-License-Identifier: GPL-3.0-or-later
// Benchmark: a setlist of 10,000 songs read from its text (one line in a hundred bad),
// written to the settings file and read back from it. The median of five runs each.
// Prints one line per scenario.
#include "mainwindow/PracticeSettings.h"
#include "mainwindow/Setlist.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kSongs = 10000;

QString setlistText()
{
    const QStringList meters{"none", "4/4", "3/4", "2/4", "2.1.1011", "2111111111111111111"};
    QString text;
    for (int i = 0; i < kSongs; ++i) {
        if (i % 100 == 99)
            text += QStringLiteral("Bad %1; 300; 4/4; 1; 0\n").arg(i);
        else
            text += QStringLiteral("Song number %1; %2; %3; %4; %5\n")
                        .arg(i)
                        .arg(40 + i % 169)
                        .arg(meters.at(i % meters.size()))
                        .arg(1 << (i % 3))
                        .arg(i % 5);
    }
    return text;
}

// The median time of five runs of `run`, in milliseconds.
double medianMs(const std::function<void()> &run)
{
    std::vector<double> times;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder;
    pulsewerk::SettingsStore store(folder.path());
    const pulsewerk::UseSettingsStore use(store);
    const QString text = setlistText();

    pulsewerk::SetlistReading reading;
    const double parseMs = medianMs([&] { reading = pulsewerk::readSetlist(text); });
    std::printf("setlist_read lines=%d songs=%lld reported=%lld median_ms=%.1f\n", kSongs,
                static_cast<long long>(reading.songs.size()), static_cast<long long>(reading.problems.size()), parseMs);
    bool written = true;
    const double writeMs = medianMs([&] { written = pulsewerk::writeSongs(reading.songs) && written; });
    std::printf("setlist_store songs=%lld ok=%d median_ms=%.1f\n", static_cast<long long>(reading.songs.size()),
                written ? 1 : 0, writeMs);
    qsizetype stored = 0;
    const double loadMs = medianMs([&] { stored = pulsewerk::readSongs().size(); });
    std::printf("setlist_load songs=%lld median_ms=%.1f\n", static_cast<long long>(stored), loadMs);
    return stored == reading.songs.size() && written ? 0 : 1;
}
