// SPDX-License-Identifier: GPL-3.0-or-later
// A place in an Ableton Link session: the session's tempo, timeline and start/stop
// state, read and changed on the main thread. Link's own threads never reach the program:
// what they report arrives as signals through the main thread's event queue.
#pragma once

#include <QObject>

#include <cstdint>
#include <memory>

namespace pulsewerk {

class LinkSession : public QObject {
    Q_OBJECT

public:
    // Joins the session on the local network at once, with start/stop sync on. `bpm` is
    // the session's tempo while no other peer is there.
    explicit LinkSession(double bpm, QObject *parent = nullptr);
    // Leaves the session.
    ~LinkSession() override;

    // The time line Link runs on: the system's monotonic clock in microseconds, the one
    // the program's millisecond clock counts.
    static std::int64_t nowUs();

    double tempo() const;
    // Makes `bpm` the session's tempo from now on.
    void setTempo(double bpm);
    int peers() const;

    bool isPlaying() const;
    // When the session last started or stopped, on the time line above.
    std::int64_t playingSince() const;
    // Starts or stops every peer with start/stop sync on. A start puts the first beat of
    // a bar of `quantum` beats now, or at the session's next bar when others are there.
    void setPlaying(bool playing, double quantum);

    // The session's beat at the time `us`, for bars of `quantum` beats (its phase within
    // the bar is the session's), and the time of such a beat.
    double beatAt(std::int64_t us, double quantum) const;
    std::int64_t timeAt(double beat, double quantum) const;

signals:
    // Each carries the session's state when it reaches the main thread.
    void tempoChanged(double bpm);
    void peersChanged(int peers);
    void playingChanged(bool playing);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace pulsewerk
