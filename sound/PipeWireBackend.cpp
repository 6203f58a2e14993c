// SPDX-License-Identifier: GPL-3.0-or-later
// The PipeWire back end: a playback stream of the program's own in PipeWire's graph,
// rendered on the graph's real-time thread at every cycle, as a JACK client is. The graph
// says at each cycle which of its frames the cycle plays and when the stream's next
// frame is heard, so the frame line follows the graph's clock cycle by cycle; a cycle
// the graph ran without this stream is passed over, so that the stream's frames stay
// the graph's. A short cycle is asked for, so that a note is heard soon after it is sent.
// The desktop's server is PipeWire when its PulseAudio service answers for it.
#include "platform/Clock.h"
#include "platform/Say.h"
#include "sound/AudioBackend.h"
#include "sound/FrameLine.h"

#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

namespace pulsewerk {
namespace {

constexpr char kName[] = "Pulsewerk";
// The cycle asked for: 512 frames at 48 kHz (10.7 ms). PipeWire runs its graph at the
// shortest cycle its streams ask for. A note sent now waits for the next cycle's render,
// so a key is heard about a cycle and the delay's room after it (27 ms here); 256-frame
// cycles took 5 ms off that and cost twice the wake-ups, here and in the server.
constexpr std::uint32_t kCycleFrames = 512;
constexpr std::uint32_t kDefaultRate = 48000;
constexpr char kNodeLatency[] = "512/48000"; // kCycleFrames at kDefaultRate
// Between attempts to reach a server that went away.
constexpr std::int64_t kRetryUs = 400000;
// How long opening waits for the first answer.
constexpr int kAnswerSeconds = 3;
// After resting this long (the beat stands, every note has died away) the stream leaves
// the graph's cycles, so that neither this program nor the server wakes for silence.
constexpr std::int64_t kRestUs = 1000000;
// The most frames rendered in one cycle.
constexpr std::uint32_t kMostFrames = 8192;
// A longer gap in the graph's frames than this starts the stream's frames anew.
constexpr double kMaxGapSeconds = 600;
// Below this span of the graph's clock its rate is taken as nominal.
constexpr double kRateSpanSeconds = 0.1;
// A beat may be sent this much less than the delay margin late and still be heard on
// its frame: the rest covers the clock's whole milliseconds and the render's own timing.
constexpr std::int64_t kLateSendSlackUs = 3000;

std::int64_t nsToUs(std::int64_t ns) { return ns / 1000; }

class PipeWireBackend final : public AudioBackend {
public:
    ~PipeWireBackend() override { stop(); }

    bool start(FrameSource &source) override
    {
        static std::once_flag initialised;
        std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
        m_source = &source;
        m_left.assign(kMostFrames, 0.0f);
        m_right.assign(kMostFrames, 0.0f);
        m_loop = pw_thread_loop_new("pulsewerk-pw", nullptr);
        if (!m_loop)
            return false;
        pw_loop *loop = pw_thread_loop_get_loop(m_loop);
        m_context = pw_context_new(loop, pw_properties_new(PW_KEY_CONFIG_NAME, "client-rt.conf", nullptr), 0);
        if (!m_context)
            return false;
        m_retry = pw_loop_add_timer(
            loop, [](void *data, std::uint64_t) { static_cast<PipeWireBackend *>(data)->reconnect(); }, this);
        m_event = pw_loop_add_event(
            loop, [](void *data, std::uint64_t) { static_cast<PipeWireBackend *>(data)->asked(); }, this);
        pw_thread_loop_lock(m_loop);
        if (pw_thread_loop_start(m_loop) < 0) {
            pw_thread_loop_unlock(m_loop);
            return false;
        }
        m_waiting = true;
        connect();
        while (m_waiting) {
            if (pw_thread_loop_timed_wait(m_loop, kAnswerSeconds) != 0)
                break; // no answer in time: the retries go on
        }
        m_waiting = false;
        const bool started = m_connected;
        pw_thread_loop_unlock(m_loop);
        return started;
    }

    void stop() override
    {
        if (!m_loop)
            return;
        pw_thread_loop_lock(m_loop);
        m_stopping = true;
        disconnect();
        pw_thread_loop_unlock(m_loop);
        pw_thread_loop_stop(m_loop);
        pw_loop *loop = pw_thread_loop_get_loop(m_loop);
        for (spa_source *source : {m_retry, m_event}) {
            if (source)
                pw_loop_destroy_source(loop, source);
        }
        m_retry = m_event = nullptr;
        if (m_context)
            pw_context_destroy(m_context);
        m_context = nullptr;
        pw_thread_loop_destroy(m_loop);
        m_loop = nullptr;
    }

    std::uint32_t lateRoomMs() const override
    {
        return static_cast<std::uint32_t>((kDelayMarginUs - kLateSendSlackUs) / 1000);
    }

    // Any thread: a message was sent. A stream out of the graph's cycles joins them again.
    void wake() override
    {
        m_wakes.fetch_add(1);
        if ((m_inactive.load() || m_restAsked.load()) && m_event)
            pw_loop_signal_event(pw_thread_loop_get_loop(m_loop), m_event);
    }

private:
    // The loop's thread, as are all calls below but process().
    void connect()
    {
        m_core = pw_context_connect(m_context, nullptr, 0);
        if (!m_core) {
            lost();
            return;
        }
        static const pw_core_events coreEvents = [] {
            pw_core_events events{};
            events.version = PW_VERSION_CORE_EVENTS;
            events.error = [](void *data, std::uint32_t id, int, int res, const char *) {
                if (id == PW_ID_CORE && res == -EPIPE)
                    static_cast<PipeWireBackend *>(data)->lost();
            };
            return events;
        }();
        pw_core_add_listener(m_core, &m_coreListener, &coreEvents, this);
        openStream();
    }

    void openStream()
    {
        pw_properties *props =
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
                              PW_KEY_APP_NAME, kName, PW_KEY_APP_ICON_NAME, "pulsewerk", PW_KEY_NODE_NAME, kName,
                              PW_KEY_NODE_LATENCY, kNodeLatency, nullptr);
        m_stream = pw_stream_new(m_core, kName, props);
        if (!m_stream) {
            lost();
            return;
        }
        static const pw_stream_events streamEvents = [] {
            pw_stream_events events{};
            events.version = PW_VERSION_STREAM_EVENTS;
            events.state_changed = [](void *data, pw_stream_state, pw_stream_state state, const char *) {
                static_cast<PipeWireBackend *>(data)->stateChanged(state);
            };
            events.process = [](void *data) { static_cast<PipeWireBackend *>(data)->process(); };
            return events;
        }();
        pw_stream_add_listener(m_stream, &m_streamListener, &streamEvents, this);
        m_line = FrameLine(FrameLine::Policy::Cycles, m_rate);
        m_started = false;
        m_restingSinceUs = -1;
        m_inactive = false;
        m_restAsked = false;
        m_source->streamStarted(m_rate, guessUs(), m_line);

        std::uint8_t buffer[512];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, buffer, sizeof buffer);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_F32;
        info.rate = m_rate;
        info.channels = 2;
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod *params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                        PW_STREAM_FLAG_RT_PROCESS);
        if (pw_stream_connect(m_stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0)
            lost();
    }

    // From rendering a frame to hearing it, until the graph says: two of the cycles asked for.
    std::int64_t guessUs() const { return 2 * kCycleFrames * 1000000LL / kDefaultRate; }

    void stateChanged(pw_stream_state state)
    {
        switch (state) {
        case PW_STREAM_STATE_PAUSED:
        case PW_STREAM_STATE_STREAMING:
            if (m_connected)
                break;
            m_connected = true;
            if (m_silent)
                say(m_everPlayed ? "the audio server is back, and so is the sound."
                                 : "an audio server answered; the sound is on.");
            m_silent = false;
            m_everPlayed = true;
            answered();
            break;
        case PW_STREAM_STATE_ERROR:
        case PW_STREAM_STATE_UNCONNECTED:
            lost();
            break;
        default:
            break;
        }
    }

    void answered()
    {
        if (!m_waiting)
            return;
        m_waiting = false;
        pw_thread_loop_signal(m_loop, false);
    }

    // The server is gone or never answered: silence, one line, and another try soon.
    void lost()
    {
        if (m_stopping || m_lost)
            return;
        m_lost = true;
        if (m_connected) {
            say("the audio server went away; the sound is lost until it returns.");
            m_silent = true;
        }
        answered();
        timespec after{0, static_cast<long>(kRetryUs * 1000)};
        pw_loop_update_timer(pw_thread_loop_get_loop(m_loop), m_retry, &after, nullptr, false);
    }

    void reconnect()
    {
        disconnect();
        m_lost = false;
        connect();
    }

    void disconnect()
    {
        if (m_stream) {
            spa_hook_remove(&m_streamListener);
            pw_stream_destroy(m_stream); // waits for the graph's thread to let it go
            m_stream = nullptr;
            m_line.stop(monotonicUs());
            if (m_connected)
                m_source->streamLost();
        }
        if (m_core) {
            spa_hook_remove(&m_coreListener);
            pw_core_disconnect(m_core);
            m_core = nullptr;
        }
        m_connected = false;
    }

    // Asked for by the graph's thread (rest, or a new rate) or by a message (play on).
    void asked()
    {
        if (!m_stream)
            return;
        const std::uint32_t rate = m_graphRate.load();
        if (rate != 0 && rate != m_rate) {
            // The stream at the graph's own rate, so that no resampler stands between the
            // frames and the ear: anew, as after a reconnection.
            spa_hook_remove(&m_streamListener);
            pw_stream_destroy(m_stream);
            m_stream = nullptr;
            m_line.stop(monotonicUs());
            m_rate = rate;
            openStream();
            return;
        }
        if (m_restAsked.exchange(false) && !m_inactive && m_wakes.load() == m_wakesAtRest) {
            m_inactive = true;
            pw_stream_set_active(m_stream, false);
        }
        if (m_inactive && m_wakes.load() != m_wakesAtRest) {
            m_inactive = false;
            m_resumed = true;
            pw_stream_set_active(m_stream, true);
        }
    }

    // The graph's real-time thread, once a cycle: nothing here allocates, locks or waits.
    void process()
    {
        pw_buffer *buffer = pw_stream_dequeue_buffer(m_stream);
        if (!buffer)
            return;
        spa_data &data = buffer->buffer->datas[0];
        auto *out = static_cast<float *>(data.data);
        if (!out || !data.chunk) {
            pw_stream_queue_buffer(m_stream, buffer);
            return;
        }
        constexpr std::uint32_t frameBytes = 2 * sizeof(float);
        std::uint32_t frames = std::min(data.maxsize / frameBytes, kMostFrames);
        if (buffer->requested > 0)
            frames = std::min(frames, static_cast<std::uint32_t>(buffer->requested));
        const auto n = static_cast<int>(frames);
        if (followGraph(n)) {
            m_source->render(n, m_left.data(), m_right.data());
        } else {
            std::fill(m_left.begin(), m_left.begin() + n, 0.0f);
            std::fill(m_right.begin(), m_right.begin() + n, 0.0f);
        }
        for (std::uint32_t i = 0; i < frames; ++i) {
            out[2 * i] = m_left[i];
            out[2 * i + 1] = m_right[i];
        }
        data.chunk->offset = 0;
        data.chunk->stride = frameBytes;
        data.chunk->size = frames * frameBytes;
        pw_stream_queue_buffer(m_stream, buffer);
        m_frames += n;
        restWhenQuiet();
    }

    // The graph's clock at this cycle: the frames it played without this stream are
    // passed over, and the line learns when the frame rendered now is heard. False when
    // the graph runs at another rate: the stream is opened anew at it, silent meanwhile.
    bool followGraph(int frames)
    {
        const std::int64_t nowUs = monotonicUs();
        pw_time time{};
        if (pw_stream_get_time_n(m_stream, &time, sizeof time) != 0 || time.rate.denom == 0 || time.rate.num == 0 ||
            time.now <= 0) {
            if (!m_started) {
                m_line.start(m_rate, nowUs, guessUs());
                m_line.letGuessStand(); // no cycle times will place it
                m_started = true;
            }
            return true;
        }
        if (time.rate.num == 1 && time.rate.denom != m_rate && time.rate.denom >= 8000 && time.rate.denom <= 192000) {
            if (m_graphRate.exchange(time.rate.denom) != time.rate.denom)
                pw_loop_signal_event(pw_thread_loop_get_loop(m_loop), m_event);
            return false;
        }
        // The graph's ticks as the stream's frames.
        const double framesPerTick = static_cast<double>(m_rate) * time.rate.num / time.rate.denom;
        const bool resumed = m_resumed.exchange(false);
        if (m_started) {
            const double ahead = static_cast<double>(time.ticks - m_startTicks) * framesPerTick;
            const auto gap = static_cast<std::int64_t>(std::llround(ahead)) - m_frames;
            // Through a resampler the two counts part by a frame or so now and then.
            const bool sameRate = time.rate.num == 1 && time.rate.denom == m_rate;
            const int tolerance = sameRate ? 0 : frames;
            if (std::abs(gap) > tolerance && (gap < 0 || gap > kMaxGapSeconds * m_rate)) {
                m_started = false;
            } else if (sameRate && frames > m_cycleFrames) {
                // A longer cycle (another stream asked for one): the frames rendered stand
                // further ahead than the delay covers, so it is measured anew, and the
                // grid moves once. A shorter one leaves them within it.
                m_started = false;
            } else if (const std::int64_t over = m_gap.passOver(gap > tolerance ? gap : 0, time.ticks, resumed)) {
                m_source->skip(static_cast<int>(over)); // the graph played on without this stream
                m_frames += over;
            }
        }
        const double heardUs = static_cast<double>(time.now) / 1000.0 +
                               static_cast<double>(time.delay) * 1e6 * time.rate.num / time.rate.denom +
                               static_cast<double>(time.buffered) * 1e6 / m_rate;
        if (!m_started) {
            // A note sent now goes on a frame rendered at the next cycle: it is heard up to
            // a cycle later than the first frame rendered now. The source heard of the
            // stream at this rate when it was opened, so it allocates nothing here.
            const std::int64_t aheadUs = std::max<std::int64_t>(std::llround(heardUs) - nowUs, 0);
            m_source->streamStarted(m_rate, aheadUs + std::llround(frames * 1e6 / m_rate), m_line);
            m_frames = 0;
            m_cycleFrames = frames;
            m_startTicks = time.ticks;
            m_startNs = time.now;
            m_line.start(m_rate, nowUs, std::llround(heardUs) - nowUs);
            m_gap.reset();
            m_started = true;
        }
        if (m_gap.pending())
            return true; // these frames are not where the clock read says
        // The graph's rate on the monotonic clock, over its whole run so far.
        const double spanTicks = static_cast<double>(time.ticks - m_startTicks);
        double usPerFrame = 1e6 / m_rate;
        if (spanTicks * time.rate.num / time.rate.denom >= kRateSpanSeconds)
            usPerFrame = static_cast<double>(nsToUs(time.now - m_startNs)) / (spanTicks * framesPerTick);
        m_line.observe(nowUs, m_frames, heardUs, usPerFrame * frames, frames);
        return true;
    }

    // Silent for long enough: the stream asks the loop's thread to take it out of the
    // cycles. The wakes are counted before the source is asked, so that a message sent
    // after it answered keeps the stream in them.
    void restWhenQuiet()
    {
        const std::uint64_t wakes = m_wakes.load();
        if (!m_source->resting()) {
            m_restingSinceUs = -1;
            return;
        }
        const std::int64_t nowUs = monotonicUs();
        if (m_restingSinceUs < 0) {
            m_restingSinceUs = nowUs;
        } else if (nowUs - m_restingSinceUs >= kRestUs && !m_restAsked.load()) {
            m_restingSinceUs = -1;
            m_wakesAtRest = wakes;
            m_restAsked = true;
            pw_loop_signal_event(pw_thread_loop_get_loop(m_loop), m_event);
        }
    }

    FrameSource *m_source = nullptr;
    pw_thread_loop *m_loop = nullptr;
    pw_context *m_context = nullptr;
    pw_core *m_core = nullptr;
    pw_stream *m_stream = nullptr;
    spa_hook m_coreListener{};
    spa_hook m_streamListener{};
    spa_source *m_retry = nullptr;
    spa_source *m_event = nullptr;
    std::uint32_t m_rate = kDefaultRate;
    std::vector<float> m_left, m_right;
    FrameLine m_line{FrameLine::Policy::Cycles};
    // The graph's thread: the stream's frames rendered or passed over, and where they
    // stand on the graph's clock.
    std::int64_t m_frames = 0;
    std::uint64_t m_startTicks = 0;
    std::int64_t m_startNs = 0;
    int m_cycleFrames = 0;  // frames a cycle at the start: the longest the delay covers
    bool m_started = false; // the line runs on the graph's cycles
    GraphGap m_gap;
    std::int64_t m_restingSinceUs = -1;
    // Rest and play on, between the graph's thread, the loop's and the senders.
    std::atomic<std::uint64_t> m_wakes{0};
    std::atomic<std::uint64_t> m_wakesAtRest{0};
    std::atomic<bool> m_restAsked{false};
    std::atomic<bool> m_inactive{false};
    std::atomic<bool> m_resumed{false};        // back in the cycles after a rest
    std::atomic<std::uint32_t> m_graphRate{0}; // the graph's, when the stream's is another
    bool m_waiting = false;                    // opening waits for the first answer
    bool m_connected = false;                  // the stream is in the graph
    bool m_lost = false;                       // a retry is set
    bool m_silent = false;                     // the sound is away, and that has been said
    bool m_everPlayed = false;                 // the sound has been on since opening
    bool m_stopping = false;
};

// The desktop's server: PipeWire's own stream where PipeWire serves the desktop's
// audio, PulseAudio's otherwise, or when PipeWire's stream cannot be had (PulseAudio's
// then waits for a server to come).
class DesktopBackend final : public AudioBackend {
public:
    bool start(FrameSource &source) override
    {
        // With no PulseAudio server, PipeWire may still answer on its own. A PulseAudio
        // server named elsewhere than on this machine is not this machine's PipeWire.
        const char *named = std::getenv("PULSE_SERVER");
        const bool local = !named || !*named || std::strncmp(named, "unix:", 5) == 0 || named[0] == '/';
        if (local && desktopServer() != DesktopServer::PulseAudio) {
            m_inner = std::make_unique<PipeWireBackend>();
            if (m_inner->start(source))
                return true;
            m_inner->stop();
        }
        m_inner = createPulseAudioBackend();
        return m_inner->start(source);
    }
    void stop() override
    {
        if (m_inner)
            m_inner->stop();
    }
    std::int64_t heardLaterUs() const override { return m_inner ? m_inner->heardLaterUs() : 0; }
    std::uint32_t lateRoomMs() const override { return m_inner ? m_inner->lateRoomMs() : kLateRoomMs; }
    bool measuring() const override { return m_inner && m_inner->measuring(); }
    void wake() override
    {
        if (m_inner)
            m_inner->wake();
    }

private:
    std::unique_ptr<AudioBackend> m_inner;
};

} // namespace

std::unique_ptr<AudioBackend> createDesktopBackend() { return std::make_unique<DesktopBackend>(); }

} // namespace pulsewerk
