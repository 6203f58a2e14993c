// SPDX-License-Identifier: GPL-3.0-or-later
// The PulseAudio back end (PipeWire's PulseAudio service included): a playback stream
// of the program's own on a threaded main loop, at the server's own sample rate, with
// the server's timing reports passed on; it reconnects by itself when the server returns.
// A note sent is written over the frames the server has not yet taken, so that it is
// heard the server's own latency after it is sent, not the whole stream's.
#include "platform/Clock.h"
#include "platform/Say.h"
#include "sound/AudioBackend.h"
#include "sound/FrameLine.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstring>
#include <numeric>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace pulsewerk {
namespace {

// The stream's whole latency, buffer and server together: long enough for a busy
// machine; the lamps wait for the sound.
struct StreamSize {
    pa_usec_t latencyUs;
    // The server asks for frames when this much of the buffer is free: fewer, larger
    // writes cost less than many small ones.
    pa_usec_t requestUs;
    // PulseAudio gives the sink itself (latency - 2 x request) / 2. A note sent now goes
    // into the frames already written and not yet taken by the server (PulseAudio's seek
    // on write): it is heard the server's own latency later, not the whole stream's; until
    // the server reports that latency, it is taken to be this.
    constexpr std::int64_t sinkUs() const { return (static_cast<std::int64_t>(latencyUs) - 2 * requestUs) / 2; }
};
// PipeWire runs its graph's cycle at about the shortest request among its streams, and a
// note is heard a cycle or two after it is written: a short request keeps that short.
constexpr StreamSize kPipeWireStream{kDesktopStreamLatencyUs, 20000};
// PulseAudio itself: a request every 80 ms, for the same 10 ms in the sink. Each request
// wakes the stream's thread twice (the request, and the server done with the block), so
// fewer, larger ones cost less. A note goes into the frames already written either way,
// so it is heard no later; the longer buffer only leaves more room for a busy machine.
constexpr StreamSize kPulseStream{180000, 80000};
// How often the server is asked when it plays which frame. Its library can interpolate
// between reports, but its estimate saws by milliseconds; the scheduler fits its own
// line through the raw reports instead.
constexpr std::int64_t kTimingEveryUs = 250000;
// A report that took longer than this on its way says too vaguely when it was made.
constexpr pa_usec_t kVagueReportUs = 1000;
// A report taken in this long after it was made is stale.
constexpr std::int64_t kStaleReportUs = 100000;
// Between attempts to reach a server that is away.
constexpr pa_usec_t kRetryUs = 400000;
// How long opening waits for the first answer.
constexpr pa_usec_t kAnswerUs = 3000000;
// The audio thread's real-time priority, where it may have one: low, below the servers'.
constexpr int kAudioPriority = 5;
// Frames rendered in one go; a larger request is rendered in pieces.
constexpr int kChunkFrames = 4096;
// PipeWire takes a rewrite in on its main loop while its data thread reads the stream:
// it needs this much longer to get there (with 2 ms, notes written over came up to 3 ms
// late under three busy loops; with 8 ms none did). It reads a whole cycle at a time,
// and reports no latency of its own (0), so a rewrite must also leave that cycle alone:
// at 1024-frame cycles, with the first guess alone, a note written over now and then
// lost its first milliseconds.
constexpr std::int64_t kPipeWireRewriteUs = 8000;
// Notes wait for the server's first report on a new stream, to go on their own frames
// among those written by then; without one in this long, the line's guess stands.
constexpr std::int64_t kFirstReportUs = 100000;
// PipeWire's graph takes a stream's frames one processing cycle (its quantum) before it
// plays them, and says so nowhere. Its read index moves in whole cycles, so the cycle is
// the largest power of two that divides the read index at moments unrelated to the cycles
// (when a message comes, or at a spacing unrelated to any cycle's length; the reports
// asked for with the writes come on cycles of their own). The last this many such
// reports are asked, one a second once the cycle is known from this many on. A new
// stream asks at that spacing until then, for at most the time after it: the notes'
// delay waits for the cycle, which it must cover.
constexpr std::size_t kCycleReports = 16;
constexpr std::size_t kCycleKnownAfter = 8;
constexpr std::int64_t kCycleAskEveryUs = 1000000;
constexpr pa_usec_t kCycleAskFirstUs = 13000;
constexpr std::int64_t kCycleMeasureUs = 400000;
constexpr std::uint64_t kShortestCycle = 16, kLongestCycle = 16384;
// A reported latency longer than this is taken for a disturbed report.
constexpr std::int64_t kLongestReachUs = 500000;
// Frames this close to the server's reach are left alone: a rewrite must get there first.
constexpr std::int64_t kRewriteMarginUs = 2000;
// The written frames kept for rewriting: more than the stream holds at 192 kHz.
constexpr std::size_t kKeptFrames = 65536;
// After resting this long (the beat stands, every note has died away) the stream is
// paused (corked), so that neither this program nor the server wakes for silence; the
// next message or start lets it play on, and its notes wait for the server's first
// report, which comes within a millisecond.
constexpr std::int64_t kRestUs = 1000000;

class PulseAudioBackend final : public AudioBackend {
public:
    ~PulseAudioBackend() override { stop(); }

    bool start(FrameSource &source) override
    {
        m_source = &source;
        m_loop = pa_threaded_mainloop_new();
        if (!m_loop)
            return false;
        m_left.resize(kKeptFrames);
        m_right.resize(kKeptFrames);
        m_kept.assign(2 * kKeptFrames, 0.0f);
        m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        pa_threaded_mainloop_lock(m_loop);
        if (m_wakeFd >= 0) {
            m_wakeEvent = api()->io_new(
                api(), m_wakeFd, PA_IO_EVENT_INPUT,
                [](pa_mainloop_api *, pa_io_event *, int fd, pa_io_event_flags_t, void *data) {
                    std::uint64_t count = 0;
                    while (::read(fd, &count, sizeof count) > 0) {
                    }
                    static_cast<PulseAudioBackend *>(data)->woken();
                },
                this);
        }
        m_restEvent = api()->defer_new(
            api(),
            [](pa_mainloop_api *, pa_defer_event *, void *data) { static_cast<PulseAudioBackend *>(data)->rest(); },
            this);
        if (m_restEvent)
            api()->defer_enable(m_restEvent, 0);
        bool started = pa_threaded_mainloop_start(m_loop) == 0;
        if (started) {
            m_waiting = true;
            m_deadline = after(kAnswerUs, [](PulseAudioBackend *self) { self->answered(); });
            connect();
            while (m_waiting)
                pa_threaded_mainloop_wait(m_loop);
            started = m_playing;
            if (!started)
                m_silent = true; // the caller says so; the back end keeps trying
        }
        pa_threaded_mainloop_unlock(m_loop);
        return started;
    }

    void stop() override
    {
        if (!m_loop)
            return;
        pa_threaded_mainloop_lock(m_loop);
        m_stopping = true;
        freeTimer(m_retry);
        freeTimer(m_deadline);
        freeTimer(m_cycleTimer);
        if (m_wakeEvent)
            api()->io_free(m_wakeEvent);
        m_wakeEvent = nullptr;
        if (m_restEvent)
            api()->defer_free(m_restEvent);
        m_restEvent = nullptr;
        disconnect();
        m_line.stop(monotonicUs());
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_stop(m_loop);
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        if (m_wakeFd >= 0)
            close(m_wakeFd);
        m_wakeFd = -1;
    }

    // On PipeWire, the cycle its graph takes the frames ahead of playing them.
    std::int64_t heardLaterUs() const override { return m_cycleUs.load(); }

    bool measuring() const override
    {
        return m_pipeWire && m_cycleUs.load() == 0 && monotonicUs() - m_streamOpenedUs < kCycleMeasureUs;
    }

    void wake() override
    {
        if (m_wakeFd < 0)
            return;
        const std::uint64_t one = 1;
        if (::write(m_wakeFd, &one, sizeof one) < 0) {
            // Already signalled past counting: the audio thread wakes anyway.
        }
    }

private:
    using Action = void (*)(PulseAudioBackend *);
    struct Timer {
        PulseAudioBackend *self;
        Action action;
    };

    pa_mainloop_api *api() { return pa_threaded_mainloop_get_api(m_loop); }

    // Runs `action` on the loop's thread `us` from now.
    pa_time_event *after(pa_usec_t us, Action action)
    {
        timeval when{};
        pa_gettimeofday(&when);
        pa_timeval_add(&when, us);
        auto *timer = new Timer{this, action};
        return api()->time_new(
            api(), &when,
            [](pa_mainloop_api *, pa_time_event *, const timeval *, void *data) {
                auto *t = static_cast<Timer *>(data);
                t->action(t->self);
            },
            timer);
    }

    void freeTimer(pa_time_event *&event)
    {
        if (!event)
            return;
        api()->time_set_destroy(
            event, [](pa_mainloop_api *, pa_time_event *, void *data) { delete static_cast<Timer *>(data); });
        api()->time_free(event);
        event = nullptr;
    }

    // The first answer, or none in time: opening goes on.
    void answered()
    {
        if (!m_waiting)
            return;
        m_waiting = false;
        pa_threaded_mainloop_signal(m_loop, 0);
    }

    void connect()
    {
        pa_proplist *props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, "Pulsewerk");
        pa_proplist_sets(props, PA_PROP_APPLICATION_ICON_NAME, "pulsewerk");
        m_context = pa_context_new_with_proplist(api(), "Pulsewerk", props);
        pa_proplist_free(props);
        if (!m_context) {
            lost();
            return;
        }
        pa_context_set_state_callback(
            m_context, [](pa_context *c, void *data) { static_cast<PulseAudioBackend *>(data)->contextState(c); },
            this);
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
            lost();
    }

    void contextState(pa_context *context)
    {
        switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            pa_operation_unref(pa_context_get_server_info(
                context,
                [](pa_context *, const pa_server_info *info, void *data) {
                    const bool pipeWire = info && info->server_name && std::strstr(info->server_name, "PipeWire");
                    static_cast<PulseAudioBackend *>(data)->openStream(info ? info->sample_spec.rate : 0, pipeWire);
                },
                this));
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            lost();
            break;
        default:
            break;
        }
    }

    // The stream at the server's own rate, so that no resampler stands between the
    // frames and the ear.
    void openStream(std::uint32_t serverRate, bool pipeWire)
    {
        if (!m_context || m_stream)
            return;
        m_restingSinceUs = -1;
        m_corked = false;
        m_pipeWire = pipeWire;
        m_cycleUs = 0;
        m_cycleReports = 0;
        m_cycleAsked = false;
        m_cycleAskedUs = 0;
        m_streamOpenedUs = monotonicUs();
        m_rate = serverRate >= 8000 && serverRate <= 192000 ? serverRate : 48000;
        const pa_sample_spec format{PA_SAMPLE_FLOAT32NE, m_rate, 2};
        pa_channel_map map;
        pa_channel_map_init_stereo(&map);
        pa_proplist *props = pa_proplist_new();
        pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
        m_stream = pa_stream_new_with_proplist(m_context, "Pulsewerk", &format, &map, props);
        pa_proplist_free(props);
        if (!m_stream) {
            lost();
            return;
        }
        pa_stream_set_state_callback(
            m_stream, [](pa_stream *s, void *data) { static_cast<PulseAudioBackend *>(data)->streamState(s); }, this);
        pa_stream_set_latency_update_callback(
            m_stream, [](pa_stream *s, void *data) { static_cast<PulseAudioBackend *>(data)->timingReport(s); }, this);
        pa_stream_set_underflow_callback(
            m_stream,
            [](pa_stream *, void *data) {
                auto *self = static_cast<PulseAudioBackend *>(data);
                self->m_line.skipped(monotonicUs());
                self->m_keptCount = 0; // the server played on past them
            },
            this);
        pa_stream_set_write_callback(
            m_stream,
            [](pa_stream *s, size_t bytes, void *data) { static_cast<PulseAudioBackend *>(data)->write(s, bytes); },
            this);
        pa_buffer_attr attr{};
        attr.maxlength = static_cast<std::uint32_t>(-1);
        const StreamSize size = pipeWire ? kPipeWireStream : kPulseStream;
        m_latencyUs = static_cast<std::int64_t>(size.latencyUs);
        attr.tlength = static_cast<std::uint32_t>(pa_usec_to_bytes(size.latencyUs, &format));
        attr.prebuf = static_cast<std::uint32_t>(-1); // the whole buffer, before it plays
        attr.minreq = static_cast<std::uint32_t>(pa_usec_to_bytes(size.requestUs, &format));
        attr.fragsize = static_cast<std::uint32_t>(-1);
        m_timingAsked = false;
        m_wholeUsFrames = m_rate / std::gcd(m_rate, 1000000u);
        m_chunkFrames = kChunkFrames - kChunkFrames % m_wholeUsFrames;
        m_line = FrameLine(FrameLine::Policy::Reports, m_rate);
        m_lineStarted = false;
        m_written = 0;
        m_keptCount = 0;
        m_source->streamStarted(m_rate, m_latencyUs, m_line);
        m_reachUs = m_source->amendsUpTo(size.sinkUs() + (pipeWire ? kPipeWireRewriteUs : 0));
        if (pa_stream_connect_playback(m_stream, nullptr, &attr, PA_STREAM_ADJUST_LATENCY, nullptr, nullptr) < 0)
            lost();
    }

    void streamState(pa_stream *stream)
    {
        switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            m_playing = true;
            if (m_pipeWire && !m_cycleTimer)
                m_cycleTimer = after(kCycleAskFirstUs, [](PulseAudioBackend *self) { self->measureCycle(); });
            if (m_silent)
                say(m_everPlayed ? "the audio server is back, and so is the sound."
                                 : "an audio server answered; the sound is on.");
            m_silent = false;
            m_everPlayed = true;
            answered();
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED:
            lost();
            break;
        default:
            break;
        }
    }

    // The server's timing report: its read index less what the sink still holds is the
    // frame heard when the report was made. Its time stamp is the server's (the same
    // machine's clock), moved onto the monotonic clock: how long this program took to
    // take the report in is no part of it.
    void timingReport(pa_stream *stream)
    {
        m_timingAsked = false;
        if (m_cycleAsked)
            return; // the cycle's report, or an earlier one again
        const pa_timing_info *timing = pa_stream_get_timing_info(stream);
        if (m_lineStarted && !m_line.ready() && (!timing || !timing->playing) &&
            monotonicUs() - m_lineStartedUs < kFirstReportUs) {
            // Not playing yet (the server fills its buffer first, or takes up the stream
            // again): the held notes wait for the first report, so the next is asked at once.
            if (pa_operation *asked = pa_stream_update_timing_info(stream, nullptr, nullptr)) {
                pa_operation_unref(asked);
                m_timingAsked = true;
            }
            return;
        }
        if (!m_lineStarted || !timing || !timing->playing || timing->read_index_corrupt || timing->read_index < 0 ||
            timing->transport_usec > kVagueReportUs)
            return;
        const double frame = static_cast<double>(timing->read_index) / (2 * sizeof(float)) -
                             static_cast<double>(timing->sink_usec) * m_rate / 1e6;
        timeval wall{};
        const auto ageUs = static_cast<std::int64_t>(pa_timeval_load(pa_gettimeofday(&wall))) -
                           static_cast<std::int64_t>(pa_timeval_load(&timing->timestamp));
        if (ageUs < 0 || ageUs > kStaleReportUs)
            return; // or the wall clock was set in between
        const std::int64_t nowUs = monotonicUs();
        m_line.report(nowUs, nowUs - ageUs, frame);
        if (m_line.moved())
            amend(); // the notes held for the line's first place
        const auto sinkUs = static_cast<std::int64_t>(timing->sink_usec);
        if (sinkUs > m_reachUs && sinkUs <= kLongestReachUs) {
            m_reachUs = m_source->amendsUpTo(sinkUs);
        }
    }

    // A new PipeWire stream: reports asked at a steady spacing until the cycle is known.
    void measureCycle()
    {
        askCycle();
        if (m_stream && measuring()) {
            timeval when{};
            pa_gettimeofday(&when);
            pa_timeval_add(&when, kCycleAskFirstUs);
            api()->time_restart(m_cycleTimer, &when);
        } else {
            freeTimer(m_cycleTimer);
        }
    }

    // On PipeWire, a report at a moment of the message's (now), for the graph's cycle.
    void askCycle()
    {
        const std::int64_t nowUs = monotonicUs();
        // While measuring, a millisecond less than the timer's spacing, so that a timer a
        // little early is not turned away.
        const std::int64_t everyUs =
            m_cycleReports < kCycleKnownAfter ? static_cast<std::int64_t>(kCycleAskFirstUs) - 1000 : kCycleAskEveryUs;
        if (!m_pipeWire || !m_stream || !m_playing || m_corked || m_timingAsked || m_cycleAsked ||
            nowUs - m_cycleAskedUs < everyUs)
            return;
        pa_operation *asked = pa_stream_update_timing_info(
            m_stream, [](pa_stream *, int, void *data) { static_cast<PulseAudioBackend *>(data)->learnCycle(); }, this);
        if (!asked)
            return;
        pa_operation_unref(asked);
        m_cycleAsked = true;
        m_cycleAskedUs = nowUs;
    }

    // The largest power of two dividing the last few such read indices, as frames.
    void learnCycle()
    {
        m_cycleAsked = false;
        const pa_timing_info *timing = m_stream ? pa_stream_get_timing_info(m_stream) : nullptr;
        if (!timing || !timing->playing || timing->read_index_corrupt || timing->read_index <= 0)
            return;
        const auto frames = static_cast<std::uint64_t>(timing->read_index) / (2 * sizeof(float));
        m_readIndexBits[m_cycleReports++ % kCycleReports] = frames & (~frames + 1);
        const auto end = m_readIndexBits.begin() + static_cast<std::ptrdiff_t>(std::min(m_cycleReports, kCycleReports));
        const std::uint64_t cycle = *std::min_element(m_readIndexBits.begin(), end);
        const bool known = m_cycleReports >= kCycleKnownAfter && cycle >= kShortestCycle && cycle <= kLongestCycle;
        m_cycleUs = known ? std::llround(static_cast<double>(cycle) * 1e6 / m_rate) : 0;
        if (known)
            m_reachUs = m_source->amendsUpTo(std::max(m_reachUs, m_cycleUs.load() + kPipeWireRewriteUs));
    }

    // The server wants `bytes` more: the frames it will play next, rendered now.
    void write(pa_stream *stream, size_t bytes)
    {
        if (!m_scheduled) {
            // Ahead of the desktop's other work where the system allows it (a real-time
            // limit or root); otherwise the thread keeps its ordinary priority.
            sched_param param{};
            param.sched_priority = kAudioPriority;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
            m_scheduled = true;
        }
        const std::int64_t nowUs = monotonicUs();
        if (!m_lineStarted) {
            m_line.start(m_rate, nowUs, m_latencyUs);
            m_lineStarted = true;
            m_lineStartedUs = nowUs;
        } else if (!m_line.ready() && nowUs - m_lineStartedUs >= kFirstReportUs) {
            m_line.letGuessStand();
        }
        if (!m_timingAsked && nowUs - m_timingAskedUs >= kTimingEveryUs) {
            if (pa_operation *asked = pa_stream_update_timing_info(stream, nullptr, nullptr)) {
                pa_operation_unref(asked);
                m_timingAsked = true;
                m_timingAskedUs = nowUs;
            }
        }
        // A message sent just before this call and not yet woken for goes on its own
        // frame among those written, not at the start of the new ones.
        amend();
        // Whole runs of frames lasting whole microseconds only: a server that keeps its
        // time in microseconds (PulseAudio's null sink does) would otherwise drop the
        // fraction of every run and play the stream fast.
        const size_t frameBytes = 2 * sizeof(float);
        size_t frames = bytes / frameBytes;
        frames -= frames % m_wholeUsFrames;
        while (frames > 0) {
            void *data = nullptr;
            size_t chunk = std::min(frames, m_chunkFrames) * frameBytes;
            if (pa_stream_begin_write(stream, &data, &chunk) < 0 || !data)
                return;
            const size_t count = std::min(std::min(chunk / frameBytes, m_chunkFrames), frames);
            const int n = static_cast<int>(count);
            m_source->render(n, m_left.data(), m_right.data());
            auto *out = static_cast<float *>(data);
            for (size_t i = 0; i < count; ++i) {
                out[2 * i] = m_left[i];
                out[2 * i + 1] = m_right[i];
                keep(m_keptEnd + i, m_left[i], m_right[i]);
            }
            pa_stream_write(stream, data, count * frameBytes, nullptr, 0, PA_SEEK_RELATIVE);
            m_keptEnd = (m_keptEnd + count) % kKeptFrames;
            m_keptCount = std::min(m_keptCount + count, kKeptFrames);
            m_written += static_cast<std::int64_t>(count);
            frames -= count;
        }
        if (!m_source->resting()) {
            m_restingSinceUs = -1;
        } else if (m_restingSinceUs < 0) {
            m_restingSinceUs = nowUs;
        } else if (nowUs - m_restingSinceUs >= kRestUs && m_restEvent) {
            api()->defer_enable(m_restEvent, 1); // not from inside the stream's own callback
        }
    }

    // A message was sent, or the beat starts: a stream paused while resting plays on, its
    // frames heard later by the pause, and the line waits for the server's word on them.
    void woken()
    {
        if (m_corked && m_stream) {
            m_corked = false;
            m_restingSinceUs = -1;
            if (pa_operation *uncorked = pa_stream_cork(m_stream, 0, nullptr, nullptr))
                pa_operation_unref(uncorked);
            const std::int64_t nowUs = monotonicUs();
            m_line.resume(nowUs, static_cast<double>(m_written), m_latencyUs);
            m_lineStartedUs = nowUs;
            if (pa_operation *asked = pa_stream_update_timing_info(m_stream, nullptr, nullptr)) {
                pa_operation_unref(asked);
                m_timingAsked = true;
                m_timingAskedUs = nowUs;
            }
        }
        amend();
        askCycle();
    }

    // The stream has rested long enough: it pauses until woken().
    void rest()
    {
        api()->defer_enable(m_restEvent, 0);
        if (!m_stream || !m_playing || m_corked || !m_source->resting())
            return;
        if (pa_operation *corked = pa_stream_cork(m_stream, 1, nullptr, nullptr))
            pa_operation_unref(corked);
        m_corked = true;
    }

    // Frame `place` of the ring of frames kept (taken modulo its length).
    void keep(size_t place, float left, float right)
    {
        const size_t at = 2 * (place % kKeptFrames);
        m_kept[at] = left;
        m_kept[at + 1] = right;
    }

    // A message was sent: the notes due on frames written but not yet taken by the
    // server are added to them, and what changed is written over them.
    void amend()
    {
        if (!m_stream || !m_playing || !m_lineStarted || m_keptCount == 0)
            return;
        const double earliest = m_line.frameAt(static_cast<double>(monotonicUs() + m_reachUs + kRewriteMarginUs));
        std::int64_t open = m_written - static_cast<std::int64_t>(std::ceil(earliest));
        open = std::min<std::int64_t>(open, static_cast<std::int64_t>(m_keptCount));
        open -= open % m_wholeUsFrames;
        if (open <= 0)
            return;
        const auto frames = static_cast<size_t>(open);
        const size_t from = (m_keptEnd + kKeptFrames - frames) % kKeptFrames;
        for (size_t i = 0; i < frames; ++i) {
            const size_t at = 2 * ((from + i) % kKeptFrames);
            m_left[i] = m_kept[at];
            m_right[i] = m_kept[at + 1];
        }
        const int changed = m_source->amend(static_cast<int>(frames), m_left.data(), m_right.data());
        if (changed < 0 || static_cast<size_t>(changed) >= frames)
            return;
        // Whole microseconds again, from the end back.
        size_t length = frames - static_cast<size_t>(changed);
        length += (m_wholeUsFrames - length % m_wholeUsFrames) % m_wholeUsFrames;
        const size_t first = frames - length;
        const size_t frameBytes = 2 * sizeof(float);
        auto seek = -static_cast<std::int64_t>(length * frameBytes);
        for (size_t done = 0; done < length;) {
            void *data = nullptr;
            size_t chunk = (length - done) * frameBytes;
            if (pa_stream_begin_write(m_stream, &data, &chunk) < 0 || !data)
                return;
            const size_t count = std::min(chunk / frameBytes, length - done);
            auto *out = static_cast<float *>(data);
            for (size_t i = 0; i < count; ++i) {
                const size_t k = first + done + i;
                out[2 * i] = m_left[k];
                out[2 * i + 1] = m_right[k];
                keep(from + k, m_left[k], m_right[k]);
            }
            pa_stream_write(m_stream, data, count * frameBytes, nullptr, seek, PA_SEEK_RELATIVE);
            seek = 0;
            done += count;
        }
    }

    // The server is gone or never answered: silence, one line, and another try soon.
    void lost()
    {
        if (m_stopping)
            return;
        m_line.stop(monotonicUs());
        if (m_playing) {
            m_source->streamLost();
            say("the audio server went away; the sound is lost until it returns.");
            m_silent = true;
        }
        m_playing = false;
        answered();
        if (!m_retry) {
            m_retry = after(kRetryUs, [](PulseAudioBackend *self) {
                self->freeTimer(self->m_retry);
                self->disconnect();
                self->connect();
            });
        }
    }

    void disconnect()
    {
        if (m_stream) {
            pa_stream_set_state_callback(m_stream, nullptr, nullptr);
            pa_stream_set_write_callback(m_stream, nullptr, nullptr);
            pa_stream_set_latency_update_callback(m_stream, nullptr, nullptr);
            pa_stream_set_underflow_callback(m_stream, nullptr, nullptr);
            pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
            m_stream = nullptr;
        }
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
        m_playing = false;
    }

    FrameSource *m_source = nullptr;
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;
    pa_stream *m_stream = nullptr;
    pa_time_event *m_retry = nullptr;
    pa_time_event *m_deadline = nullptr;
    std::uint32_t m_rate = 48000;
    std::uint32_t m_wholeUsFrames = 1;   // frames lasting a whole number of microseconds
    size_t m_chunkFrames = kChunkFrames; // rendered in one go, a multiple of the above
    std::vector<float> m_left, m_right;
    // The last frames written, interleaved, in a ring: what a rewrite starts from.
    std::vector<float> m_kept;
    size_t m_keptEnd = 0;                               // where the next frame goes
    size_t m_keptCount = 0;                             // frames in it that the server may not have taken yet
    std::int64_t m_written = 0;                         // frames written since the stream started
    std::int64_t m_reachUs = 0;                         // the server's own latency, as the source counts on it
    std::int64_t m_latencyUs = kDesktopStreamLatencyUs; // the stream's, as asked for
    int m_wakeFd = -1;                                  // written by wake(), read on the mainloop's thread
    pa_io_event *m_wakeEvent = nullptr;
    pa_defer_event *m_restEvent = nullptr; // pauses the stream, once enabled
    std::int64_t m_restingSinceUs = -1;    // the source has rested since then; -1: it sounds
    bool m_pipeWire = false;
    // PipeWire's cycle: the lowest bit set in each of the last read indices, in a ring.
    std::array<std::uint64_t, kCycleReports> m_readIndexBits{};
    std::size_t m_cycleReports = 0; // asked for the cycle since the stream started
    bool m_cycleAsked = false;      // such a report is on its way
    std::int64_t m_cycleAskedUs = 0;
    std::atomic<std::int64_t> m_cycleUs{0};
    pa_time_event *m_cycleTimer = nullptr; // asks while the cycle is measured
    std::int64_t m_streamOpenedUs = 0;
    bool m_corked = false;                        // paused for resting, to play on at a wake
    FrameLine m_line{FrameLine::Policy::Reports}; // the mainloop's thread only
    bool m_lineStarted = false;                   // the stream's first frames are written
    std::int64_t m_lineStartedUs = 0;
    bool m_scheduled = false;   // the audio thread's priority was asked for
    bool m_timingAsked = false; // a timing report is on its way
    std::int64_t m_timingAskedUs = 0;
    bool m_waiting = false;    // opening waits for the first answer
    bool m_playing = false;    // a stream is up
    bool m_silent = false;     // the sound is away, and that has been said
    bool m_everPlayed = false; // the sound has been on since opening
    bool m_stopping = false;
};

} // namespace

std::unique_ptr<AudioBackend> createPulseAudioBackend() { return std::make_unique<PulseAudioBackend>(); }

DesktopServer desktopServer()
{
    // A connection of its own, on a loop of its own, given up after kProbeUs.
    constexpr std::int64_t kProbeUs = 1000000;
    pa_mainloop *loop = pa_mainloop_new();
    if (!loop)
        return DesktopServer::None;
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), "Pulsewerk");
    struct Probe {
        bool done = false;
        bool pipeWire = false;
    } probe;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const std::int64_t untilUs = monotonicUs() + kProbeUs;
        bool asked = false;
        while (!probe.done && monotonicUs() < untilUs) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            if (state == PA_CONTEXT_READY && !asked) {
                asked = true;
                pa_operation *info = pa_context_get_server_info(
                    context,
                    [](pa_context *, const pa_server_info *info, void *data) {
                        auto *probe = static_cast<Probe *>(data);
                        probe->pipeWire = info && info->server_name && std::strstr(info->server_name, "PipeWire");
                        probe->done = true;
                    },
                    &probe);
                if (!info)
                    break;
                pa_operation_unref(info);
            }
            pa_mainloop_prepare(loop, static_cast<int>(std::max<std::int64_t>(untilUs - monotonicUs(), 0)));
            pa_mainloop_poll(loop);
            pa_mainloop_dispatch(loop);
        }
        pa_context_disconnect(context);
    }
    if (context)
        pa_context_unref(context);
    pa_mainloop_free(loop);
    if (!probe.done)
        return DesktopServer::None;
    return probe.pipeWire ? DesktopServer::PipeWire : DesktopServer::PulseAudio;
}

} // namespace pulsewerk
