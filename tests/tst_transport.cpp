// SPDX-License-Identifier: GPL-3.0-or-later
// The beat loop on a shared transport, stepped on a made-up clock: its beats on the
// transport's grid to the microsecond, the bar's first on the bar's first, its tempo
// taken within the slider's range, and its rolling followed.
#include "StderrCapture.h"
#include "engine/BeatTiming.h"
#include "engine/TransportFollow.h"

#include <QTest>

#include <cmath>

namespace {

class FakeTransport final : public pulsewerk::Transport {
public:
    pulsewerk::TransportReading read() override { return reading; }
    void start() override { ++starts; }
    void stop() override { ++stops; }
    void announce(int beatsPerBar, int bpm) override { announced = {beatsPerBar, bpm}; }
    pulsewerk::TransportReading reading;
    int starts = 0, stops = 0;
    QPair<int, int> announced;
};

class FakeWindow final : public pulsewerk::TransportWindow {
public:
    int tempo() const override { return bpm; }
    int multiplier() const override { return times; }
    int beatsPerBar() const override { return 4; }
    bool running() const override { return isRunning; }
    void setRunning(bool running) override { isRunning = running; }
    void setTempo(int tempo) override { bpm = tempo; }
    void setNextPosition(int index) override { position = index; }
    int bpm = 120, times = 1, position = -1;
    bool isRunning = true;
};

// A rolling transport at `bpm` whose beat 3 of its bar is heard at `beatUs`.
pulsewerk::TransportReading rolling(double bpm, double beatUs)
{
    pulsewerk::TransportReading reading;
    reading.valid = reading.rolling = reading.hasBeat = true;
    reading.bpm = bpm;
    reading.beatUs = beatUs;
    reading.usPerBeat = 60e6 / bpm;
    reading.beatInBar = 2;
    reading.beatsPerBar = 4;
    return reading;
}

} // namespace

class TestTransport : public QObject {
    Q_OBJECT

private slots:
    // Stepped a millisecond at a time for ten seconds, every beat is meant for its grid
    // point to the rounded microsecond, one click per beat or per part of it, none missed,
    // at the bar's place; the tempo shown is the transport's within 40 to 208, and one
    // that is not is said once. A grid drifting off the loop's whole milliseconds, a
    // multiplier ignored or a tempo slower than 40 would each break it.
    void beatsOnTheGrid_data();
    void beatsOnTheGrid();
    // The beat stops and starts with the transport (about to roll counts as rolling), and
    // Space asks the transport rather than the beat.
    void followsRolling();
};

void TestTransport::beatsOnTheGrid_data()
{
    QTest::addColumn<double>("bpm");
    QTest::addColumn<int>("multiplier");
    QTest::addColumn<int>("shown");
    QTest::addColumn<int>("said");
    QTest::newRow("97 bpm") << 97.0 << 1 << 97 << 0;
    QTest::newRow("97.4 bpm x2") << 97.4 << 2 << 97 << 0;
    QTest::newRow("131.7 bpm x4") << 131.7 << 4 << 132 << 0;
    QTest::newRow("250 bpm") << 250.0 << 1 << 208 << 1;
    QTest::newRow("30 bpm") << 30.0 << 1 << 40 << 1;
}

void TestTransport::beatsOnTheGrid()
{
    QFETCH(double, bpm);
    QFETCH(int, multiplier);
    FakeTransport transport;
    FakeWindow window;
    window.times = multiplier;
    const double gridUs = 1000123456.7; // beat 3 of a bar
    transport.reading = rolling(bpm, gridUs);
    pulsewerk::TransportFollower follower(transport);
    std::uint32_t now = 1000000; // ms: the grid's beat is 123 ms ahead
    pulsewerk::BeatTiming timing(now);
    StderrCapture stderrCapture;
    const double clickUs = 60e6 / bpm / multiplier;
    // The first click of the grid from now on, which may come before its beat.
    int click = static_cast<int>(std::ceil((now * 1000.0 - gridUs) / clickUs));
    const int first = click;
    for (; now < 1010000; ++now) {
        follower.pass(window, timing, now);
        if (!timing.pass(now, window.tempo(), multiplier).beat)
            continue;
        const std::optional<std::int64_t> us = follower.beat(window, timing.lastBeatTime());
        QVERIFY2(us, "every beat on the grid");
        QCOMPARE(*us, std::llround(gridUs + click * clickUs));
        const int beat = static_cast<int>(std::floor(double(click) / multiplier));
        QCOMPARE(window.position, (2 + beat + 4) % 4 * multiplier + (click - beat * multiplier));
        QVERIFY2(*us <= std::int64_t(now) * 1000, "sent no earlier than its time");
        ++click;
    }
    QCOMPARE(click - first, int(std::floor((1010000000.0 - gridUs) / clickUs)) - first + 1);
    QTEST(window.bpm, "shown");
    QTEST(int(stderrCapture.lines().size()), "said");
    QCOMPARE(transport.announced, qMakePair(4, window.bpm));
}

void TestTransport::followsRolling()
{
    FakeTransport transport;
    FakeWindow window;
    pulsewerk::TransportFollower follower(transport);
    pulsewerk::BeatTiming timing(0);
    transport.reading.valid = true; // standing
    follower.pass(window, timing, 10);
    QVERIFY(!window.isRunning);
    transport.reading.starting = true;
    follower.pass(window, timing, 20);
    QVERIFY(window.isRunning);
    transport.reading = rolling(120, 500000);
    follower.pass(window, timing, 30);
    QVERIFY(window.isRunning);
    transport.reading.rolling = false;
    follower.pass(window, timing, 40);
    QVERIFY(!window.isRunning);
    follower.startStop(true);
    follower.startStop(false);
    QCOMPARE(transport.starts, 1);
    QCOMPARE(transport.stops, 1);
}

QTEST_MAIN(TestTransport)
#include "tst_transport.moc"
