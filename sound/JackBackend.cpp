// SPDX-License-Identifier: GPL-3.0-or-later
// The JACK back end: a client named Pulsewerk with two audio out ports and a MIDI out
// port carrying every message on its frame, timed by JACK's own clock; it comes back by
// itself when the JACK server returns.
#include "platform/Clock.h"
#include "platform/Say.h"
#include "sound/AudioBackend.h"
#include "sound/FrameLine.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <bitset>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace pulsewerk {
namespace {

constexpr char kClientName[] = "Pulsewerk";
// Between attempts to reach a JACK server that went away.
constexpr auto kRetry = std::chrono::milliseconds(400);
// How often the source hears where the frames are.
constexpr std::int64_t kReportEveryUs = 100000;
// A longer gap in the server's frames than this starts a new stream.
constexpr double kMaxGapSeconds = 10;
// The longest wait at the end for the cycles that carry the last releases.
constexpr auto kLeastReleaseWait = std::chrono::milliseconds(200);
constexpr int kReleaseWaitPeriods = 4;

// The JACK library writes its own complaints (no server, for one): the back end says
// what matters in one line instead.
void quiet(const char * /*message*/) {}

// The bytes of a packed short message: the status byte says how many there are.
int messageSize(std::uint32_t message)
{
    switch (message & 0xF0) {
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xB0:
    case 0xE0:
        return 3;
    case 0xC0:
    case 0xD0:
        return 2;
    default:
        return 0; // not a channel message: never sent
    }
}

class JackBackend final : public AudioBackend, private MessageSink {
public:
    explicit JackBackend(const SoundConfig &config) : m_config(config) {}
    ~JackBackend() override { stop(); }

    bool start(FrameSource &source) override
    {
        m_source = &source;
        m_ending = Ending::Playing;
        jack_set_error_function(quiet);
        jack_set_info_function(quiet);
        m_source->sendMessagesTo(this);
        if (!open()) {
            m_source->sendMessagesTo(nullptr);
            return false;
        }
        m_watcher = std::thread([this] { watch(); });
        return true;
    }

    void stop() override
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        if (m_watcher.joinable())
            m_watcher.join();
        releaseSoundingNotes();
        close();
        if (m_source)
            m_source->sendMessagesTo(nullptr);
        m_source = nullptr;
    }

private:
    bool open()
    {
        jack_status_t status{};
        m_client = jack_client_open(kClientName, JackNoStartServer, &status);
        if (!m_client)
            return false;
        if (m_config.audioPorts) {
            m_left = jack_port_register(m_client, "out_left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
            m_right = jack_port_register(m_client, "out_right", JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        }
        m_beat = jack_port_register(m_client, "beat", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        m_started = false;
        jack_set_process_callback(
            m_client,
            [](jack_nframes_t frames, void *self) { return static_cast<JackBackend *>(self)->process(frames); }, this);
        jack_set_sample_rate_callback(
            m_client,
            [](jack_nframes_t, void *self) {
                static_cast<JackBackend *>(self)->m_started = false; // a new stream at the new rate
                return 0;
            },
            this);
        // The plain callback: PipeWire's JACK service calls only this one.
        jack_on_shutdown(
            m_client, [](void *self) { static_cast<JackBackend *>(self)->shutDown(); }, this);
        if (!m_beat || (m_config.audioPorts && (!m_left || !m_right)) || jack_activate(m_client) != 0) {
            close();
            return false;
        }
        if (m_config.connectPorts && m_config.audioPorts)
            connectPlayback();
        return true;
    }

    // The audio ports go to the first physical playback ports (one port takes both).
    void connectPlayback()
    {
        const char **playback =
            jack_get_ports(m_client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
        if (!playback)
            return;
        if (playback[0]) {
            jack_connect(m_client, jack_port_name(m_left), playback[0]);
            jack_connect(m_client, jack_port_name(m_right), playback[playback[1] ? 1 : 0]);
        }
        jack_free(playback);
    }

    void close()
    {
        if (m_client)
            jack_client_close(m_client);
        m_client = nullptr;
        m_left = m_right = m_beat = nullptr;
    }

    // Every note-on the port carried gets its release before the client goes: a note the
    // program ends in (its release is still ahead, scheduled on the beat's frame) would
    // otherwise hang on whatever reads the port. The process thread sends the releases at
    // once; this waits, a few periods at most, for the cycle after theirs, by which the
    // readers have them.
    void releaseSoundingNotes()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_client || m_lost)
                return;
        }
        const auto period = std::chrono::microseconds(
            std::llround(jack_get_buffer_size(m_client) * 1e6 / jack_get_sample_rate(m_client)));
        const auto deadline = std::chrono::steady_clock::now() +
                              std::max<std::chrono::microseconds>(kLeastReleaseWait, kReleaseWaitPeriods * period);
        m_ending = Ending::Releasing;
        while (m_ending != Ending::Carried && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    // The process thread, at the end: the releases of the sounding notes on the cycle's
    // first frame, then nothing. The source renders no more, so no note starts again.
    int endCycle(jack_nframes_t frames)
    {
        void *midi = jack_port_get_buffer(m_beat, frames);
        jack_midi_clear_buffer(midi);
        for (jack_port_t *port : {m_left, m_right}) {
            if (port)
                std::fill_n(static_cast<float *>(jack_port_get_buffer(port, frames)), frames, 0.0f);
        }
        if (m_ending == Ending::Releasing) {
            for (std::size_t i = 0; i < m_sounding.size(); ++i) {
                const jack_midi_data_t release[3] = {static_cast<jack_midi_data_t>(0x90 | (i / 128)),
                                                     static_cast<jack_midi_data_t>(i % 128), 0};
                if (m_sounding.test(i) && jack_midi_event_write(midi, 0, release, sizeof release) == 0)
                    m_sounding.reset(i);
            }
            m_ending = Ending::Released;
        } else {
            m_ending = Ending::Carried;
        }
        return 0;
    }

    // JACK's own thread: the server is gone, and no process call comes any more.
    void shutDown()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lost = true;
        }
        m_wake.notify_all();
    }

    // The back end's own thread: after a loss, says so, lets go of the dead client and
    // tries again until a server answers.
    void watch()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || m_lost; });
            if (m_stopping)
                return;
            m_lost = false;
            lock.unlock();
            m_source->streamLost();
            say("the JACK server went away; the sound is lost until it returns.");
            close();
            lock.lock();
            while (!m_stopping) {
                lock.unlock();
                const bool back = open();
                lock.lock();
                if (back) {
                    say("the JACK server is back, and so is the sound.");
                    break;
                }
                m_wake.wait_for(lock, kRetry, [this] { return m_stopping; });
            }
        }
    }

    // The process thread, once per cycle.
    int process(jack_nframes_t frames)
    {
        if (m_ending != Ending::Playing)
            return endCycle(frames);
        const auto n = static_cast<int>(frames);
        m_midi = jack_port_get_buffer(m_beat, frames);
        jack_midi_clear_buffer(m_midi);
        float *left = m_left ? static_cast<float *>(jack_port_get_buffer(m_left, frames)) : nullptr;
        float *right = m_right ? static_cast<float *>(jack_port_get_buffer(m_right, frames)) : nullptr;
        // The server's frame clock: a cycle it left this client out of (a late cycle, an
        // under-run) shows as a gap, which the stream skips over so that its frames stay
        // the server's; a gap of more than kMaxGapSeconds (or a step back) starts anew.
        const jack_nframes_t cycleFrame = jack_last_frame_time(m_client);
        const auto gap = static_cast<std::int32_t>(cycleFrame - m_nextCycleFrame);
        m_nextCycleFrame = cycleFrame + frames;
        if (m_started && (gap < 0 || gap > kMaxGapSeconds * m_rate))
            m_started = false;
        if (!m_started) {
            m_rate = jack_get_sample_rate(m_client);
            // What a cycle's output waits for: the next cycle, when the server plays it.
            m_latencyUs = std::llround(jack_get_buffer_size(m_client) * 1e6 / m_rate);
            m_source->streamStarted(m_rate, m_latencyUs);
            m_frames = 0;
            m_line = FrameLine(m_rate);
            m_started = true;
        } else if (gap > 0) {
            skip(gap);
        }
        followServerClock();
        m_source->render(monotonicUs(), n, left, right);
        m_midi = nullptr;
        m_frames += n;
        return 0;
    }

    // Frames the server played without this client: nothing is rendered for them, and
    // the messages due in them go out late, on this cycle's first frame, rather than
    // not at all (a release left out would hang a note).
    void skip(std::int32_t gap)
    {
        m_skipping = true;
        m_source->render(monotonicUs(), gap, nullptr, nullptr);
        m_skipping = false;
        m_frames += gap;
    }

    // When this cycle's first frame is heard, on JACK's clock (smoothed by its own
    // delay-locked loop) carried over to the monotonic clock, then one period on; the
    // source hears it from the frame line.
    void followServerClock()
    {
        jack_nframes_t cycleFrame = 0;
        jack_time_t cycleUs = 0, nextUs = 0;
        float periodUs = 0;
        if (jack_get_cycle_times(m_client, &cycleFrame, &cycleUs, &nextUs, &periodUs) != 0)
            return;
        const auto offsetUs = monotonicUs() - static_cast<std::int64_t>(jack_get_time());
        m_line.observe(m_frames, static_cast<double>(static_cast<std::int64_t>(cycleUs) + offsetUs + m_latencyUs),
                       periodUs);
        const std::int64_t nowUs = monotonicUs();
        if (m_line.known() && (m_line.moved() || nowUs - m_reportedUs >= kReportEveryUs)) {
            // A whole microsecond on the line, and its frame exactly.
            const auto us = std::llround(m_line.timeOf(m_frames));
            m_source->heard(us, m_line.frameAt(static_cast<double>(us)));
            m_reportedUs = nowUs;
        }
    }

    // The source, during render(): a message on frame `frame` of this cycle.
    void message(int frame, std::uint32_t message) override
    {
        const int size = messageSize(message);
        if (!m_midi || size == 0)
            return;
        const jack_midi_data_t bytes[3] = {static_cast<jack_midi_data_t>(message & 0xFF),
                                           static_cast<jack_midi_data_t>((message >> 8) & 0x7F),
                                           static_cast<jack_midi_data_t>((message >> 16) & 0x7F)};
        if (jack_midi_event_write(m_midi, m_skipping ? 0 : static_cast<jack_nframes_t>(frame), bytes,
                                  static_cast<size_t>(size)) != 0 ||
            (message & 0xE0) != 0x80)
            return;
        // Which notes the port leaves sounding: a note-on with a velocity starts one, a
        // note-off or a note-on without one ends it.
        const std::size_t note = (message & 0x0F) * 128 + bytes[1];
        m_sounding.set(note, (message & 0xF0) == 0x90 && bytes[2] != 0);
    }

    SoundConfig m_config;
    FrameSource *m_source = nullptr;
    jack_client_t *m_client = nullptr;
    jack_port_t *m_left = nullptr;
    jack_port_t *m_right = nullptr;
    jack_port_t *m_beat = nullptr;

    std::mutex m_mutex; // guards the flags below, for the watcher
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_lost = false;
    std::thread m_watcher;

    // The end, handed from stop() to the process thread and back.
    enum class Ending { Playing, Releasing, Released, Carried };
    std::atomic<Ending> m_ending{Ending::Playing};

    // The process thread only.
    std::bitset<16 * 128> m_sounding; // by channel and note: the notes the port leaves on
    std::atomic<bool> m_started{false};
    void *m_midi = nullptr; // the MIDI port's buffer during render()
    double m_rate = 48000;
    std::int64_t m_latencyUs = 0;
    std::int64_t m_frames = 0;           // frames rendered since the stream started
    jack_nframes_t m_nextCycleFrame = 0; // where the next cycle starts, on the server's frame clock
    bool m_skipping = false;             // render() is passing over frames the server played without us
    FrameLine m_line{48000};
    std::int64_t m_reportedUs = -1;
};

} // namespace

std::unique_ptr<AudioBackend> createJackBackend(const SoundConfig &config)
{
    return std::make_unique<JackBackend>(config);
}

} // namespace pulsewerk
