// SPDX-License-Identifier: GPL-3.0-or-later
// Placing notes in the audio stream: each on the frame at which its intended time is
// heard, by the server's reports of when frames play, whatever the callbacks' timing;
// the program's clock keeping with the frames heard.
#include "sound/NoteScheduler.h"

#include "platform/Clock.h"

#include <QTest>

#include <cmath>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr int kFrames = 960;               // 20 ms buffers
constexpr std::int64_t kDelayUs = 60000;   // intended time to heard
constexpr std::int64_t kLatencyUs = 40000; // a buffer is asked for this long before it plays
constexpr std::int64_t kBeatUs = 500000;

struct Placed {
    std::int64_t frame; // in the whole stream
    std::uint32_t message;
};

// A made-up audio server: frame f of the stream is heard at originUs + f * usPerFrame
// (its clock may run off the system's), each buffer is asked for kLatencyUs before it
// plays, and every callback comes with a report of the frame heard at that moment (or,
// as pipewire-pulse does, the first frame of the processing cycle of `coarseFrames`
// under way then, dated as if heard then).
class Server {
public:
    explicit Server(double ppm = 0, int coarse = 0) : usPerFrame(1e6 / kRate * (1 + ppm * 1e-6)), coarseFrames(coarse)
    {
        scheduler.restart(line, kDelayUs);
    }
    ~Server() { line.stop(nextCallbackUs()); }

    pulsewerk::FrameLine line{pulsewerk::FrameLine::Policy::Reports, kRate};
    pulsewerk::NoteScheduler scheduler{kDelayUs};
    double usPerFrame;
    int coarseFrames;
    double originUs = 1'000'000;
    std::vector<Placed> placed;
    // The frame heard when the program's clock read each message's time plus the delay,
    // taken as it was placed, for messages pushed through push().
    std::vector<std::int64_t> ideal;
    std::vector<std::int64_t> intended;

    void push(std::int64_t intendedUs, std::uint32_t message)
    {
        intended.push_back(intendedUs);
        QVERIFY(scheduler.push(intendedUs, message));
    }

    double frameAt(double us) const { return (us - originUs) / usPerFrame; }
    std::int64_t nextCallbackUs() const
    {
        return static_cast<std::int64_t>(originUs + static_cast<double>(m_written) * usPerFrame) - kLatencyUs;
    }
    // One buffer, `lateUs` after it was asked for, with a report `offUs` off the truth
    // (later than it) unless `report` is false.
    void callback(std::int64_t lateUs = 0, double offUs = 0, bool report = true)
    {
        const std::int64_t now = nextCallbackUs() + lateUs;
        if (m_written == 0)
            line.start(kRate, now, kLatencyUs);
        if (report && frameAt(static_cast<double>(now)) >= 0) {
            const double frame = frameAt(static_cast<double>(now) - offUs);
            const double cycleStart = coarseFrames ? std::floor(frame / coarseFrames) * coarseFrames : frame;
            line.report(now, now, cycleStart);
        }
        int rendered = 0;
        scheduler.fill(
            kFrames, [&rendered](int from, int to) { rendered += to - from; },
            [this, &rendered](std::uint32_t message) {
                if (ideal.size() < intended.size())
                    ideal.push_back(idealFrame(intended[ideal.size()]));
                placed.push_back({m_written + rendered, message});
            });
        QCOMPARE(rendered, kFrames);
        m_written += kFrames;
    }
    // Callbacks until the stream has been asked for everything heard before `us`.
    void runUntil(std::int64_t us)
    {
        while (nextCallbackUs() < us)
            callback();
    }
    // A new stream (the server came back): it plays from `us` + the latency on.
    void restart(std::int64_t us)
    {
        line.stop(us);
        scheduler.restart(line, kDelayUs);
        m_written = 0;
        originUs = static_cast<double>(us + kLatencyUs);
    }
    // The frame heard when the program's clock reads `intendedUs` plus the delay.
    std::int64_t idealFrame(std::int64_t intendedUs) const
    {
        return std::llround(frameAt(pulsewerk::timeBase().monotonicAt(static_cast<double>(intendedUs + kDelayUs))));
    }

private:
    std::int64_t m_written = 0;
};

} // namespace

class TestNoteScheduler : public QObject {
    Q_OBJECT

private slots:
    // Beats over a minute land on the frame heard when the program's clock reads their
    // time, to one frame, once the rate is known, with the server's clock on time or
    // running off by 200 ppm either way, with jittering reports, late callbacks, a
    // report far off and late reports agreeing in a row with no under-run said; with reports that all come somewhat
    // late (made a little after the server's cycle), or in whole cycles of 1024 frames (pipewire-pulse), within that
    // lateness; and every interval within two frames of 500 ms on the system's clock,
    // however the reports stray.
    void notesOnTheirFrame_data();
    void notesOnTheirFrame();
    // The stream jumps (an under-run) or starts anew (the server came back): the notes
    // follow within a moment, and after a jump at the rate already fitted.
    void followsAJumpAndARestart_data();
    void followsAJumpAndARestart();
    // Messages keep their order; one overdue goes at once; a note-on long overdue (the
    // server was away) is dropped, its release is not.
    void overdueMessages();
};

void TestNoteScheduler::notesOnTheirFrame_data()
{
    QTest::addColumn<double>("ppm");
    QTest::addColumn<int>("reportEvery"); // callbacks: 1, or 12 (a report every 240 ms)
    QTest::addColumn<int>("reportJitterUs");
    QTest::addColumn<int>("lateEvery");   // every so many callbacks one is 6 ms late
    QTest::addColumn<int>("wildReports"); // in a row, 5 ms late, 3 ms late... (or all 5 ms)
    QTest::addColumn<bool>("wildAgree");
    QTest::addColumn<int>("lateReportsUs"); // up to this late, and one in 20 three times that
    QTest::addColumn<int>("coarseFrames");  // reports in whole cycles of this many frames
    QTest::newRow("steady") << 0.0 << 1 << 0 << 0 << 0 << false << 0 << 0;
    QTest::newRow("fast by 200 ppm") << 200.0 << 1 << 0 << 0 << 0 << false << 0 << 0;
    QTest::newRow("slow by 200 ppm") << -200.0 << 1 << 0 << 0 << 0 << false << 0 << 0;
    QTest::newRow("jittering reports") << 0.0 << 1 << 300 << 0 << 0 << false << 0 << 0;
    QTest::newRow("late callbacks, drifting") << 150.0 << 1 << 0 << 7 << 0 << false << 0 << 0;
    QTest::newRow("a report 5 ms off") << 0.0 << 1 << 0 << 0 << 1 << false << 0 << 0;
    QTest::newRow("two reports far off in a row") << 0.0 << 12 << 0 << 0 << 2 << false << 0 << 0;
    QTest::newRow("reports 5 ms late, four in a row") << 0.0 << 12 << 0 << 0 << 4 << true << 0 << 0;
    QTest::newRow("late reports") << 0.0 << 12 << 0 << 0 << 0 << false << 300 << 0;
    QTest::newRow("late reports, drifting") << -200.0 << 12 << 0 << 0 << 0 << false << 300 << 0;
    QTest::newRow("coarse reports, some late") << 0.0 << 12 << 0 << 0 << 0 << false << 3000 << 1024;
    QTest::newRow("coarse reports, drifting") << 200.0 << 12 << 0 << 0 << 0 << false << 0 << 1024;
}

void TestNoteScheduler::notesOnTheirFrame()
{
    QFETCH(double, ppm);
    QFETCH(int, reportEvery);
    QFETCH(int, reportJitterUs);
    QFETCH(int, lateEvery);
    QFETCH(int, wildReports);
    QFETCH(bool, wildAgree);
    QFETCH(int, lateReportsUs);
    QFETCH(int, coarseFrames);
    Server server(ppm, coarseFrames);
    const std::int64_t start = 1'200'000;
    const std::vector<std::int64_t> &intended = server.intended;
    for (int k = 0; k < 120; ++k)
        server.push(start + k * kBeatUs, 0x00503C99u + static_cast<std::uint32_t>(k % 2) * 0x100u);
    const int wildFrom = 800 / reportEvery; // 16 s in
    for (int n = 0; server.nextCallbackUs() < start + 61'000'000; ++n) {
        const int r = n / reportEvery;
        // A deterministic jitter: a saw of reportJitterUs peak to peak.
        const double saw = (r * 7919 % 101) / 100.0;
        const double wild =
            r >= wildFrom && r < wildFrom + wildReports ? 5000 - (wildAgree ? 0 : 2000) * (r - wildFrom) : 0;
        const double off = reportJitterUs * (saw - 0.5) + wild + lateReportsUs * (r % 20 == 7 ? 3 : saw);
        server.callback(lateEvery && n % lateEvery == 0 ? 6000 : 0, off, n % reportEvery == 0);
    }
    QCOMPARE(server.placed.size(), intended.size());
    const auto lateFrames = static_cast<std::int64_t>(std::ceil(lateReportsUs * kRate / 1e6)) + coarseFrames;
    for (std::size_t k = 0; k < intended.size(); ++k) {
        // Until the rate is fitted (3 s) a clock 200 ppm off places a note up to 0.5 ms off.
        const std::int64_t tolerance = k < 8 ? 24 : 1;
        const std::int64_t error = server.placed[k].frame - server.ideal[k];
        QVERIFY2(error <= tolerance && error >= -tolerance - lateFrames,
                 qPrintable(QStringLiteral("beat %1 is %2 frames off").arg(k).arg(error)));
        if (k > 8) {
            const std::int64_t interval = server.placed[k].frame - server.placed[k - 1].frame;
            const std::int64_t ideal = server.ideal[k] - server.ideal[k - 1];
            QVERIFY2(
                std::llabs(interval - ideal) <= 2 + coarseFrames / 16,
                qPrintable(QStringLiteral("beat %1 comes %2 frames off its interval").arg(k).arg(interval - ideal)));
        }
    }
}

void TestNoteScheduler::followsAJumpAndARestart_data()
{
    QTest::addColumn<bool>("restart");
    QTest::addColumn<double>("ppm");
    QTest::newRow("under-run: 30 ms later from 8 s on") << false << 0.0;
    QTest::newRow("under-run on a clock 200 ppm fast") << false << 200.0;
    QTest::newRow("server back: a new stream at 8 s") << true << 0.0;
}

void TestNoteScheduler::followsAJumpAndARestart()
{
    QFETCH(bool, restart);
    QFETCH(double, ppm);
    Server server(ppm);
    const std::int64_t start = 1'200'000;
    const std::int64_t breakAt = start + 8'100'000;
    const std::vector<std::int64_t> &intended = server.intended;
    for (int k = 0; k < 40; ++k)
        server.push(start + k * kBeatUs, 0x00503C99u);
    server.runUntil(breakAt);
    if (restart) {
        server.restart(breakAt + 300'000);
    } else {
        server.originUs += 30000;
        server.line.skipped(breakAt);
    }
    server.runUntil(start + 21'000'000);
    QCOMPARE(server.placed.size(), intended.size());
    // Placed before the break on the old timeline, after it (from the next beat but one)
    // on the new one.
    for (std::size_t k = 18; k < intended.size(); ++k) {
        const std::int64_t error = server.placed[k].frame - server.ideal[k];
        QVERIFY2(std::llabs(error) <= 1, qPrintable(QStringLiteral("beat %1 is %2 frames off").arg(k).arg(error)));
    }
}

void TestNoteScheduler::overdueMessages()
{
    Server server;
    server.runUntil(3'000'000);
    const std::int64_t now = server.nextCallbackUs();
    const std::int64_t writtenUntil = server.scheduler.position();
    server.scheduler.push(now - 2'000'000, 0x00503C99u);       // a note-on from when the server was away
    server.scheduler.push(now - 1'900'000, 0x00003C99u);       // and its release
    server.scheduler.push(now - kDelayUs + 1000, 0x00503D99u); // its frame was written 39 ms ago
    server.scheduler.push(now - kDelayUs + 1000, 0x00003D99u); // and so was its release's
    server.scheduler.push(now + 5000, 0x00503C99u);
    server.callback();
    server.callback();
    server.callback();
    QCOMPARE(server.placed.size(), std::size_t(4));
    QCOMPARE(server.placed[0].message, 0x00003C99u);
    QCOMPARE(server.placed[0].frame, writtenUntil); // the start of the buffer at hand
    QCOMPARE(server.placed[1].message, 0x00503D99u);
    QCOMPARE(server.placed[1].frame, writtenUntil);
    QCOMPARE(server.placed[2].message, 0x00003D99u);
    QCOMPARE(server.placed[3].frame, server.idealFrame(now + 5000));
}

QTEST_GUILESS_MAIN(TestNoteScheduler)
#include "tst_notescheduler.moc"
