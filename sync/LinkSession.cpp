// SPDX-License-Identifier: GPL-3.0-or-later
// The Link session behind a small interface. Link runs on the program's own clock
// (CLOCK_MONOTONIC) rather than its default CLOCK_MONOTONIC_RAW, so session times and
// the beat loop's clock readings are on one time line. Its callbacks come on a thread of
// Link's: each only queues a call to the main thread, which reads the state afresh there,
// so a late delivery never carries a stale value.
#include "sync/LinkSession.h"

#include "platform/Clock.h"

#include <ableton/Link.hpp>

#include <chrono>
#include <cmath>

namespace pulsewerk {
namespace {

struct ProgramClock {
    std::chrono::microseconds micros() const { return std::chrono::microseconds(LinkSession::nowUs()); }
};

using Link = ableton::BasicLink<ProgramClock>;

std::chrono::microseconds micros(std::int64_t us) { return std::chrono::microseconds(us); }

} // namespace

struct LinkSession::Private {
    explicit Private(double bpm) : link(bpm) {}
    Link link;
};

LinkSession::LinkSession(double bpm, QObject *parent) : QObject(parent), d(std::make_unique<Private>(bpm))
{
    d->link.setNumPeersCallback([this](std::size_t) {
        QMetaObject::invokeMethod(
            this, [this] { emit peersChanged(peers()); }, Qt::QueuedConnection);
    });
    d->link.setTempoCallback([this](double) {
        QMetaObject::invokeMethod(
            this, [this] { emit tempoChanged(tempo()); }, Qt::QueuedConnection);
    });
    d->link.setStartStopCallback([this](bool) {
        QMetaObject::invokeMethod(
            this, [this] { emit playingChanged(isPlaying()); }, Qt::QueuedConnection);
    });
    d->link.enableStartStopSync(true);
    d->link.enable(true);
}

// Link's threads end before the object the callbacks name goes; calls already queued
// to it are dropped with it.
LinkSession::~LinkSession() { d.reset(); }

// The program's clock in microseconds (it runs on a JACK server's frames while one
// plays): read from any thread, never going back.
std::int64_t LinkSession::nowUs() { return static_cast<std::int64_t>(std::floor(timeBase().at(monotonicUs()))); }

double LinkSession::tempo() const { return d->link.captureAppSessionState().tempo(); }

void LinkSession::setTempo(double bpm)
{
    auto state = d->link.captureAppSessionState();
    state.setTempo(bpm, micros(nowUs()));
    d->link.commitAppSessionState(state);
}

int LinkSession::peers() const { return static_cast<int>(d->link.numPeers()); }

bool LinkSession::isPlaying() const { return d->link.captureAppSessionState().isPlaying(); }

std::int64_t LinkSession::playingSince() const { return d->link.captureAppSessionState().timeForIsPlaying().count(); }

void LinkSession::setPlaying(bool playing, double quantum)
{
    auto state = d->link.captureAppSessionState();
    if (playing)
        state.setIsPlayingAndRequestBeatAtTime(true, micros(nowUs()), 0, quantum);
    else
        state.setIsPlaying(false, micros(nowUs()));
    d->link.commitAppSessionState(state);
}

double LinkSession::beatAt(std::int64_t us, double quantum) const
{
    return d->link.captureAppSessionState().beatAtTime(micros(us), quantum);
}

std::int64_t LinkSession::timeAt(double beat, double quantum) const
{
    return d->link.captureAppSessionState().timeAtBeat(beat, quantum).count();
}

} // namespace pulsewerk
