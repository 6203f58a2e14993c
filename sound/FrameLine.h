// SPDX-License-Identifier: GPL-3.0-or-later
// A stream's one time line, owned by its back end: when each frame is heard on the
// monotonic clock, learnt from the server in the way that suits it, and which frame a
// time on the program's clock falls on. While a JACK or PipeWire stream plays, the
// program's clock (timeBase()) runs on the server's frames, so a message meant for a time
// lands on a frame by plain arithmetic at the nominal rate: notes a whole number of
// frames apart stay exactly so, and the beat follows the server's clock. PulseAudio's
// line maps the program's clock onto its frames. No audio library here: back ends feed it,
// and tests feed it made-up servers.
#pragma once

#include "platform/Clock.h"
#include "sound/Rings.h"

#include <cmath>
#include <cstdint>

namespace pulsewerk {

class FrameLine {
public:
    enum class Policy {
        // PulseAudio's timing reports (PipeWire's too): a few a second, jittery, some
        // late, some in whole processing cycles. The line's rate is fitted to the last
        // half minute of them, its offset follows their median over ten seconds a few
        // microseconds at a time; a report far off is ignored unless the server said the
        // stream ran dry and the next ones agree with it (the stream jumped). Reports
        // late by the same few milliseconds in a row (a busy server) move nothing.
        Reports,
        // JACK's cycle times, every cycle, already smoothed by the server's own
        // delay-locked loop (PipeWire's graph times its cycles so too): taken as they
        // come, a cycle far off only when the next ones agree with it.
        Cycles,
        // No reports (FluidSynth's own driver): the nominal rate from the first render.
        Blind,
    };

    explicit FrameLine(Policy policy = Policy::Blind, double sampleRate = 48000);

    // The back end's audio thread, one call at a time; none allocates, locks or waits.
    // A new stream: its frame 0, rendered at monotonic time `nowUs`, is heard about
    // `latencyUs` later (until the server says otherwise). The program's clock goes on
    // from its reading, at the stream's pace.
    void start(double sampleRate, std::int64_t nowUs, std::int64_t latencyUs);
    // A timing report, taken in at `nowUs`: frame `frame` was heard at `heardUs`.
    void report(std::int64_t nowUs, std::int64_t heardUs, double frame);
    // Reports: the server said at `nowUs` that the stream ran dry; reports in the next
    // moments that agree with each other off the line move it.
    void skipped(std::int64_t nowUs) { m_skippedUs = nowUs; }
    // A cycle, at `nowUs`: its first frame `frame` is heard at `heardUs`, and the server
    // measures `periodFrames` frames as `periodUs` long.
    void observe(std::int64_t nowUs, std::int64_t frame, double heardUs, double periodUs, int periodFrames);
    // Reports: the stream plays again after a pause, frame `frame` heard about `latencyUs`
    // after `nowUs`; the line waits for the server's next report, at the rate fitted.
    void resume(std::int64_t nowUs, double frame, std::int64_t latencyUs);
    // The stream is gone: the program's clock runs on at the monotonic clock's pace.
    void stop(std::int64_t nowUs);

    // The frame on which a message meant for `programUs` on the program's clock is heard.
    std::int64_t frameOf(std::int64_t programUs) const;
    // The same before rounding, for a time between whole microseconds.
    double framePosition(double programUs) const
    {
        if (!steers())
            return m_line.frameAt(timeBase().monotonicAt(programUs));
        return m_anchorFrame + (programUs - m_anchorUs) / m_nominalUsPerFrame;
    }
    // The time on the program's clock that frame `frame` is heard at: frameOf's inverse.
    double programUsOf(double frame) const
    {
        if (!steers())
            return timeBase().at(std::llround(m_line.timeOf(frame)));
        return m_anchorUs + (frame - m_anchorFrame) * m_nominalUsPerFrame;
    }
    // The server has placed the line (a guess until then).
    bool known() const { return m_known; }
    // Notes may be placed on it: the server has placed it, or its policy needs no word
    // from the server (Blind), or none came in time and the guess stands until one does.
    // A note placed on the guess would stand a whole step off the ones placed after the
    // server's first word (on a busy machine JACK's first cycle is tens of milliseconds off).
    bool ready() const { return m_known || m_guessStands || m_policy == Policy::Blind; }
    void letGuessStand() { m_guessStands = true; }
    // The last call placed the line: first, or anew after the stream jumped.
    bool moved() const { return m_moved; }
    // When `frame` is heard, and the frame heard at `us`, on the monotonic clock.
    double timeOf(double frame) const { return m_line.timeOf(frame); }
    double frameAt(double us) const { return m_line.frameAt(us); }
    double sampleRate() const { return 1e6 / m_nominalUsPerFrame; }
    // Frames per second of the monotonic clock, as measured.
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
    static constexpr std::size_t kReports = 512;

    // Whether the program's clock runs on this line. The desktop server's reports only
    // place the frames: its clock is the system's, give or take a few ppm that the line's
    // rate takes up, and steering the beat by their jitter would move the clicks.
    bool steers() const { return m_policy != Policy::Reports; }
    // The Reports policy: takes `report` in, and the line from the reports.
    void takeReport(const Report &report);
    Line fit();
    double offLine(const Report &report) const { return static_cast<double>(report.us) - timeOf(report.frame); }
    // The program's clock towards the frames heard at `nowUs`, placing the notes' frames
    // anew when it is too far off to catch up.
    void steer(std::int64_t nowUs);

    Policy m_policy;
    double m_nominalUsPerFrame;
    bool m_started = false;
    bool m_known = false;
    bool m_guessStands = false;
    bool m_anchored = false; // the notes' frames were placed by the server's word
    bool m_firstSeen = false;
    bool m_moved = false;
    Line m_line;
    // The notes' frames: frame anchorFrame is heard at anchorUs on the program's clock.
    double m_anchorFrame = 0;
    double m_anchorUs = 0;

    double m_fittedUsPerFrame;                // Reports: the last rate fitted, kept over a jump
    std::int64_t m_movedUs = 0;               // Reports: when the line last moved
    std::int64_t m_skippedUs = -1;            // Reports: when the stream last ran dry
    FixedRing<Report, kReports> m_reports;    // Reports: on the line, oldest first
    FixedRing<Report, 64> m_suspect;          // Reports: off it, agreeing, since the last on it
    std::array<double, kReports> m_offsets{}; // Reports: fit()'s
    int m_offCycles = 0;                      // Cycles: far off the line, in a row
};

// A graph that calls the stream once a cycle (PipeWire's): which frames the stream passes
// over to stay on the graph's clock. A cycle the graph ran without the stream shows as a gap
// between the graph's frames and the stream's, and the graph's next cycle shows it still. A
// call that merely came late reads the clock of the cycle after its own and shows the same
// gap; the graph then calls again within that cycle, and the stream's frames play on
// unbroken. So a gap is passed over once the next cycle still shows it, or at once when the
// stream comes back from a rest.
class GraphGap {
public:
    // A call: `gap` frames between the graph's and the stream's count, read with the graph's
    // clock at `ticks`; `resumed` after a rest. The frames to pass over now.
    std::int64_t passOver(std::int64_t gap, std::uint64_t ticks, bool resumed);
    // A gap is waiting for the next cycle: the stream's frames are not yet on the graph's clock.
    bool pending() const { return m_pending; }
    void reset() { *this = GraphGap(); }

private:
    bool m_seen = false;
    bool m_pending = false;
    std::uint64_t m_ticks = 0;
};

} // namespace pulsewerk
