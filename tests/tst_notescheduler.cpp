// Placing notes in the audio stream by their send time: the audio buffers' length
// and their callbacks' lateness must not move a note.
#include "platform/NoteScheduler.h"

#include <QTest>

#include <vector>

namespace {

constexpr double kRate = 48000.0; // 48 frames a millisecond keep the arithmetic exact
constexpr int kFrames = 960;      // 20 ms buffers
constexpr std::int64_t kDelayUs = 26000;

struct Placed {
    std::int64_t frame; // in the whole stream
    std::uint32_t message;
};

// Runs the scheduler's callbacks at the given times, collecting where each message lands.
class Stream {
public:
    NoteScheduler scheduler{kRate, kDelayUs};
    std::vector<Placed> placed;

    void callback(std::int64_t nowUs)
    {
        scheduler.fill(
            nowUs, kFrames, [this](int from, int to) { m_rendered += to - from; },
            [this](std::uint32_t message) {
                placed.push_back({m_start + m_rendered, message});
            });
        QCOMPARE(m_rendered, kFrames);
        m_start += kFrames;
        m_rendered = 0;
    }

private:
    std::int64_t m_start = 0;
    int m_rendered = 0;
};

// The stream position of monotonic time `us` when the stream started at `originUs`.
std::int64_t frameAt(std::int64_t us, std::int64_t originUs) { return (us - originUs) * 48 / 1000; }

} // namespace

class TestNoteScheduler : public QObject {
    Q_OBJECT

private slots:
    // On-time callbacks: a note sounds exactly its delay after it was sent.
    void placesNotesByTheirSendTime();
    // A late callback must not make the notes of its buffer late.
    void lateCallbackDoesNotMoveNotes();
    // The fast callbacks that fill the server's buffer at start say nothing of the pace.
    void startUpFillIsIgnored();
    // After an under-run the stream plays later; the placement follows within a moment.
    void followsARestartedStream();
    // Messages keep their order, and one already due goes at once.
    void overdueMessagesGoFirstInOrder();
};

void TestNoteScheduler::placesNotesByTheirSendTime()
{
    Stream s;
    const std::int64_t origin = 1'000'000;
    for (int k = 0; k < 50; ++k) {
        const std::int64_t t = origin + k * 20000;
        if (k == 30) {
            s.scheduler.push(t + 3000, 1);  // sent 3 ms after this callback
            s.scheduler.push(t + 17250, 2); // and 17.25 ms after
        }
        s.callback(t);
    }
    QCOMPARE(s.placed.size(), std::size_t(2));
    QCOMPARE(s.placed[0].frame, frameAt(origin + 30 * 20000 + 3000 + kDelayUs, origin));
    QCOMPARE(s.placed[1].frame, frameAt(origin + 30 * 20000 + 17250 + kDelayUs, origin));
}

void TestNoteScheduler::lateCallbackDoesNotMoveNotes()
{
    Stream s;
    const std::int64_t origin = 5'000'000;
    for (int k = 0; k < 60; ++k) {
        const std::int64_t t = origin + k * 20000;
        if (k == 40)
            s.scheduler.push(t + 1000, 7);
        s.callback(k == 41 || k == 42 ? t + 4000 : t); // two callbacks 4 ms late
    }
    QCOMPARE(s.placed.size(), std::size_t(1));
    QCOMPARE(s.placed[0].frame, frameAt(origin + 40 * 20000 + 1000 + kDelayUs, origin));
}

void TestNoteScheduler::startUpFillIsIgnored()
{
    Stream s;
    const std::int64_t start = 2'000'000;
    // Five buffers taken at once, then the paced callbacks 100 ms later (the server plays
    // from 100 ms on, so frame 0 lies at start + 100 ms - 5 buffers = start).
    for (int k = 0; k < 5; ++k)
        s.callback(start + k * 100);
    const std::int64_t origin = start;
    for (int k = 5; k < 80; ++k) {
        const std::int64_t t = origin + k * 20000;
        if (k == 40)
            s.scheduler.push(t + 5000, 3);
        s.callback(t);
    }
    QCOMPARE(s.placed.size(), std::size_t(1));
    QCOMPARE(s.placed[0].frame, frameAt(origin + 40 * 20000 + 5000 + kDelayUs, origin));
}

void TestNoteScheduler::followsARestartedStream()
{
    Stream s;
    std::int64_t origin = 3'000'000;
    for (int k = 0; k < 100; ++k) {
        if (k == 60)
            origin += 30000; // an under-run: from here the stream plays 30 ms later
        const std::int64_t t = origin + k * 20000;
        if (k == 80)
            s.scheduler.push(t + 2000, 9);
        s.callback(t);
    }
    QCOMPARE(s.placed.size(), std::size_t(1));
    QCOMPARE(s.placed[0].frame, frameAt(origin + 80 * 20000 + 2000 + kDelayUs, origin));
}

void TestNoteScheduler::overdueMessagesGoFirstInOrder()
{
    Stream s;
    const std::int64_t origin = 1'000'000;
    for (int k = 0; k < 20; ++k)
        s.callback(origin + k * 20000);
    const std::int64_t now = origin + 20 * 20000;
    s.scheduler.push(now - 500000, 1); // half a second overdue
    s.scheduler.push(now - 400000, 2);
    s.scheduler.push(now + 1000, 3);
    s.callback(now);
    s.callback(now + 20000);
    QCOMPARE(s.placed.size(), std::size_t(3));
    QCOMPARE(s.placed[0].message, 1u);
    QCOMPARE(s.placed[0].frame, 20 * std::int64_t(kFrames)); // the start of the buffer at hand
    QCOMPARE(s.placed[1].message, 2u);
    QCOMPARE(s.placed[1].frame, 20 * std::int64_t(kFrames));
    QCOMPARE(s.placed[2].frame, frameAt(now + 1000 + kDelayUs, origin));
}

QTEST_GUILESS_MAIN(TestNoteScheduler)
#include "tst_notescheduler.moc"
