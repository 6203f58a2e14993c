// SPDX-License-Identifier: GPL-3.0-or-later
// The JACK back end: a client named Pulsewerk with two audio out ports, a MIDI out port
// carrying every message on its frame and another carrying the beat clock, timed by
// JACK's own clock; it comes back by itself when the JACK server returns, and keeps its
// ports' connections.
#include "platform/Clock.h"
#include "platform/Say.h"
#include "sound/AudioBackend.h"
#include "sound/FrameLine.h"
#include "sound/JackTransport.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <QSet>

#include <algorithm>
#include <array>
#include <atomic>
#include <bitset>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

namespace pulsewerk {
namespace {

constexpr char kClientName[] = "Pulsewerk";
// Between attempts to reach a JACK server that went away.
constexpr auto kRetry = std::chrono::milliseconds(400);
// After its server died, the client is closed only this much later. Closing cancels the
// library's threads, and one cancelled while it still handles the loss can leave a lock
// of the library's taken: the next open or close in the process then waits for ever.
constexpr auto kLetDeadClientEnd = std::chrono::milliseconds(500);
// Room for a beat sent late by a busy machine (three busy loops on two cores hold the
// beat loop back by tens of milliseconds now and then): on JACK every note must be in
// before its cycle is rendered, or it lands on the cycle's start. With the device's own
// margin this gives 80 ms; the beat loop sends a beat up to 77 ms late on its grid point
// (the rest for its clock's whole milliseconds and the line's own error).
constexpr std::int64_t kRoomUs = 65000;
constexpr std::int64_t kLateSendSlackUs = 3000;
// Cycles in a row that the server's frame clock must stand apart from the stream's
// frames before the stream follows it.
constexpr int kGapCycles = 3;
// A longer gap in the server's frames than this starts a new stream.
constexpr double kMaxGapSeconds = 10;
// In a new client's first cycles the frame clock may not yet be the server's own:
// PipeWire's JACK service reports an earlier frame for the first cycle or two, then jumps
// to the true one. This early the stream's frames are counted from where the clock now
// stands, where a gap later on (and on a stream after the server's return) is passed
// over as frames the server played without them.
constexpr int kSettleCycles = 4;
// The longest wait at the end for the cycles that carry the last releases.
constexpr auto kLeastReleaseWait = std::chrono::milliseconds(200);
constexpr int kReleaseWaitPeriods = 4;
// Connections are kept once they have stood this long: a client that goes away is
// disconnected first and gone soon after, and its ports stay kept.
constexpr auto kConnectionsSettle = std::chrono::milliseconds(250);
// How often the transport, with no client leading it, is offered to this one.
constexpr auto kLeadRetry = std::chrono::seconds(1);

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

// The bytes of a beat clock message: Song Position Pointer has two data bytes.
int clockMessageSize(std::uint32_t message) { return (message & 0xFF) == 0xF2 ? 3 : 1; }

class JackBackend final : public AudioBackend, private MessageSink {
public:
    explicit JackBackend(const SoundConfig &config) : m_config(config), m_kept(config.keptConnections) {}
    ~JackBackend() override { stop(); }

    bool start(FrameSource &source) override
    {
        m_source = &source;
        m_ending = Ending::Playing;
        jack_set_error_function(quiet);
        jack_set_info_function(quiet);
        // When its server dies, libjack describes the errors with strerror() on threads
        // it then cancels. A thread cancelled while the C library loads its translations
        // for the first time leaves their lock taken, and the next strerror() (in the
        // reconnecting jack_client_open) waits for ever. Loaded now, they are never
        // loaded again.
        static_cast<void>(std::strerror(ENOENT));
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
        if (m_dead)
            m_client = nullptr; // its server is gone: nothing to release, nothing to close
        else
            releaseSoundingNotes();
        close();
        m_line.stop(monotonicUs());
        if (m_source)
            m_source->sendMessagesTo(nullptr);
        m_source = nullptr;
    }

    Transport *transport() override { return m_config.transport ? &m_transport : nullptr; }

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
        m_clockPort = jack_port_register(m_client, "clock", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        prepareStream();
        jack_set_process_callback(
            m_client,
            [](jack_nframes_t frames, void *self) { return static_cast<JackBackend *>(self)->process(frames); }, this);
        jack_set_sample_rate_callback(
            m_client,
            [](jack_nframes_t rate, void *self) {
                static_cast<JackBackend *>(self)->rateChanged(rate);
                return 0;
            },
            this);
        // The plain callback: PipeWire's JACK service calls only this one.
        jack_on_shutdown(
            m_client, [](void *self) { static_cast<JackBackend *>(self)->shutDown(); }, this);
        jack_set_latency_callback(
            m_client,
            [](jack_latency_callback_mode_t mode, void *self) {
                if (mode == JackPlaybackLatency)
                    static_cast<JackBackend *>(self)->latencyChanged();
            },
            this);
        jack_set_port_connect_callback(
            m_client,
            [](jack_port_id_t, jack_port_id_t, int, void *self) {
                static_cast<JackBackend *>(self)->connectionsMoved();
            },
            this);
        if (!m_beat || !m_clockPort || (m_config.audioPorts && (!m_left || !m_right)) || jack_activate(m_client) != 0) {
            close();
            return false;
        }
        if (m_config.connectPorts)
            restoreConnections();
        if (m_config.transport)
            m_transport.attach(m_client);
        return true;
    }

    // A new stream at the server's rate, outside the process thread (the source may
    // allocate for a new rate); the first cycle starts its frame line.
    void prepareStream()
    {
        m_rate = jack_get_sample_rate(m_client);
        m_periodFrames = static_cast<int>(jack_get_buffer_size(m_client));
        m_line = FrameLine(FrameLine::Policy::Cycles, m_rate);
        m_source->streamStarted(m_rate, latencyUs(), m_line);
        m_started = false;
        m_prepared = true;
    }

    // From rendering a cycle to hearing its last frame: the server plays it during the
    // next cycle, so a message must be in before the cycle ahead of its frame's starts;
    // and room for a late sender.
    std::int64_t latencyUs() const { return std::llround(2 * m_periodFrames * 1e6 / m_rate) + kRoomUs; }

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

    // The ports by their own names, null where there is none.
    std::array<std::pair<QString, jack_port_t *>, 4> ports() const
    {
        return {{{QStringLiteral("beat"), m_beat},
                 {QStringLiteral("clock"), m_clockPort},
                 {QStringLiteral("out_left"), m_left},
                 {QStringLiteral("out_right"), m_right}}};
    }

    // The connections kept, to the ports that are there; the audio ports to the playback
    // ports when none of theirs were kept.
    void restoreConnections()
    {
        for (const auto &[name, port] : ports()) {
            for (const QString &peer : m_kept.value(name)) {
                if (port && jack_port_by_name(m_client, peer.toUtf8().constData()))
                    jack_connect(m_client, jack_port_name(port), peer.toUtf8().constData());
            }
        }
        if (m_config.audioPorts && m_kept.value(QStringLiteral("out_left")).isEmpty() &&
            m_kept.value(QStringLiteral("out_right")).isEmpty())
            connectPlayback();
    }

    // JACK's notification thread: a connection was made or broken somewhere; the watcher
    // reads this client's once they have settled.
    void connectionsMoved()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping || !m_config.connectPorts || !m_config.connectionsChanged)
                return;
            m_connectionsDue = std::chrono::steady_clock::now() + kConnectionsSettle;
        }
        m_wake.notify_all();
    }

    // The watcher: the ports' connections now, with the kept ones whose ports are gone
    // (their client may come back), handed on when they changed.
    void keepConnections()
    {
        if (!m_client)
            return;
        PortConnections now = m_kept;
        for (const auto &[name, port] : ports()) {
            if (!port)
                continue;
            QSet<QString> peers;
            for (const QString &peer : m_kept.value(name)) {
                if (!jack_port_by_name(m_client, peer.toUtf8().constData()))
                    peers << peer;
            }
            if (const char **connected = jack_port_get_all_connections(m_client, port)) {
                for (int i = 0; connected[i]; ++i)
                    peers << QString::fromUtf8(connected[i]);
                jack_free(connected);
            }
            QStringList sorted(peers.begin(), peers.end());
            sorted.sort();
            now.insert(name, sorted);
        }
        if (now == m_kept)
            return;
        m_kept = now;
        m_config.connectionsChanged(m_kept);
    }

    void close()
    {
        m_transport.detach();
        if (m_client)
            jack_client_close(m_client);
        m_client = nullptr;
        m_left = m_right = m_beat = m_clockPort = nullptr;
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
        void *clock = jack_port_get_buffer(m_clockPort, frames);
        jack_midi_clear_buffer(clock);
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
            // A beat clock that runs stops with the program.
            const jack_midi_data_t stop = 0xFC;
            if (m_clockRunning && jack_midi_event_write(clock, 0, &stop, 1) == 0)
                m_clockRunning = false;
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

    // JACK's notification thread: a new rate, for the watcher to prepare a stream at.
    void rateChanged(jack_nframes_t rate)
    {
        if (static_cast<double>(rate) == m_rate)
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_rateChanged = true;
        }
        m_wake.notify_all();
    }

    // The watcher: the process thread keeps out of the source while a stream at the new
    // rate is prepared; nothing on it waits for this.
    void restartAtNewRate()
    {
        m_paused = true;
        while (m_inSource)
            std::this_thread::yield();
        m_source->streamLost();
        prepareStream();
        m_paused = false;
    }

    // The back end's own thread: after a loss, says so, lets go of the dead client and
    // tries again until a server answers.
    void watch()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            const auto woken = [this] { return m_stopping || m_lost || m_rateChanged; };
            // Connections are kept once they settle; with a transport, it is offered to this
            // client now and then.
            const auto now = std::chrono::steady_clock::now();
            const bool due = m_connectionsDue.has_value();
            const auto leadAt = now + kLeadRetry;
            const auto until = due && (!m_config.transport || *m_connectionsDue < leadAt) ? *m_connectionsDue : leadAt;
            const auto moved = [&] { return woken() || (!due && m_connectionsDue); };
            if (!due && !m_config.transport)
                m_wake.wait(lock, moved);
            else
                m_wake.wait_until(lock, until, moved);
            if (!woken()) {
                const auto after = std::chrono::steady_clock::now();
                if (m_connectionsDue && after >= *m_connectionsDue) {
                    m_connectionsDue.reset();
                    lock.unlock();
                    keepConnections();
                    lock.lock();
                }
                if (m_config.transport && after >= leadAt) {
                    lock.unlock();
                    m_transport.leadWhenUnled();
                    lock.lock();
                }
                continue;
            }
            if (m_stopping)
                return;
            if (!m_lost) {
                m_rateChanged = false;
                lock.unlock();
                restartAtNewRate();
                lock.lock();
                continue;
            }
            m_lost = false;
            m_dead = true;
            lock.unlock();
            m_source->streamLost();
            say("the JACK server went away; the sound is lost until it returns.");
            m_line.stop(monotonicUs());
            m_transport.detach();
            lock.lock();
            if (m_wake.wait_for(lock, kLetDeadClientEnd, [this] { return m_stopping; }))
                return; // the dead client is left as it is
            lock.unlock();
            close();
            lock.lock();
            m_dead = false;
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

    // The process thread, once per cycle: nothing here allocates, locks or waits.
    int process(jack_nframes_t frames)
    {
        if (m_ending != Ending::Playing)
            return endCycle(frames);
        const auto n = static_cast<int>(frames);
        m_midi = jack_port_get_buffer(m_beat, frames);
        jack_midi_clear_buffer(m_midi);
        m_clockMidi = jack_port_get_buffer(m_clockPort, frames);
        jack_midi_clear_buffer(m_clockMidi);
        float *left = m_left ? static_cast<float *>(jack_port_get_buffer(m_left, frames)) : nullptr;
        float *right = m_right ? static_cast<float *>(jack_port_get_buffer(m_right, frames)) : nullptr;
        m_inSource = true;
        if (m_paused) { // a stream at a new rate is being prepared
            m_inSource = false;
            for (float *port : {left, right}) {
                if (port)
                    std::fill(port, port + n, 0.0f);
            }
            return 0;
        }
        if (m_started && settling())
            m_serverStart = jack_last_frame_time(m_client) - static_cast<jack_nframes_t>(m_frames);
        const std::int32_t gap = serverGap();
        if (m_started && (gap < 0 || gap > kMaxGapSeconds * m_rate || n != m_periodFrames))
            m_started = false;
        if (!m_started) {
            // Anew at the same rate: nothing for the source to allocate.
            m_periodFrames = n;
            if (!m_prepared)
                m_source->streamStarted(m_rate, latencyUs(), m_line);
            m_prepared = false;
            m_frames = 0;
            m_serverStart = jack_last_frame_time(m_client);
            m_gapCycles = 0;
        } else if (gap > 0) {
            skip(gap);
        }
        followServerClock();
        m_started = true;
        if (m_config.transport)
            m_transport.cycle(frames, m_frames, m_line);
        m_source->render(n, left, right);
        m_midi = m_clockMidi = nullptr;
        m_frames += n;
        m_inSource = false;
        return 0;
    }

    // The stream's frames are the ones this client is given, counted. The server's frame
    // clock, as a client reads it, now and then runs a cycle ahead (the client's cycle
    // came late, after the server began the next) and back again; a cycle the server
    // played without this client (an under-run) shows as a gap in it that lasts. Such a
    // gap, once it has lasted kGapCycles, is skipped over so that the stream's frames stay
    // the server's; a step back or a very long gap starts anew.
    std::int32_t serverGap()
    {
        if (!m_started)
            return 0;
        const auto gap = static_cast<std::int32_t>(jack_last_frame_time(m_client) -
                                                   (m_serverStart + static_cast<jack_nframes_t>(m_frames)));
        if (gap == 0)
            m_gapCycles = 0;
        if (gap == 0 || (std::abs(gap) <= kMaxGapSeconds * m_rate && ++m_gapCycles < kGapCycles))
            return 0;
        m_gapCycles = 0;
        return gap;
    }

    // The client's first cycles, and the frame clock not where they put it.
    bool settling()
    {
        if (m_frames >= static_cast<std::int64_t>(kSettleCycles) * m_periodFrames)
            m_firstStream = false;
        return m_firstStream && jack_last_frame_time(m_client) != m_serverStart + static_cast<jack_nframes_t>(m_frames);
    }

    // Frames the server played without this client: nothing is rendered for them, and
    // the messages due in them go out late, on this cycle's first frame, rather than
    // not at all (a release left out would hang a note); the source drops the note-ons.
    void skip(std::int32_t gap)
    {
        m_skipping = true;
        m_source->skip(gap);
        m_skipping = false;
        m_frames += gap;
    }

    // When a cycle's first frame is heard, on JACK's clock (smoothed by its own
    // delay-locked loop) carried over to the monotonic clock: one period on, when the
    // server plays it. The cycle is the one the server says it is timing (its frame and
    // time read together), on the stream's frames. The line starts on the first cycle.
    void followServerClock()
    {
        jack_nframes_t cycleFrame = 0;
        jack_time_t cycleUs = 0, nextUs = 0;
        float periodUs = 0;
        const std::int64_t nowUs = monotonicUs();
        if (jack_get_cycle_times(m_client, &cycleFrame, &cycleUs, &nextUs, &periodUs) != 0 || periodUs <= 0) {
            if (!m_started) {
                m_line.start(m_rate, nowUs, std::llround(m_periodFrames * 1e6 / m_rate));
                m_line.letGuessStand(); // no cycle times will place it
            }
            return;
        }
        const auto offsetUs = nowUs - static_cast<std::int64_t>(jack_get_time());
        const double heardUs = static_cast<double>(static_cast<std::int64_t>(cycleUs) + offsetUs) + periodUs;
        if (!m_started)
            m_line.start(m_rate, nowUs, std::llround(heardUs) - nowUs);
        const std::int64_t frame =
            m_frames + static_cast<std::int32_t>(cycleFrame - (m_serverStart + static_cast<jack_nframes_t>(m_frames)));
        m_line.observe(nowUs, frame, heardUs, periodUs, m_periodFrames);
    }

    std::int64_t heardLaterUs() const override { return m_heardLaterUs.load(); }
    std::uint32_t lateRoomMs() const override
    {
        return static_cast<std::uint32_t>((kRoomUs + kDelayMarginUs - kLateSendSlackUs) / 1000);
    }

    // The server's thread for such news: the ports' playback latency, from the start of
    // the cycle that renders a frame to the frame being heard, beyond the one period the
    // line counts (the next cycle plays it).
    void latencyChanged()
    {
        jack_nframes_t most = 0;
        for (jack_port_t *port : {m_left, m_right, m_beat}) {
            jack_latency_range_t range{0, 0};
            if (port)
                jack_port_get_latency_range(port, JackPlaybackLatency, &range);
            most = std::max(most, range.max);
        }
        const jack_nframes_t period = jack_get_buffer_size(m_client);
        const jack_nframes_t rate = jack_get_sample_rate(m_client);
        m_heardLaterUs = most > period && rate > 0 ? std::llround((most - period) * 1e6 / rate) : 0;
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

    // The source, during render(): a beat clock message on frame `frame`. Those due in
    // frames the server played without this client go late, as the notes do: a tick
    // left out would put every follower a tick behind.
    void clock(int frame, std::uint32_t message) override
    {
        const auto status = static_cast<jack_midi_data_t>(message & 0xFF);
        if (!m_clockMidi)
            return;
        const jack_midi_data_t bytes[3] = {status, 0, 0};
        if (jack_midi_event_write(m_clockMidi, m_skipping ? 0 : static_cast<jack_nframes_t>(frame), bytes,
                                  static_cast<size_t>(clockMessageSize(message))) != 0)
            return;
        if (status == 0xFA || status == 0xFC)
            m_clockRunning = status == 0xFA;
    }

    SoundConfig m_config;
    FrameSource *m_source = nullptr;
    jack_client_t *m_client = nullptr;
    jack_port_t *m_left = nullptr;
    jack_port_t *m_right = nullptr;
    jack_port_t *m_beat = nullptr;
    jack_port_t *m_clockPort = nullptr;

    std::mutex m_mutex; // guards the flags below, for the watcher
    std::condition_variable m_wake;
    bool m_stopping = false;
    bool m_lost = false;
    bool m_dead = false; // the server went away, the client is not yet closed
    std::optional<std::chrono::steady_clock::time_point> m_connectionsDue; // when to keep them
    std::thread m_watcher;
    PortConnections m_kept; // the watcher's, once it runs

    // The end, handed from stop() to the process thread and back.
    enum class Ending { Playing, Releasing, Released, Carried };
    std::atomic<Ending> m_ending{Ending::Playing};

    bool m_rateChanged = false;
    std::atomic<bool> m_paused{false};   // the watcher prepares a stream: process keeps out
    std::atomic<bool> m_inSource{false}; // process is in the source
    std::atomic<std::int64_t> m_heardLaterUs{0};

    // The process thread only, once active.
    std::bitset<16 * 128> m_sounding; // by channel and note: the notes the port leaves on
    bool m_started = false;           // the stream has had its first cycle
    bool m_firstStream = true;        // the client's first stream, until its first cycles are over
    bool m_prepared = false;          // the stream was started outside the process thread
    void *m_midi = nullptr;           // the MIDI port's buffer during render()
    void *m_clockMidi = nullptr;      // the clock port's
    bool m_clockRunning = false;      // the clock port's last word was Start, not Stop
    double m_rate = 48000;
    int m_periodFrames = 256;
    std::int64_t m_frames = 0;        // frames rendered since the stream started
    jack_nframes_t m_serverStart = 0; // the stream's frame 0 on the server's frame clock
    int m_gapCycles = 0;              // cycles in a row the server's frame clock stood apart
    bool m_skipping = false;          // render() is passing over frames the server played without us
    FrameLine m_line{FrameLine::Policy::Cycles};
    JackTransport m_transport; // with config.transport
};

} // namespace

std::unique_ptr<AudioBackend> createJackBackend(const SoundConfig &config)
{
    return std::make_unique<JackBackend>(config);
}

} // namespace pulsewerk
