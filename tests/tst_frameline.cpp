// SPDX-License-Identifier: GPL-3.0-or-later
// The frame line of the JACK back end, on made-up cycle times of a 48 kHz server with
// 256-frame cycles: steady, jittery, late, jumping and drifting; and which frames a
// stream in PipeWire's graph passes over.
#include "sound/FrameLine.h"

#include "platform/Clock.h"

#include <QTest>

#include <array>
#include <cmath>
#include <functional>

namespace {

constexpr double kRate = 48000;
constexpr int kPeriod = 256;
constexpr double kPeriodUs = kPeriod * 1e6 / kRate;
constexpr double kStartUs = 1e9;

// A line of the JACK back end, started on its first cycle as the back end starts it.
pulsewerk::FrameLine startedLine(double heardUs)
{
    pulsewerk::FrameLine line(pulsewerk::FrameLine::Policy::Cycles, kRate);
    line.start(kRate, std::llround(heardUs - kPeriodUs), std::llround(kPeriodUs));
    return line;
}

// Feeds `line` `cycles` cycles from frame `from`, each taken in one period before it is
// heard; `heardAt(frame)` says when the server has each one heard. Returns how many
// times the notes' frames moved after the line was first placed.
int feed(pulsewerk::FrameLine &line, std::int64_t from, int cycles, const std::function<double(std::int64_t)> &heardAt,
         double periodUs = kPeriodUs)
{
    int moves = 0;
    for (int i = 0; i < cycles; ++i) {
        const bool wasKnown = line.known();
        const std::int64_t frame = from + std::int64_t(i) * kPeriod;
        line.observe(std::llround(heardAt(frame) - periodUs), frame, heardAt(frame), periodUs, kPeriod);
        moves += wasKnown && line.moved();
    }
    return moves;
}

// A fixed pseudo-random jitter of up to ±`us`, the same on every run.
double jitter(std::int64_t frame, double us) { return us * std::sin(double(frame) * 0.7071); }

// The frames between beats 500 ms apart on the program's clock from `firstUs`, as
// notes are placed.
QList<std::int64_t> beatIntervals(const pulsewerk::FrameLine &line, std::int64_t firstUs, int beats)
{
    QList<std::int64_t> intervals;
    for (int k = 1; k < beats; ++k)
        intervals << line.frameOf(firstUs + k * 500000) - line.frameOf(firstUs + (k - 1) * 500000);
    return intervals;
}

} // namespace

class TestFrameLine : public QObject {
    Q_OBJECT

private slots:
    // Notes placed by a line that takes on the cycles' jitter, or by one placed by a
    // late first cycle, would not be exactly 24000 frames apart.
    void jitteryCyclesLeaveTheLineStill_data();
    void jitteryCyclesLeaveTheLineStill();
    // A single late cycle (the machine was busy) taken as a jump of the stream.
    void oneLateCycleIsIgnored();
    // A stream that jumped (the server skipped cycles) left on the old line.
    void jumpPlacesTheLineAnew();
    // A sound card whose clock runs apart from the system's, or a busy dummy driver's:
    // the notes' frames must never step (a beat a few frames short or long), and the
    // program's clock must run with the frames, the lamps staying with the sound.
    void driftingClockIsFollowed_data();
    void driftingClockIsFollowed();
    // A late call reads the next cycle's clock and is caught up within that cycle: passing
    // over its gap would put every later note a cycle early. A cycle the graph ran
    // without the stream must be passed over, or every later note comes a cycle late.
    void graphGapsPassedOverWhenReal();
};

void TestFrameLine::jitteryCyclesLeaveTheLineStill_data()
{
    QTest::addColumn<double>("jitterUs");
    QTest::addColumn<double>("firstLateUs");
    QTest::newRow("steady") << 0.0 << 0.0;
    QTest::newRow("jitter of 40 us") << 40.0 << 0.0;
    QTest::newRow("first cycle a period late") << 40.0 << kPeriodUs;
    QTest::newRow("second cycle 9 ms late") << 40.0 << 9000.0;
}

void TestFrameLine::jitteryCyclesLeaveTheLineStill()
{
    QFETCH(double, jitterUs);
    QFETCH(double, firstLateUs);
    const std::int64_t lateFrame = firstLateUs > kPeriodUs ? kPeriod : 0;
    const auto heardAt = [&](std::int64_t frame) {
        return kStartUs + double(frame) * 1e6 / kRate + jitter(frame, jitterUs) +
               (frame == lateFrame ? firstLateUs : 0);
    };
    pulsewerk::FrameLine line = startedLine(heardAt(0));
    feed(line, 0, 1, heardAt);
    QVERIFY(!line.known() && !line.ready());                  // the first cycle is let go by, nothing placed on it
    feed(line, kPeriod, 40, heardAt);                         // placed, and set right
    QCOMPARE(feed(line, 41 * kPeriod, 60 * 188, heardAt), 0); // then still for a minute
    QVERIFY(line.known());
    QVERIFY2(std::abs(line.timeOf(0) - kStartUs) <= jitterUs, qPrintable(QString::number(line.timeOf(0) - kStartUs)));
    const auto first = std::llround(pulsewerk::timeBase().at(std::llround(kStartUs)) + 123456);
    const QList<std::int64_t> intervals = beatIntervals(line, first, 120);
    QCOMPARE(intervals, QList<std::int64_t>(119, 24000));
}

void TestFrameLine::oneLateCycleIsIgnored()
{
    const auto heardAt = [](std::int64_t frame) {
        return kStartUs + double(frame) * 1e6 / kRate + (frame == 100 * kPeriod ? 15000 : 0);
    };
    pulsewerk::FrameLine line = startedLine(heardAt(0));
    QCOMPARE(feed(line, 0, 1000, heardAt), 0);
    QCOMPARE(line.timeOf(0), kStartUs);
}

void TestFrameLine::jumpPlacesTheLineAnew()
{
    const auto heardAt = [](std::int64_t frame) {
        return kStartUs + double(frame) * 1e6 / kRate + (frame >= 100 * kPeriod ? 20000 : 0);
    };
    pulsewerk::FrameLine line = startedLine(heardAt(0));
    feed(line, 0, 100, heardAt);
    QCOMPARE(line.timeOf(0), kStartUs);
    feed(line, 100 * kPeriod, 3, heardAt);
    QCOMPARE(line.timeOf(0), kStartUs); // not yet: it may be a few late cycles
    feed(line, 103 * kPeriod, 1, heardAt);
    QVERIFY(line.moved());
    QCOMPARE(line.timeOf(0), kStartUs + 20000);
}

void TestFrameLine::driftingClockIsFollowed_data()
{
    QTest::addColumn<double>("ppm");
    QTest::newRow("card 50 ppm fast") << 50.0;
    QTest::newRow("card 200 ppm slow") << -200.0;
    QTest::newRow("busy dummy driver 6000 ppm slow") << -6000.0;
}

void TestFrameLine::driftingClockIsFollowed()
{
    QFETCH(double, ppm);
    // A card fast by `ppm` plays each frame sooner than the nominal rate says; the
    // server's loop measures its periods so.
    const double usPerFrame = 1e6 / kRate / (1 + ppm * 1e-6);
    const auto heardAt = [usPerFrame](std::int64_t frame) {
        return kStartUs + double(frame) * usPerFrame + jitter(frame, 30);
    };
    pulsewerk::FrameLine line = startedLine(heardAt(0));
    feed(line, 0, 2, heardAt, kPeriod * usPerFrame);
    const std::int64_t lastBeatUs = std::llround(pulsewerk::timeBase().at(std::llround(kStartUs))) + 599'000'000;
    const std::int64_t lastBeatFrame = line.frameOf(lastBeatUs);
    double worstUs = 0;
    std::int64_t worstFrames = 0;
    int moves = 0;
    const int cycles = 600 * 188; // ten minutes
    for (int i = 0; i < cycles; i += 188) {
        moves += feed(line, std::int64_t(i) * kPeriod, 188, heardAt, kPeriod * usPerFrame);
        const std::int64_t frame = std::int64_t(i + 188) * kPeriod;
        worstUs = std::max(worstUs, std::abs(line.timeOf(frame) - heardAt(frame)));
        // The program's clock reads, when a frame is heard, the time it was meant for.
        const auto reading = std::llround(pulsewerk::timeBase().at(std::llround(heardAt(frame))));
        if (i > 0)
            worstFrames = std::max<std::int64_t>(worstFrames, std::llabs(line.frameOf(reading) - frame));
    }
    QCOMPARE(moves, 0);
    QCOMPARE(line.frameOf(lastBeatUs), lastBeatFrame); // a beat lands where it was always going to
    QVERIFY2(worstUs < 3000, qPrintable(QString::number(worstUs)));
    QVERIFY2(worstFrames <= 48, qPrintable(QString::number(worstFrames)));
}

void TestFrameLine::graphGapsPassedOverWhenReal()
{
    // Calls of the graph: the gap each shows, the clock's ticks, a rest just ended.
    const auto passed = [](std::initializer_list<std::array<std::int64_t, 3>> calls) {
        pulsewerk::GraphGap gaps;
        QList<std::int64_t> frames;
        for (const auto &call : calls)
            frames << gaps.passOver(call[0], std::uint64_t(call[1]), call[2] != 0);
        return frames;
    };
    QCOMPARE(passed({{0, 512, 0}, {1024, 2048, 0}, {512, 2048, 0}, {0, 2048, 0}, {0, 2560, 0}}),
             (QList<std::int64_t>{0, 0, 0, 0, 0})); // late twice, caught up in the cycle
    QCOMPARE(passed({{0, 512, 0}, {512, 1536, 0}, {512, 2048, 0}, {0, 2560, 0}}),
             (QList<std::int64_t>{0, 0, 512, 0})); // a cycle run without the stream
    QCOMPARE(passed({{0, 512, 0}, {29696, 30720, 1}}), (QList<std::int64_t>{0, 29696})); // back from a rest
}

QTEST_APPLESS_MAIN(TestFrameLine)
#include "tst_frameline.moc"
