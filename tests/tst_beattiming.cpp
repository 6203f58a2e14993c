// SPDX-License-Identifier: GPL-3.0-or-later
// The beat loop's timing rules on a made-up clock: periods, sounding times, when a
// pass releases and when it beats, the anchored grid, and the wrap of the count.
#include "engine/BeatTiming.h"

#include <QTest>

#include <cstdint>

class TestBeatTiming : public QObject {
    Q_OBJECT

private slots:
    // A wrong division order or a missing cap would shift every period or release.
    void workedValues_data();
    void workedValues();
    // The first beat comes one full period after start, not at 500 but at 501.
    void beatOnlyWhenMoreThanAPeriodElapsed();
    // The release starts strictly after the sounding time and repeats until the beat.
    void releaseAfterSoundingTime();
    // A late pass lands the beat on the latest grid point: no drift, missed beats dropped.
    void lateBeatKeepsTheGrid();
    // A new multiplier takes effect at the next pass, measured from the old beat time.
    void multiplierSwitchMidBeat();
    // Elapsed time must stay right where the 32-bit count passes 2^31 and 2^32.
    void wrapOfTheCount_data();
    void wrapOfTheCount();
    // The loop sleeps exactly until the next moment a pass has something to do.
    void nextActionAt();
    // A beat that comes after its own sounding time must not sound until the next beat.
    void lateBeatIsReleasedAtOnce();
    // Out-of-range inputs must not divide by zero.
    void degenerateInputs();
    // A start that waits a period, or releases before its beat; a tap's grid that
    // beats at the tap or keeps the old phase; a beat set from outside off its time.
    void gridMoves();
};

void TestBeatTiming::workedValues_data()
{
    QTest::addColumn<int>("bpm");
    QTest::addColumn<int>("multiplier");
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("sounding");
    QTest::newRow("40 x1") << 40 << 1 << 1500 << 200;
    QTest::newRow("40 x2") << 40 << 2 << 750 << 200;
    QTest::newRow("40 x4") << 40 << 4 << 375 << 187;
    QTest::newRow("120 x1") << 120 << 1 << 500 << 200;
    QTest::newRow("120 x2") << 120 << 2 << 250 << 125;
    QTest::newRow("120 x4") << 120 << 4 << 125 << 62;
    QTest::newRow("150 x1") << 150 << 1 << 400 << 200;
    QTest::newRow("150 x2") << 150 << 2 << 200 << 100;
    QTest::newRow("150 x4") << 150 << 4 << 100 << 50;
    QTest::newRow("151 x1") << 151 << 1 << 397 << 198;
    QTest::newRow("208 x1") << 208 << 1 << 288 << 144;
    QTest::newRow("208 x2") << 208 << 2 << 144 << 72;
    QTest::newRow("208 x4") << 208 << 4 << 72 << 36;
    QTest::newRow("70 x4, truncated twice") << 70 << 4 << 214 << 107; // 60000/70 = 857, /4 = 214
}

void TestBeatTiming::workedValues()
{
    QFETCH(int, bpm);
    QFETCH(int, multiplier);
    QFETCH(int, period);
    QFETCH(int, sounding);
    QCOMPARE(pulsewerk::BeatTiming::period(bpm, multiplier), period);
    QCOMPARE(pulsewerk::BeatTiming::soundingTime(period), sounding);
}

void TestBeatTiming::beatOnlyWhenMoreThanAPeriodElapsed()
{
    pulsewerk::BeatTiming timing(10000);
    QVERIFY(!timing.pass(10000, 120, 1).beat);
    QVERIFY(!timing.pass(10500, 120, 1).beat);
    const pulsewerk::BeatPass pass = timing.pass(10501, 120, 1);
    QVERIFY(pass.beat);
    QVERIFY(pass.beatOff); // the release always comes before the beat in the same pass
    QCOMPARE(timing.lastBeatTime(), 10500u);
}

void TestBeatTiming::releaseAfterSoundingTime()
{
    pulsewerk::BeatTiming timing(0);
    QVERIFY(!timing.pass(200, 120, 1).beatOff);
    QVERIFY(timing.pass(201, 120, 1).beatOff);
    QVERIFY(timing.pass(350, 120, 1).beatOff);
    const pulsewerk::BeatPass atPeriod = timing.pass(500, 120, 1);
    QVERIFY(atPeriod.beatOff);
    QVERIFY(!atPeriod.beat);
}

void TestBeatTiming::lateBeatKeepsTheGrid()
{
    pulsewerk::BeatTiming timing(0);
    const pulsewerk::BeatPass pass = timing.pass(1234, 120, 1);
    QVERIFY(pass.beat);
    QCOMPARE(timing.lastBeatTime(), 1000u); // now - 234
    QVERIFY(!timing.pass(1500, 120, 1).beat);
    QVERIFY(timing.pass(1501, 120, 1).beat);
    QCOMPARE(timing.lastBeatTime(), 1500u);
}

void TestBeatTiming::multiplierSwitchMidBeat()
{
    pulsewerk::BeatTiming timing(0);
    QVERIFY(!timing.pass(300, 120, 1).beat);
    const pulsewerk::BeatPass pass = timing.pass(300, 120, 4);
    QVERIFY(pass.beat);
    QCOMPARE(timing.lastBeatTime(), 250u); // now - 300 mod 125
}

void TestBeatTiming::wrapOfTheCount_data()
{
    QTest::addColumn<quint32>("start");
    QTest::newRow("past 2^31") << quint32(0x7FFFFF00u);
    QTest::newRow("past 2^32") << quint32(0xFFFFFF00u);
}

void TestBeatTiming::wrapOfTheCount()
{
    QFETCH(quint32, start);
    pulsewerk::BeatTiming timing(start);
    QVERIFY(!timing.pass(start + 500u, 120, 1).beat);
    QVERIFY(timing.pass(start + 501u, 120, 1).beat);
    QCOMPARE(timing.lastBeatTime(), start + 500u);
    QVERIFY(!timing.pass(start + 700u, 120, 1).beatOff);
    QVERIFY(timing.pass(start + 701u, 120, 1).beatOff);
    QVERIFY(timing.pass(start + 1001u, 120, 1).beat);
    QCOMPARE(timing.lastBeatTime(), start + 1000u);
}

void TestBeatTiming::nextActionAt()
{
    pulsewerk::BeatTiming timing(5000);
    QCOMPARE(timing.nextActionAt(5000, 120, 1), 5201u); // end of the sounding time
    timing.pass(5201, 120, 1);
    QCOMPARE(timing.nextActionAt(5201, 120, 1), 5501u); // then the next beat
    QCOMPARE(timing.nextActionAt(5201, 120, 4), 5201u); // a shorter period already past: due at once
    timing.pass(5501, 120, 1);
    QCOMPARE(timing.nextActionAt(5501, 120, 1), 5701u);
    QCOMPARE(timing.nextActionAt(5501, 208, 4), 5537u); // a faster tempo shortens the wait at once
}

void TestBeatTiming::lateBeatIsReleasedAtOnce()
{
    pulsewerk::BeatTiming timing(0);
    timing.pass(300, 120, 1);                         // releases position 0
    QVERIFY(timing.pass(950, 120, 2).beat);           // x2: 450 ms elapsed, grid point 750
    QCOMPARE(timing.nextActionAt(950, 120, 2), 950u); // its 125 ms are over: the next pass releases
    QVERIFY(timing.pass(950, 120, 2).beatOff);
    QCOMPARE(timing.nextActionAt(950, 120, 2), 1001u);
}

void TestBeatTiming::degenerateInputs()
{
    QCOMPARE(pulsewerk::BeatTiming::period(0, 0), 60000);
    QCOMPARE(pulsewerk::BeatTiming::period(-5, 1), 60000);
    QVERIFY(pulsewerk::BeatTiming::period(32767, 4) >= 1);
    pulsewerk::BeatTiming timing(0);
    QVERIFY(timing.pass(60001, 0, 0).beat);
}

void TestBeatTiming::gridMoves()
{
    pulsewerk::BeatTiming timing(0);
    timing.pass(300, 120, 1);
    timing.beatAtNextPass();
    QCOMPARE(timing.nextActionAt(320, 120, 1), 320u);
    const pulsewerk::BeatPass start = timing.pass(350, 120, 1);
    QVERIFY(start.beat);
    QVERIFY(!start.beatOff); // nothing sounds before a start
    QCOMPARE(timing.lastBeatTime(), 350u);
    QCOMPARE(timing.nextActionAt(350, 120, 1), 551u);

    timing.moveGrid(700); // a tap at 700
    QVERIFY(!timing.pass(700, 150, 1).beat);
    QCOMPARE(timing.nextActionAt(700, 150, 1), 901u);
    QVERIFY(timing.pass(901, 150, 1).beatOff);
    QVERIFY(!timing.pass(1100, 150, 1).beat);
    QVERIFY(timing.pass(1101, 150, 1).beat); // one period after the tap
    QCOMPARE(timing.lastBeatTime(), 1100u);

    timing.beatAt(1498);                                // a sync session's beat, 2 ms before the loop's own
    QCOMPARE(timing.nextActionAt(1200, 150, 1), 1301u); // the release first
    QVERIFY(timing.pass(1301, 150, 1).beatOff);
    QCOMPARE(timing.nextActionAt(1301, 150, 1), 1498u);
    QVERIFY(!timing.pass(1497, 150, 1).beat);
    QVERIFY(timing.pass(1498, 150, 1).beat);
    QVERIFY(timing.pass(1901, 150, 1).beat); // then the loop's own grid from there
    QCOMPARE(timing.lastBeatTime(), 1898u);
}

QTEST_GUILESS_MAIN(TestBeatTiming)
#include "tst_beattiming.moc"
