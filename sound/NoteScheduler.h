// SPDX-License-Identifier: GPL-3.0-or-later
// Places MIDI messages on the exact frame of an audio stream at which their intended
// time is heard, from the audio server's own account of when each frame plays.
// No Qt and no FluidSynth here: the audio callback calls it, and tests step it.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace pulsewerk {

// When each frame of a stream is heard, from the audio server's reports (frame f heard
// at monotonic time t). Notes are placed by a straight line that takes on the audio
// clock's rate (no drift) but not the reports' jitter: its rate is fitted to the last
// half minute of reports, and its offset follows the median of the last ten seconds'
// gradually, a few microseconds at a time, so that it hardly moves between two notes.
// Only a young line (just started, or just restarted) is set straight to the reports.
// A report far off the line is a late or disturbed one, unless the reports after it
// agree with it for a while: then the stream has jumped (an under-run) and the line
// starts again from them, at the rate it had.
class StreamClock {
public:
    explicit StreamClock(double sampleRate);

    // The server's report: frame `frame` of the stream is heard at monotonic time `nowUs`.
    void observe(std::int64_t nowUs, double frame);
    bool known() const { return m_known; }
    // The frame heard at monotonic time `us`, and the monotonic time at which `frame` is heard.
    double frameAt(std::int64_t us) const { return m_line.frameAt(static_cast<double>(us)); }
    double timeOf(double frame) const { return m_line.timeOf(frame); }
    // Frames per second of the monotonic clock, as fitted.
    double rate() const { return 1e6 / m_line.usPerFrame; }

private:
    struct Report {
        std::int64_t us;
        double frame;
    };
    // Frame f is heard at originUs + (f - originFrame) * usPerFrame.
    struct Line {
        double originFrame;
        double originUs;
        double usPerFrame;
        double timeOf(double frame) const { return originUs + (frame - originFrame) * usPerFrame; }
        double frameAt(double us) const { return originFrame + (us - originUs) / usPerFrame; }
    };
    // The line through the reports: the fitted rate, through their recent median.
    Line fit();
    // How much later than the line says `report` is.
    double offLine(const Report &report) const { return static_cast<double>(report.us) - timeOf(report.frame); }

    double m_nominalUsPerFrame;
    double m_fittedUsPerFrame; // the last rate fitted (nominal until then), kept over a jump
    bool m_known = false;
    Line m_line;                   // the one notes are placed by
    std::int64_t m_movedUs = 0;    // when it was last moved
    std::deque<Report> m_reports;  // on the line, oldest first
    std::deque<Report> m_suspect;  // off the line, agreeing, since the last report on it
    std::vector<double> m_offsets; // fit()'s, kept to spare allocations
};

class NoteScheduler {
public:
    // `delayUs`: how long after its intended time a message is heard. It must cover the
    // stream's latency (from writing a frame to hearing it) and the lateness of a sender.
    NoteScheduler(double sampleRate, std::int64_t delayUs);

    // Any thread: `message` is meant to sound at `intendedUs` on the monotonic clock.
    void push(std::int64_t intendedUs, std::uint32_t message);

    // The audio thread. A new stream at `sampleRate`, with messages heard `delayUs`
    // after their intended time: frame 0 is the next one filled.
    void restart(double sampleRate, std::int64_t delayUs);
    // The audio thread: the server's report that frame `frame` is heard at `nowUs`.
    void observe(std::int64_t nowUs, double frame) { m_clock.observe(nowUs, frame); }
    // The audio thread, once per buffer of `frames` frames at monotonic time `nowUs`:
    // calls render(from, to) for the runs of frames between messages and apply(message)
    // on the exact frame of each message due in this buffer, in order. A message whose
    // frame has already been written goes at the start of the buffer; a note-on that
    // late by more than a moment (the stream was away) is dropped.
    void fill(std::int64_t nowUs, int frames, const std::function<void(int from, int to)> &render,
              const std::function<void(std::uint32_t message)> &apply);

    // Frames filled since the stream started.
    std::int64_t position() const { return m_frames; }

private:
    struct Pending {
        std::int64_t intendedUs;
        std::uint32_t message;
    };

    std::int64_t m_delayUs;
    std::mutex m_mutex;              // guards m_pending only
    std::deque<Pending> m_pending;   // in order of intended time, then of sending
    StreamClock m_clock;             // audio thread only
    std::int64_t m_frames = 0;       // audio thread only
    std::int64_t m_firstFillUs = -1; // audio thread only
};

} // namespace pulsewerk
