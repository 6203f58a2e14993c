// SPDX-License-Identifier: GPL-3.0-or-later
// Pulsewerk and a second peer (a plain Link on Link's own clock) in one session, in real
// time in the real beat loop: tempo, bar, start/stop and peers. Run by netns-run.sh.
#include "StderrCapture.h"
#include "TestSupport.h"

#include <ableton/Link.hpp>

#include <QElapsedTimer>
#include <QSettings>
#include <QTest>
#include <QTimer>

#include <cmath>
#include <functional>

namespace {

// A step acts, then waits at most `limitMs` for `done`; the script runs inside the beat loop.
struct Step {
    QString name;
    std::function<void()> act;
    std::function<bool(qint64 elapsedMs)> done;
    int limitMs;
};

} // namespace

class TestLink : public QObject {
    Q_OBJECT

private slots:
    // A tempo, start or stop that does not cross within 1 s either way; a clamped tempo
    // pushed back; a click off the session's beats by more than 1 ms, or a bar's first
    // beat off the session's bar; a wrong peer count; the menu's choice not kept.
    void sharesTheBeat();
};

void TestLink::sharesTheBeat()
{
    TempSettings settings;
    pulsewerk::RecordingMidiOut::Log log;
    RecordingContext program(log); // the system clock
    ableton::Link peer(120);
    peer.enableStartStopSync(true);
    peer.enable(true);
    mdlMain::g_blnQuit = false;
    frmMain w;
    mdlMain::g_frmMain = &w;
    w.show();
    w.setLinkOn(true); // as --link does

    auto session = [&peer] { return peer.captureAppSessionState(); };
    auto peerTempo = [&](double bpm) {
        auto state = session();
        state.setTempo(bpm, peer.clock().micros());
        peer.commitAppSessionState(state);
    };
    auto peerPlays = [&](bool playing) {
        auto state = session();
        state.setIsPlayingAndRequestBeatAtTime(playing, peer.clock().micros(), 0, 4);
        peer.commitAppSessionState(state);
    };
    // The note-ons since `from`: the worst distance from the session's beats, and each
    // strong one on the session's bar (of 4) and no other.
    double worstUs = 0;
    int clicks = 0, offBar = 0;
    std::size_t mark = 0;
    int firstNote = 0; // the first note-on checked since Space started the session
    auto checkClicks = [&](std::size_t from) {
        const auto state = session();
        const std::int64_t programUs = pulsewerk::monotonicUs(), toPeer = peer.clock().micros().count() - programUs;
        for (std::size_t i = from; i < log.messages.size(); ++i) {
            const auto ago = static_cast<std::int32_t>(std::uint32_t(programUs / 1000) - log.messages[i].atMs);
            const double beat =
                state.beatAtTime(std::chrono::microseconds((programUs / 1000 - ago) * 1000 + toPeer), 4);
            if (log.messages[i].data2() == 0)
                continue;
            worstUs = std::max(worstUs, std::abs(beat - std::round(beat)) * 60e6 / state.tempo());
            offBar += (log.messages[i].data1() == 61) != (std::llround(beat) % 4 == 0);
            firstNote = firstNote ? firstNote : log.messages[i].data1();
            ++clicks;
        }
        return true;
    };
    auto stored = [&] { return QSettings(settings.fileName(), QSettings::IniFormat).value("Sync/Link"); };

    const std::vector<Step> steps{
        {"peer counted", [] {},
         [&](qint64) {
             return w.actLink->text() == "Ableton Link: 1 peer" && w.accessibleDescription() == "Ableton Link: 1 peer";
         },
         5000},
        {"peer's tempo", [&] { peerTempo(97.3); }, [&](qint64) { return w.m_intBpm == 97 && w.Text1->text() == "97"; },
         1000},
        {"clicks on the session's beats at its 97.3",
         [&] {
             w.cboMeter->setCurrentIndex(1);
             emit w.cboMeter->activated(1);
             mark = log.messages.size();
         },
         [&](qint64 ms) { return ms > 4000 && std::abs(session().tempo() - 97.3) < 1e-3 && checkClicks(mark); }, 5000},
        {"typed tempo",
         [&] {
             w.Text1->selectAll();
             QTest::keyClicks(w.Text1, "133");
             QTest::keyClick(w.Text1, Qt::Key_Return);
         },
         [&](qint64) { return std::abs(session().tempo() - 133) < 1e-3; }, 1000},
        {"tempo beyond the slider", [&] { peerTempo(250); },
         [&](qint64 ms) { return ms > 1000 && w.m_intBpm == 208 && std::abs(session().tempo() - 250) < 1e-3; }, 2000},
        {"peer stops",
         [&] {
             peerTempo(120);
             peerPlays(false);
         },
         [&](qint64) { return !w.isRunning(); }, 1000},
        {"Space starts every peer",
         [&] {
             mark = log.messages.size();
             firstNote = 0;
             w.actStartStop->trigger();
         },
         [&](qint64) { return session().isPlaying() && w.isRunning(); }, 1000},
        {"a bar after the start", [] {}, [&](qint64 ms) { return ms > 4000 && checkClicks(mark); }, 5000},
        {"Space stops every peer", [&] { w.actStartStop->trigger(); }, [&](qint64) { return !session().isPlaying(); },
         1000},
        {"peer starts", [&] { peerPlays(true); }, [&](qint64) { return w.isRunning(); }, 1000},
        {"menu leaves", [&] { w.actLink->trigger(); },
         [&](qint64) {
             return !w.linkSession() && !peer.numPeers() && TempSettings::waitForSaves() && stored() == "0";
         },
         3000},
        {"menu joins", [&] { w.actLink->trigger(); },
         [&](qint64) { return w.linkSession() && peer.numPeers() && TempSettings::waitForSaves() && stored() == "1"; },
         5000},
    };
    QStringList failed;
    std::size_t next = 0;
    QElapsedTimer elapsed; // since the step's act; invalid before it
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (next == steps.size())
            return void(w.close());
        if (!elapsed.isValid())
            return steps[next].act(), elapsed.start();
        const bool done = steps[next].done(elapsed.elapsed());
        if (!done && elapsed.elapsed() > steps[next].limitMs)
            failed << QStringLiteral("%1: not within %2 ms").arg(steps[next].name).arg(steps[next].limitMs);
        if (done || elapsed.elapsed() > steps[next].limitMs)
            ++next, elapsed.invalidate();
    });
    poll.start(5);
    StderrCapture stderrLines;
    mdlMain::RunBeatLoop();
    const QStringList said = stderrLines.lines().filter("250");
    mdlMain::g_frmMain = nullptr;

    QVERIFY2(failed.isEmpty(), qPrintable(failed.join(u'\n')));
    QVERIFY2(clicks >= 8 && worstUs <= 1000, qPrintable(QStringLiteral("%1 us off").arg(worstUs)));
    QCOMPARE(offBar, 0);
    QCOMPARE(firstNote, 61);  // the bar's first beat
    QCOMPARE(said.size(), 1); // the clamped tempo said once
    qInfo("%d clicks, the worst %.0f us off the session's beats", clicks, worstUs);
}

QTEST_MAIN(TestLink)
#include "tst_link.moc"
