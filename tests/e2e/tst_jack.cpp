// SPDX-License-Identifier: GPL-3.0-or-later
// The real program as a JACK client of a private dummy server, read by a JACK client
// of the test's own: the beat port's messages with their frames, and the clicks on
// the audio ports.
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include "ClickDetector.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <vector>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int kRate = 48000;
constexpr std::int64_t kBeatFrames = kRate / 2; // 120 bpm
// The stored sound settings, none of them the defaults: channel 10, a high and a low
// wood block.
constexpr int kStatus = 0x99, kNoteOff = 0x89;
constexpr int kStrongNote = 76, kStrongVelocity = 100, kWeakNote = 77, kWeakVelocity = 45;
// A click on the audio ports starts within this many frames of its note-on: the
// synthesizer's attack.
constexpr std::int64_t kAttackFrames = 96;

struct Event {
    std::int64_t frame; // on the server's frame clock
    std::uint8_t status, data1, data2;
    std::int64_t transportFrame = -1; // on the transport's, while it rolls
    std::int64_t sinceSlip = -1;      // frames since the transport last slipped a cycle; -1: never
};

// What one thread records and another reads while it goes on: set aside whole, appended
// to without a lock (a reader that waited for the test's thread would miss its cycles
// whenever that thread was descheduled holding the lock), read up to what was published.
template <typename T> class Log {
public:
    explicit Log(std::size_t capacity) : m_items(capacity) {}
    void append(const T &item)
    {
        const std::size_t n = m_size.load(std::memory_order_relaxed);
        if (n == m_items.size())
            return; // full: the checks see too few and fail
        m_items[n] = item;
        m_size.store(n + 1, std::memory_order_release);
    }
    // What was appended since the last clear().
    std::vector<T> items() const
    {
        const std::size_t n = m_size.load(std::memory_order_acquire);
        const std::size_t from = std::min(m_from.load(), n);
        return {m_items.begin() + std::ptrdiff_t(from), m_items.begin() + std::ptrdiff_t(n)};
    }
    void clear() { m_from = m_size.load(std::memory_order_acquire); }
    // Empty again, while no thread appends.
    void reset()
    {
        m_size = 0;
        m_from = 0;
    }

private:
    std::vector<T> m_items;
    std::atomic<std::size_t> m_size{0};
    std::atomic<std::size_t> m_from{0};
};

// An X server listens on the display's socket.
bool displayAnswers(const QByteArray &number)
{
    const QByteArray path = "/tmp/.X11-unix/X" + number;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (number.isEmpty() || std::size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::copy(path.begin(), path.end(), address.sun_path);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    const bool answers = fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    if (fd >= 0)
        ::close(fd);
    return answers;
}

// The frames of up to four events from `from`, counted from `origin`, for a failure's message.
QString framesFrom(std::vector<std::int64_t>::const_iterator from, std::vector<std::int64_t>::const_iterator end,
                   std::int64_t origin)
{
    QStringList frames;
    for (; from != end && frames.size() < 4; ++from)
        frames << QString::number(*from - origin);
    return frames.join(u' ');
}

// The test's JACK client: a MIDI in port and an audio in port, recording what arrives.
class Reader {
public:
    // Connects to the server JACK_DEFAULT_SERVER names; false when none answers.
    bool open()
    {
        m_next = m_back = -1;
        for (auto *log : {&m_holes, &m_underRuns})
            log->reset();
        for (auto *log : {&m_events, &m_clockEvents})
            log->reset();
        m_onsets.reset();
        m_client = jack_client_open("pulsewerk-test-reader", JackNoStartServer, nullptr);
        if (!m_client)
            return false;
        m_midi = jack_port_register(m_client, "beat", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        m_audio = jack_port_register(m_client, "left", JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
        m_clock = jack_port_register(m_client, "clock", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
        jack_set_process_callback(
            m_client, [](jack_nframes_t frames, void *self) { return static_cast<Reader *>(self)->process(frames); },
            this);
        jack_set_xrun_callback(
            m_client,
            [](void *self) {
                static_cast<Reader *>(self)->underRun();
                return 0;
            },
            this);
        return m_midi && m_audio && m_clock && jack_activate(m_client) == 0;
    }
    ~Reader() { close(); }
    void close()
    {
        if (m_client)
            jack_client_close(m_client);
        m_client = nullptr;
    }

    bool hasPort(const char *name) const { return m_client && jack_port_by_name(m_client, name); }
    // The physical playback ports, in order.
    QList<QByteArray> playbackPorts() const
    {
        QList<QByteArray> names;
        const char **ports =
            jack_get_ports(m_client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
        for (int i = 0; ports && ports[i]; ++i)
            names << ports[i];
        jack_free(ports);
        return names;
    }
    bool connected(const char *from, const char *to) const
    {
        jack_port_t *port = m_client ? jack_port_by_name(m_client, from) : nullptr;
        return port && jack_port_connected_to(port, to);
    }
    bool connect(const char *from, jack_port_t *to) const
    {
        const int result = jack_connect(m_client, from, jack_port_name(to));
        return result == 0 || result == EEXIST;
    }
    bool connectProgram()
    {
        return connect("Pulsewerk:beat", m_midi) && connect("Pulsewerk:clock", m_clock) &&
               (!hasPort("Pulsewerk:out_left") || connect("Pulsewerk:out_left", m_audio));
    }

    std::vector<Event> events() const { return m_events.items(); }
    // The clock port's messages: status bytes, Song Position Pointer's data ignored.
    std::vector<Event> clockEvents() const { return m_clockEvents.items(); }
    // No cycle from `from` to `to` was missed or misdated: this client's frame clock
    // went on a cycle at a time (a late cycle reads it a cycle ahead, an under-run skips),
    // and the server reported no under-run of any client about then.
    // `margin` frames either side: the server's report of an under-run may be dated a
    // cycle or two away from the frames the missed cycles bunched.
    bool steady(std::int64_t from, std::int64_t to, std::int64_t margin = 0) const
    {
        const auto outside = [&](const Hole &hole) { return hole.first > to + margin || hole.second < from - margin; };
        const std::vector<Hole> missed = m_holes.items(), runs = m_underRuns.items();
        return std::all_of(missed.begin(), missed.end(), outside) && std::all_of(runs.begin(), runs.end(), outside);
    }
    std::vector<std::int64_t> onsets() const { return m_onsets.items(); }
    // The note-ons' frames, in order.
    std::vector<std::int64_t> noteOnFrames() const
    {
        std::vector<std::int64_t> frames;
        for (const Event &e : events()) {
            if ((e.status & 0xF0) == 0x90 && e.data2 > 0)
                frames.push_back(e.frame);
        }
        return frames;
    }
    int noteOns() const
    {
        int n = 0;
        for (const Event &e : events())
            n += (e.status & 0xF0) == 0x90 && e.data2 > 0;
        return n;
    }
    void clear()
    {
        m_events.clear();
        m_clockEvents.clear();
        m_onsets.clear();
        m_holes.clear();
        m_underRuns.clear();
        m_stoppedAt = -1;
    }
    // The server's frame at which the transport was first seen stopped after rolling.
    std::int64_t stoppedAt() const { return m_stoppedAt; }
    // Makes this client the timebase master at `bpm` in 4/4, whoever led before: bar, beat
    // and tick straight from the transport's frame.
    bool lead(double bpm)
    {
        m_bpm = bpm;
        return jack_set_timebase_callback(
                   m_client, 0,
                   [](jack_transport_state_t, jack_nframes_t, jack_position_t *pos, int, void *self) {
                       const double beats = pos->frame * static_cast<Reader *>(self)->m_bpm / (60.0 * kRate);
                       pos->valid = static_cast<jack_position_bits_t>(JackPositionBBT | JackTickDouble);
                       pos->bar = static_cast<std::int32_t>(beats / 4) + 1;
                       pos->beat = static_cast<std::int32_t>(beats) % 4 + 1;
                       pos->tick_double = (beats - std::floor(beats)) * 1920;
                       pos->tick = static_cast<std::int32_t>(pos->tick_double);
                       pos->beats_per_bar = 4;
                       pos->beat_type = 4;
                       pos->ticks_per_beat = 1920;
                       pos->bar_start_tick = (pos->bar - 1) * 4 * 1920.0;
                       pos->beats_per_minute = static_cast<Reader *>(self)->m_bpm;
                   },
                   this) == 0;
    }
    jack_client_t *client() const { return m_client; }

private:
    int process(jack_nframes_t frames)
    {
        const auto start = static_cast<std::int64_t>(jack_last_frame_time(m_client));
        jack_position_t pos;
        const jack_transport_state_t state = jack_transport_query(m_client, &pos);
        const bool rolling = state == JackTransportRolling;
        void *midi = jack_port_get_buffer(m_midi, frames);
        const auto *audio = static_cast<const float *>(jack_port_get_buffer(m_audio, frames));
        // A cycle dated before the last one's end: the server's clock went back, or (PipeWire's
        // JACK service, as a client leaves) gave this one cycle a stale time. Only that cycle
        // and the one expected are in doubt until the next shows which.
        const bool wentBack = start == m_back;
        if (m_next >= 0 && start < m_next && !wentBack) {
            m_holes.append({start, start + frames});
            m_holes.append({m_next, m_next + frames});
            m_back = start + frames;
            m_next += frames;
        } else {
            if (m_next >= 0 && start > m_next && !wentBack)
                m_holes.append({m_next, start + frames});
            m_back = -1;
            m_next = start + frames;
        }
        if (m_rolling && state == JackTransportStopped && m_stoppedAt < 0)
            m_stoppedAt = start;
        // A busy server now and then holds the transport back a cycle, or lets it run one
        // ahead, against its frames: a note placed before that lands a cycle off it.
        const auto slip = static_cast<std::int64_t>(pos.frame) - m_nextTransportFrame;
        if (m_rolling && rolling && slip != 0 && std::abs(slip) <= 2 * std::int64_t(frames))
            m_slippedAt = start;
        m_nextTransportFrame = static_cast<std::int64_t>(pos.frame) + frames;
        m_rolling = rolling;
        const std::uint32_t count = jack_midi_get_event_count(midi);
        for (std::uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, midi, i) != 0)
                continue;
            Event e{start + event.time, event.size > 0 ? event.buffer[0] : std::uint8_t(0),
                    event.size > 1 ? event.buffer[1] : std::uint8_t(0xFF),
                    event.size > 2 ? event.buffer[2] : std::uint8_t(0xFF)};
            if (rolling)
                e.transportFrame = static_cast<std::int64_t>(pos.frame) + event.time;
            if (m_slippedAt >= 0)
                e.sinceSlip = e.frame - m_slippedAt;
            if (event.size != 3)
                e.status = 0; // a malformed message: never sent by the program
            m_events.append(e);
        }
        void *clock = jack_port_get_buffer(m_clock, frames);
        for (std::uint32_t i = 0; i < jack_midi_get_event_count(clock); ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, clock, i) == 0 && event.size > 0)
                m_clockEvents.append({start + event.time, event.buffer[0], std::uint8_t(event.size), 0});
        }
        m_cycleOnsets.clear(); // room set aside: no allocation here
        m_clicks.read(audio, frames, start, m_cycleOnsets);
        for (const std::int64_t onset : m_cycleOnsets)
            m_onsets.append(onset);
        return 0;
    }

    // JACK's notification thread: a client missed its cycle; what it sent about then is
    // not on its frames. The word comes late on a busy machine.
    void underRun()
    {
        const auto now = static_cast<std::int64_t>(jack_frame_time(m_client));
        m_underRuns.append({now - kRate * 3 / 10, now + kRate / 50});
    }

    jack_client_t *m_client = nullptr;
    using Hole = std::pair<std::int64_t, std::int64_t>;
    std::int64_t m_next = -1;       // the next cycle's first frame, if none is missed
    std::int64_t m_back = -1;       // after a cycle dated back: the next one's first frame on that time
    Log<Hole> m_holes{1 << 16};     // the process thread's
    Log<Hole> m_underRuns{1 << 12}; // the notification thread's
    jack_port_t *m_midi = nullptr;
    jack_port_t *m_audio = nullptr;
    jack_port_t *m_clock = nullptr;
    Log<Event> m_events{1 << 16};
    Log<Event> m_clockEvents{1 << 18};
    Log<std::int64_t> m_onsets{1 << 16};
    std::vector<std::int64_t> m_cycleOnsets = std::vector<std::int64_t>(4096);
    pulsewerk::ClickDetector m_clicks{kRate};
    bool m_rolling = false;
    std::atomic<std::int64_t> m_stoppedAt{-1};
    std::int64_t m_nextTransportFrame = 0;
    std::int64_t m_slippedAt = -1;
    std::atomic<double> m_bpm{120};
};

} // namespace

class TestJack : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    // Every note-on of 120 bpm in 4/4 is 24000 frames after the one before, the stored
    // strong and weak notes with their velocities, each released before the next, and
    // each sounds on the audio ports within the synthesizer's attack of its frame.
    void beatIsFrameExact();
    // The server goes away and comes back: the program says so, beats on, and its
    // client returns with the beat frame-exact again.
    void serverReturns();
    // With --no-synth (and JACK asked for by PULSEWERK_AUDIO) the MIDI port alone
    // carries the beat, frame-exact.
    void midiPortAlone();
    // However the program ends at 208 bpm, at the shortest period and a long one, every
    // note-on it sent on the beat port is released on it before its client goes.
    // PULSEWERK_TEST_EXITS sets how many exits each row makes (3 unless given).
    void exitReleasesEveryNote_data();
    void exitReleasesEveryNote();

    // A server with 4096-frame cycles (85 ms, longer than the room a note is given
    // beyond the stream's latency) and another tempo and multiplier: every note-on still
    // exactly a beat's frames after the one before, none left on a cycle's start.
    void longPeriodOtherTempo();
    // On the clock port, from the program's start (its ports connected again as the runs
    // before left them, --no-connect leaving them alone) and after Space: a run at 208,
    // 41 and 120 bpm whose ticks are a 24th of the beat's period apart, on its note-ons'
    // frames, with a tempo change taking effect at the next beat, and Stop at Space and
    // at the end.
    void clockRuns_data();
    void clockRuns();

    // With --transport and no other master the program leads: the transport's bar, beat
    // and tick are its meter's and tempo's at every frame, and its beat rolls with it.
    void transportLed();
    // A master at 97 bpm starts, relocates and stops the transport: every note-on falls
    // exactly on one of its beats, the strong note on the bar's first, none after the
    // stop; a master beyond 208 bpm is said once.
    void transportFollowed();

private:
    bool startServer(int period = 256);
    // The program starts on no display again, after the exits that gave it one.
    void offscreen();
    bool startDisplay();
    // Ends the program `way`; what went wrong, if anything.
    QString endProgram(const QString &way);
    static QString waitingIn(qint64 pid);
    // What the program said and where its threads are, for a wait on it that ran out;
    // only then: a debugger that attaches stops the program while it reads the stacks.
    QString heldProgram() const
    {
        return QString::fromLocal8Bit(m_programErr) + QStringLiteral("; its threads wait in: ") +
               waitingIn(m_program.processId());
    }
    // The last lines the servers wrote.
    QString serverLogTail() const;
    void stopServer();
    // Waits for the program's client and connects the reader to it.
    void readProgram();
    // Checks the beat recorded since the last clear(): at least `bars` bars of 4/4,
    // note-ons `beatFrames` apart.
    void checkBeat(int bars, bool audio, std::int64_t beatFrames = kBeatFrames);
    // Checks the clock recorded since the last clear(): ticks `tickFrames` apart, a
    // note-on among them on a tick.
    void checkClock(std::int64_t tickFrames);
    // Checks `runs` whole runs of the clock recorded since the last clear(): Song
    // Position Pointer and Start, a tick on the run's first note-on, ticks `tickFrames`
    // apart but for `changes` tempo changes, Stop.
    void checkClockRuns(int runs, std::int64_t tickFrames, int changes);
    // Types `key` on the main window; what went wrong, if anything.
    QString pressKey(const QString &key);
    // Checks that the note-ons of the transport's rolling recorded since the last clear()
    // fall on its beats at `bpm`, at least `count` of them, the strong note on each bar's
    // first; and that none sounds later than a moment after the stop, if there was one.
    void checkTransportBeats(double bpm, int count);

    QTemporaryDir m_home;
    bool m_pipewire = false;
    QProcess m_bus;     // PipeWire's session bus
    QProcess m_server;  // jackd, or PipeWire
    QProcess m_session; // WirePlumber
    QProcess m_program;
    QByteArray m_programErr;
    QProcess m_display; // Xvfb, for the exits that need a window on a display
    // openbox on it, as on a desktop: it hands the focus to a new window, and as a client
    // that stays it keeps Xvfb from resetting when a program ends, which would cut off a
    // program starting just then.
    QProcess m_windowManager;
    QByteArray m_displayName;
    int m_period = 256;
    Reader m_reader;
    std::int64_t m_strongClickDelay = -1; // frames from a strong note-on to its click
};

bool TestJack::startServer(int period)
{
    m_period = period;
    // The servers' logs, kept for a failure's reading.
    const QString log = m_home.filePath(QStringLiteral("server.log"));
    const auto start = [&](QProcess &process, const QString &program, const QStringList &arguments) {
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(log, QIODevice::Append);
        process.start(program, arguments);
        return process.waitForStarted(10000);
    };
    if (m_pipewire) {
        // PipeWire with its session manager; the null sink of its configuration is the
        // graph's clock and its physical playback ports.
        if (!start(m_server, QStringLiteral("pipewire"), {}) || !start(m_session, QStringLiteral("wireplumber"), {}))
            return false;
    } else if (!start(m_server, QStringLiteral("jackd"),
                      {"-d", "dummy", "-r", QString::number(kRate), "-p", QString::number(period)})) {
        return false;
    }
    // The server answers once a client can open and sees the playback ports.
    for (int i = 0; i < 200 && m_server.state() == QProcess::Running; ++i) {
        if (m_reader.open() && !m_reader.playbackPorts().isEmpty())
            return true;
        m_reader.close();
        QTest::qWait(50);
    }
    return false;
}

QString TestJack::serverLogTail() const
{
    QFile log(m_home.filePath(QStringLiteral("server.log")));
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(none)");
    const QStringList lines = QString::fromLocal8Bit(log.readAll()).split(QLatin1Char('\n'));
    return lines.mid(std::max<qsizetype>(0, lines.size() - 15)).join(QLatin1Char('\n'));
}

void TestJack::offscreen()
{
    QProcessEnvironment env = m_program.processEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("DISPLAY"));
    m_program.setProcessEnvironment(env);
}

void TestJack::stopServer()
{
    m_reader.close();
    for (QProcess *process : {&m_session, &m_server}) {
        process->terminate();
        process->waitForFinished(10000);
    }
}

void TestJack::initTestCase()
{
    jack_set_error_function([](const char *) {}); // the library's complaints while the server starts
    // The server and its clients (this test and the program) meet in the test's own
    // folder: a private JACK server name, or PipeWire's socket in XDG_RUNTIME_DIR.
    m_pipewire = qEnvironmentVariable("PULSEWERK_TEST_JACK") == QLatin1String("pipewire");
    const QString server = m_pipewire ? QStringLiteral("pipewire") : QStringLiteral("jackd");
    if (QStandardPaths::findExecutable(server).isEmpty())
        QFAIL(qPrintable(server + QStringLiteral(" is missing (scripts/deps installs it)")));
    qputenv("JACK_DEFAULT_SERVER", "pulsewerk-test-" + QByteArray::number(QCoreApplication::applicationPid()));
    qputenv("JACK_NO_AUDIO_RESERVATION", "1");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_home.path()));
    if (m_pipewire) {
        // 256-frame cycles at 48 kHz, as with jackd; the session bus WirePlumber needs.
        qputenv("PIPEWIRE_LATENCY", "256/48000");
        const QString config = m_home.filePath(QStringLiteral("pipewire-config"));
        QVERIFY(QDir().mkpath(config + QStringLiteral("/pipewire/pipewire.conf.d")));
        QFile nullSink(config + QStringLiteral("/pipewire/pipewire.conf.d/null.conf"));
        QVERIFY(nullSink.open(QIODevice::WriteOnly));
        nullSink.write("context.objects = [ { factory = adapter args = { factory.name = support.null-audio-sink "
                       "node.name = nullsink media.class = Audio/Sink audio.position = [ FL FR ] "
                       "object.linger = true priority.driver = 1000 priority.session = 1000 } } ]\n");
        nullSink.close();
        // Longer cycles than PipeWire's default 2048 frames may be asked for.
        QFile quantum(config + QStringLiteral("/pipewire/pipewire.conf.d/quantum.conf"));
        QVERIFY(quantum.open(QIODevice::WriteOnly));
        quantum.write("context.properties = { default.clock.max-quantum = 8192 }\n");
        quantum.close();
        // On a system without systemd-logind, WirePlumber's Bluetooth monitor ends its
        // connection to PipeWire; a headless server needs no Bluetooth.
        QVERIFY(QDir().mkpath(config + QStringLiteral("/wireplumber/bluetooth.lua.d")));
        QFile headless(config + QStringLiteral("/wireplumber/bluetooth.lua.d/80-headless.lua"));
        QVERIFY(headless.open(QIODevice::WriteOnly));
        headless.write("bluez_monitor.enabled = false\n");
        headless.close();
        const QString bus = QStringLiteral("unix:path=") + m_home.filePath(QStringLiteral("bus"));
        m_bus.start(QStringLiteral("dbus-daemon"), {"--session", "--address=" + bus, "--nofork", "--nopidfile"});
        QVERIFY(m_bus.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_home.filePath(QStringLiteral("bus"))), 10000);
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus.toUtf8());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        m_server.setProcessEnvironment(env);
        m_session.setProcessEnvironment(env);
    }
    QVERIFY(startServer());

    QVERIFY(QDir().mkpath(m_home.filePath(QStringLiteral("config/Pulsewerk"))));
    QFile store(m_home.filePath(QStringLiteral("config/Pulsewerk/Pulsewerk.conf")));
    QVERIFY(store.open(QIODevice::WriteOnly));
    store.write(QStringLiteral("[Options]\nChannel=10\nStrongNote=%1\nStrongVel=%2\nWeakNote=%3\nWeakVel=%4\n")
                    .arg(kStrongNote)
                    .arg(kStrongVelocity)
                    .arg(kWeakNote)
                    .arg(kWeakVelocity)
                    .toUtf8());
    store.close();

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_home.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), m_home.path());
    env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:/nonexistent/pulse/native"));
    m_program.setProcessEnvironment(env);
    m_program.start(QStringLiteral(PULSEWERK_EXECUTABLE), {"--jack", "--tempo", "120", "--meter", "4/4"});
    QVERIFY(m_program.waitForStarted(30000));
    connect(&m_program, &QProcess::readyReadStandardError, this,
            [this] { m_programErr += m_program.readAllStandardError(); });
}

void TestJack::cleanupTestCase()
{
    m_program.kill();
    m_program.waitForFinished(10000);
    stopServer();
    m_display.kill();
    m_display.waitForFinished(10000);
    m_windowManager.waitForFinished(10000);
    m_bus.terminate();
    m_bus.waitForFinished(10000);
}

void TestJack::readProgram()
{
    if (!QTest::qWaitFor([this] { return m_reader.hasPort("Pulsewerk:beat"); }, 30000))
        QFAIL(qPrintable(heldProgram()));
    QTRY_VERIFY_WITH_TIMEOUT(m_reader.connectProgram(), 5000);
    m_reader.clear();
}

void TestJack::checkBeat(int bars, bool audio, std::int64_t beatFrames)
{
    QTRY_VERIFY_WITH_TIMEOUT(m_reader.noteOns() >= 4 * bars + 4, 60000);
    const std::vector<Event> events = m_reader.events();
    std::vector<Event> ons;
    for (const Event &e : events) {
        // PipeWire's JACK service passes a release on as a note-off.
        const bool noteOff = m_pipewire && e.status == kNoteOff;
        QVERIFY2((e.status == kStatus || noteOff) && e.data1 < 128 && e.data2 < 128,
                 qPrintable(QStringLiteral("only note messages on channel 10, not %1 %2 %3 at frame %4")
                                .arg(e.status, 2, 16, QLatin1Char('0'))
                                .arg(e.data1, 2, 16, QLatin1Char('0'))
                                .arg(e.data2, 2, 16, QLatin1Char('0'))
                                .arg(e.frame)));
        if (e.data2 > 0 && !noteOff)
            ons.push_back(e);
    }
    // The first strong note starts the bar (the beats before it may be cut by the connection).
    std::size_t first = 0;
    while (first < ons.size() && ons[first].data1 != kStrongNote)
        ++first;
    QVERIFY2(first < 4, "a strong note within the first bar");
    QStringList intervals;
    for (std::size_t i = first + 1; i < ons.size(); ++i)
        intervals << QString::number(ons[i].frame - ons[i - 1].frame);
    qInfo("note-on intervals in frames: %s", qPrintable(intervals.join(u' ')));
    // One note the server carried whole cycles late, in an under-run it reported (the
    // program's client missed its cycle), is set aside when the next one is back on the
    // grid: the reader cannot tell it from a misplaced note by its frame alone. A beat
    // due in cycles the client missed altogether, in such an under-run, is not heard.
    std::size_t carriedLate = 0; // its index
    std::int64_t beat = 0;       // the note's beat, from the first strong one
    for (std::size_t i = first; i < ons.size(); ++i) {
        const bool dropped = i > first && ons[i].frame - ons[i - 1].frame == 2 * beatFrames &&
                             !m_reader.steady(ons[i - 1].frame, ons[i].frame);
        beat += i == first ? 0 : dropped ? 2 : 1;
        if (dropped)
            qInfo("the beat before note-on %zu dropped in an under-run", i - first);
        const bool strong = beat % 4 == 0;
        QCOMPARE(int(ons[i].data1), strong ? kStrongNote : kWeakNote);
        QCOMPARE(int(ons[i].data2), strong ? kStrongVelocity : kWeakVelocity);
        if (i == first)
            continue;
        const std::int64_t late = ons[i].frame - ons[i - 1].frame - beatFrames;
        if (carriedLate == 0 && late > 0 && late % m_period == 0 && i + 1 < ons.size() &&
            ons[i + 1].frame - ons[i].frame == beatFrames - late && !m_reader.steady(ons[i - 1].frame, ons[i].frame)) {
            qInfo("note-on %zu carried %lld frames late in an under-run", i - first, static_cast<long long>(late));
            carriedLate = i;
            continue;
        }
        if ((carriedLate > 0 && i == carriedLate + 1) || dropped)
            continue; // the one after it, back on the grid
        QCOMPARE(ons[i].frame - ons[i - 1].frame, beatFrames);
    }
    // Every note-on is released before the next one sounds.
    for (std::size_t i = first; i + 1 < ons.size(); ++i) {
        const bool released = std::any_of(events.begin(), events.end(), [&](const Event &e) {
            return (e.data2 == 0 || e.status == kNoteOff) && e.data1 == ons[i].data1 && e.frame > ons[i].frame &&
                   e.frame <= ons[i + 1].frame;
        });
        QVERIFY2(released, qPrintable(QStringLiteral("note-on %1 is released").arg(i)));
    }
    if (!audio)
        return;
    // Each note-on sounds on the audio port within the attack of its frame, a click of
    // its kind always the same number of frames after it, and a strong one in every
    // stream (a note left on the synthesizer's 64-frame blocks would not be); and nothing
    // else sounds. A soft click's first frames rise a few frames sooner or later with what
    // its synthesizer played before, so the weak one's is compared within a stream.
    const std::vector<std::int64_t> onsets = m_reader.onsets();
    QStringList delays;
    std::int64_t weakDelay = -1;
    std::size_t heardCount = 0;
    for (std::size_t i = first; i + 1 < ons.size(); ++i) {
        const auto heard = std::find_if(onsets.begin(), onsets.end(),
                                        [&](std::int64_t at) { return at >= ons[i].frame - kAttackFrames; });
        const std::int64_t delay = heard == onsets.end() ? -1 : *heard - ons[i].frame;
        delays << QString::number(delay);
        std::int64_t &kind = ons[i].data1 == kStrongNote ? m_strongClickDelay : weakDelay;
        if (kind < 0)
            kind = delay;
        QVERIFY2(delay >= 0 && delay <= kAttackFrames && std::abs(delay - kind) <= 1,
                 qPrintable(QStringLiteral("click delays in frames: ") + delays.join(u' ')));
        heardCount += heard != onsets.end() && *heard < ons[i + 1].frame;
    }
    qInfo("clicks after their note-ons, in frames: %s", qPrintable(delays.join(u' ')));
    const auto extra = std::count_if(onsets.begin(), onsets.end(),
                                     [&](std::int64_t at) { return at >= ons[first].frame && at < ons.back().frame; });
    QCOMPARE(std::size_t(extra), heardCount);
}

void TestJack::beatIsFrameExact()
{
    readProgram();
    if (QTest::currentTestFailed())
        return;
    // The audio ports go to the first two playback ports by themselves.
    const QList<QByteArray> playback = m_reader.playbackPorts();
    QVERIFY(playback.size() >= 2);
    QTRY_VERIFY_WITH_TIMEOUT(m_reader.connected("Pulsewerk:out_left", playback[0].constData()), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(m_reader.connected("Pulsewerk:out_right", playback[1].constData()), 5000);
    checkBeat(4, true);
    checkClock(kBeatFrames / 24);
    QVERIFY2(!m_programErr.contains("JACK"), m_programErr.constData()); // nothing to say
}

void TestJack::serverReturns()
{
    stopServer();
    QTRY_VERIFY2_WITH_TIMEOUT(m_programErr.contains("the JACK server went away"), m_programErr.constData(), 10000);
    QCOMPARE(m_program.state(), QProcess::Running);
    QVERIFY(startServer());
    if (!QTest::qWaitFor([this] { return m_programErr.contains("the JACK server is back"); }, 20000))
        QFAIL(qPrintable(heldProgram() + QStringLiteral("; the server's log ends: ") + serverLogTail()));
    readProgram();
    if (QTest::currentTestFailed())
        return;
    checkBeat(2, true);
    QVERIFY2(m_programErr.count('\n') == 2, m_programErr.constData()); // one line each
}

void TestJack::midiPortAlone()
{
    m_program.kill();
    QVERIFY(m_program.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!m_reader.hasPort("Pulsewerk:beat"), 10000);
    m_programErr.clear();
    QProcessEnvironment env = m_program.processEnvironment();
    env.insert(QStringLiteral("PULSEWERK_AUDIO"), QStringLiteral("jack"));
    m_program.setProcessEnvironment(env);
    m_program.start(QStringLiteral(PULSEWERK_EXECUTABLE), {"--no-synth", "--tempo", "120", "--meter", "4/4"});
    QVERIFY(m_program.waitForStarted(30000));
    readProgram();
    if (QTest::currentTestFailed())
        return;
    QVERIFY(!m_reader.hasPort("Pulsewerk:out_left"));
    QVERIFY(!m_reader.hasPort("Pulsewerk:out_right"));
    checkBeat(2, false);
    checkClock(kBeatFrames / 24);
    QVERIFY2(m_programErr.count("Pulsewerk:") == 0, m_programErr.constData());
}

bool TestJack::startDisplay()
{
    if (m_display.state() == QProcess::Running && displayAnswers(m_displayName.mid(1)))
        return true;
    m_display.kill(); // one that died, or is dying
    m_display.waitForFinished(10000);
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        return false;
    // Xvfb picks a free display and prints its number.
    m_display.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-screen", "0", "800x1100x24", "-nolisten", "tcp"});
    if (!m_display.waitForStarted(10000))
        return false;
    while (!m_display.canReadLine() && m_display.waitForReadyRead(15000)) {
    }
    const QByteArray number = m_display.readLine().trimmed();
    m_displayName = ':' + number;
    if (!QTest::qWaitFor([&] { return displayAnswers(number); }, 15000))
        return false;
    const auto managed = [this] {
        QProcess xprop;
        xprop.start(QStringLiteral("xprop"),
                    {"-display", QString::fromLatin1(m_displayName), "-root", "_NET_SUPPORTING_WM_CHECK"});
        return xprop.waitForFinished(5000) && xprop.readAllStandardOutput().contains("window id");
    };
    for (int attempt = 0; attempt < 3; ++attempt) { // a reset as it connects cuts it off
        m_windowManager.kill();
        m_windowManager.waitForFinished(10000);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_displayName));
        m_windowManager.setProcessEnvironment(env);
        m_windowManager.setStandardOutputFile(QProcess::nullDevice());
        m_windowManager.setStandardErrorFile(QProcess::nullDevice());
        m_windowManager.start(QStringLiteral("openbox"), {"--sm-disable"});
        if (m_windowManager.waitForStarted(10000) &&
            QTest::qWaitFor([&] { return m_windowManager.state() != QProcess::Running || managed(); }, 15000) &&
            m_windowManager.state() == QProcess::Running)
            return true;
    }
    return false;
}

QString TestJack::pressKey(const QString &key)
{
    QProcess xdotool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_displayName));
    xdotool.setProcessEnvironment(env);
    // A window found while the toolkit still replaces it at start is gone by the focus
    // (BadWindow): look it up again. The key then goes to the focused window as typed
    // (XTest): sent to the window itself, it was taken only every other time by a program
    // on a display that did not reset since the last one ended on such a key.
    for (int attempt = 0;; ++attempt) {
        xdotool.start(QStringLiteral("xdotool"),
                      {"search", "--sync", "--onlyvisible", "--name", "^Pulsewerk$", "windowfocus", "--sync"});
        if (xdotool.waitForFinished(10000) && xdotool.exitCode() == 0)
            break;
        xdotool.kill();
        xdotool.waitForFinished(1000);
        if (attempt == 2)
            return QStringLiteral("xdotool: ") + QString::fromLocal8Bit(xdotool.readAllStandardError());
    }
    xdotool.start(QStringLiteral("xdotool"), {"key", "--clearmodifiers", key});
    if (!xdotool.waitForFinished(10000) || xdotool.exitCode() != 0)
        return QStringLiteral("xdotool: ") + QString::fromLocal8Bit(xdotool.readAllStandardError());
    return {};
}

QString TestJack::endProgram(const QString &way)
{
    if (way == QLatin1String("SIGTERM")) {
        m_program.terminate();
    } else if (way == QLatin1String("X server dies")) {
        m_display.terminate();
        if (!m_display.waitForFinished(10000)) {
            m_display.kill(); // and gone before the next start looks for a display
            m_display.waitForFinished(10000);
        }
    } else {
        const QString failure = pressKey(QStringLiteral("ctrl+q"));
        if (!failure.isEmpty())
            return failure;
    }
    // An exit under the sanitizers on a busy machine (the leak check runs) takes a while.
    // (A program that ended while pressKey() waited for it is not running any more, and
    // waitForFinished() says false for it.)
    if (m_program.state() != QProcess::NotRunning && !m_program.waitForFinished(30000))
        return QStringLiteral("the program does not end; its threads wait in: %1; it said: %2")
            .arg(waitingIn(m_program.processId()), QString::fromLocal8Bit(m_programErr));
    return {};
}

// Each thread of process `pid` by name, with the kernel function it sleeps in: where a
// program that does not end is held.
QString TestJack::waitingIn(qint64 pid)
{
    QStringList threads;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const auto read = [&](const char *name) {
            QFile file(tasks + u'/' + task + u'/' + QLatin1String(name));
            return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).trimmed() : QString();
        };
        threads << read("comm") + u' ' + read("wchan");
    }
    // Where a debugger is at hand, the functions each thread is in.
    const QString gdb = QStandardPaths::findExecutable(QStringLiteral("gdb"));
    if (gdb.isEmpty())
        return threads.join(QStringLiteral(", "));
    QProcess trace;
    trace.start(gdb, {"-batch", "-p", QString::number(pid), "-ex", "thread apply all bt"});
    trace.waitForFinished(60000);
    const QStringList frames = QString::fromLocal8Bit(trace.readAllStandardOutput()).split(u'\n');
    return threads.join(QStringLiteral(", ")) + QStringLiteral("; their stacks:\n") +
           frames.filter(QRegularExpression(QStringLiteral("^(Thread|#)"))).join(u'\n');
}

void TestJack::exitReleasesEveryNote_data()
{
    QTest::addColumn<QString>("way");
    QTest::addColumn<int>("period");
    for (const int period : {256, 4096}) {
        for (const char *way : {"SIGTERM", "Ctrl+Q", "X server dies"})
            QTest::addRow("%s, %d frames", way, period) << QString::fromLatin1(way) << period;
    }
}

void TestJack::exitReleasesEveryNote()
{
    QFETCH(QString, way);
    QFETCH(int, period);
    const bool window = way != QLatin1String("SIGTERM");
    if (window && !startDisplay())
        QFAIL("Xvfb does not start (scripts/deps installs it)");
    m_program.kill();
    m_program.waitForFinished(10000);
    if (period != m_period) {
        stopServer();
        qputenv("PIPEWIRE_LATENCY", QByteArray::number(period) + "/48000");
        QVERIFY(startServer(period));
    }
    QProcessEnvironment env = m_program.processEnvironment();
    env.remove(QStringLiteral("PULSEWERK_AUDIO"));
    env.insert(QStringLiteral("PIPEWIRE_LATENCY"), QString::number(period) + QStringLiteral("/48000"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), window ? QStringLiteral("xcb") : QStringLiteral("offscreen"));
    const int exits =
        qEnvironmentVariableIsSet("PULSEWERK_TEST_EXITS") ? qEnvironmentVariableIntValue("PULSEWERK_TEST_EXITS") : 3;
    for (int run = 0; run < exits; ++run) {
        QVERIFY(startDisplay() || !window); // after the X server's death, a new one
        env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_displayName));
        m_program.setProcessEnvironment(env);
        m_programErr.clear();
        m_program.start(QStringLiteral(PULSEWERK_EXECUTABLE), {"--jack", "-t", "208"});
        QVERIFY(m_program.waitForStarted(30000));
        readProgram();
        if (QTest::currentTestFailed()) {
            qWarning("the program said: %s", m_programErr.constData());
            return;
        }
        // The exits come at different points of the beat: some while a note sounds.
        if (!QTest::qWaitFor([this] { return m_reader.noteOns() >= 3; }, 30000))
            QFAIL(qPrintable(QStringLiteral("no beat: ") + heldProgram()));
        QTest::qWait(run * 97 % 288);
        const QString failure = endProgram(way);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QTRY_VERIFY_WITH_TIMEOUT(!m_reader.hasPort("Pulsewerk:beat"), 10000);
        // The notes each message leaves sounding, by channel and note, in the order sent.
        QSet<int> sounding;
        int noteOns = 0, releases = 0;
        for (const Event &e : m_reader.events()) {
            const int note = (e.status & 0x0F) * 128 + e.data1;
            if ((e.status & 0xF0) == 0x90 && e.data2 > 0) {
                ++noteOns;
                sounding.insert(note);
            } else if ((e.status & 0xF0) == 0x90 || (e.status & 0xF0) == 0x80) {
                releases += sounding.remove(note);
            }
        }
        qInfo("%s, %d frames, exit %d: %d note-ons, %d released", qPrintable(way), period, run + 1, noteOns, releases);
        QVERIFY2(sounding.isEmpty(), qPrintable(QStringLiteral("%1 of %2 note-ons left without a release at exit %3")
                                                    .arg(sounding.size())
                                                    .arg(noteOns)
                                                    .arg(run + 1)));
    }
}

void TestJack::longPeriodOtherTempo()
{
    if (m_pipewire)
        QSKIP("PipeWire's cycle is its graph's, set for the whole test");
    m_program.kill(); // the one before may have ended already
    m_program.waitForFinished(10000);
    stopServer();
    QVERIFY(startServer(4096));
    offscreen();
    m_programErr.clear();
    QProcessEnvironment env = m_program.processEnvironment(); // the exits' display is gone
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_program.setProcessEnvironment(env);
    m_program.start(QStringLiteral(PULSEWERK_EXECUTABLE), {"--jack", "--tempo", "100", "--meter", "4/4", "-x", "2"});
    QVERIFY(m_program.waitForStarted(30000));
    readProgram();
    if (QTest::currentTestFailed())
        return;
    checkBeat(3, true, kRate * 3 / 10); // 100 bpm x2: 300 ms
    checkClock(kRate * 6 / 10 / 24);    // the beat's 600 ms, not the clicks'
}

void TestJack::checkClock(std::int64_t tickFrames)
{
    std::vector<std::int64_t> ticks;
    int unsteady = 0; // intervals over cycles the reader missed, not compared
    for (const Event &e : m_reader.clockEvents()) {
        if (e.status != 0xF8) { // the program's first run may begin after the connection
            QVERIFY(ticks.empty() && (e.status == 0xF2 || e.status == 0xFA));
            continue;
        }
        const bool steady = ticks.empty() || m_reader.steady(ticks.back(), e.frame, 4 * m_period);
        unsteady += !steady;
        if (!ticks.empty() && e.frame - ticks.back() != tickFrames && steady)
            QFAIL(qPrintable(QStringLiteral("tick %1 at %2, %3 frames after the one before")
                                 .arg(ticks.size())
                                 .arg(e.frame)
                                 .arg(e.frame - ticks.back())));
        ticks.push_back(e.frame);
    }
    QVERIFY(ticks.size() > 24);
    qInfo("%zu ticks, %d intervals over a missed cycle", ticks.size(), unsteady);
    // Enough intervals compared to judge by: two beats' worth (a start or a client
    // coming and going makes the server report an under-run, which sets aside 0.3 s).
    QVERIFY(int(ticks.size()) - 1 - unsteady >= 48);
    for (const Event &e : m_reader.events()) {
        if ((e.status & 0xF0) == 0x90 && e.data2 > 0 && e.frame >= ticks.front() && e.frame <= ticks.back())
            QVERIFY2(std::binary_search(ticks.begin(), ticks.end(), e.frame), "a tick on every note-on");
    }
}

void TestJack::checkClockRuns(int runs, std::int64_t tickFrames, int changes)
{
    const std::vector<Event> clock = m_reader.clockEvents();
    const std::vector<std::int64_t> ons = m_reader.noteOnFrames();
    QString seen; // P, S, E: Song Position Pointer, Start, Stop; a dot a tick
    for (const Event &e : clock)
        seen += e.status == 0xF8                   ? u'.'
                : e.status == 0xF2 && e.data1 == 3 ? u'P'
                : e.status == 0xFA                 ? u'S'
                : e.status == 0xFC                 ? u'E'
                                                   : u'?';
    QVERIFY2(QRegularExpression(QStringLiteral("^(PS\\.{24,}E){%1}$").arg(runs)).match(seen).hasMatch(),
             qPrintable(seen));
    QStringList gaps; // the ticks' spacing, run by run, and where the note-ons fall
    for (std::size_t i = 1, same = 1; i < clock.size(); ++i) {
        const std::int64_t gap = clock[i].frame - clock[i - 1].frame;
        const bool more = i + 1 < clock.size() && clock[i + 1].frame - clock[i].frame == gap &&
                          clock[i + 1].status == clock[i].status;
        if (more) {
            ++same;
            continue;
        }
        const bool on = std::binary_search(ons.begin(), ons.end(), clock[i].frame);
        gaps << QStringLiteral("%1%2%3%4")
                    .arg(clock[i].status == 0xF8 ? QString() : QString::number(clock[i].status, 16) + u':')
                    .arg(gap)
                    .arg(same > 1 ? QStringLiteral("x%1").arg(same) : QString())
                    .arg(on ? QStringLiteral("*") : QString());
        same = 1;
    }
    qInfo("clock (frames apart, x repeats, * on a note-on): %s", qPrintable(gaps.join(u' ')));
    std::int64_t spacing = tickFrames;
    for (std::size_t i = 0; i < clock.size(); ++i) {
        if (clock[i].status == 0xF2) {
            // Start on the frame of the first tick, which falls on the run's first note-on.
            const auto first = std::lower_bound(ons.begin(), ons.end(), clock[i].frame);
            QVERIFY(clock[i + 1].frame == clock[i].frame && clock[i + 2].frame == clock[i].frame);
            QVERIFY2(
                first != ons.end() && *first == clock[i].frame,
                qPrintable(QStringLiteral("the first tick on the first note-on; note-ons from the one before: %1")
                               .arg(framesFrom(first == ons.begin() ? first : first - 1, ons.end(), clock[i].frame))));
        } else if (clock[i].status == 0xF8 && clock[i - 1].status == 0xF8 &&
                   clock[i].frame - clock[i - 1].frame != spacing &&
                   m_reader.steady(clock[i - 1].frame, clock[i].frame)) {
            // A tempo change: its ticks from the beat it sounds on, a 24th of the new beat apart.
            // Where the way into that beat lay over missed cycles, the change shows a tick
            // or more later: its first tick is the last on a note-on with the new spacing.
            const std::int64_t gap = clock[i].frame - clock[i - 1].frame;
            std::size_t at = i;
            while (at > 1 && !std::binary_search(ons.begin(), ons.end(), clock[at].frame) &&
                   clock[at - 1].status == 0xF8 && clock[at].frame - clock[at - 1].frame == gap)
                --at;
            const auto beat = std::lower_bound(ons.begin(), ons.end(), clock[at - 1].frame + 1);
            QVERIFY2(changes-- > 0 && beat != ons.end() && *beat == clock[at].frame && beat + 1 != ons.end(),
                     qPrintable(QStringLiteral("%1 frames to the tick at %2; note-ons from there: %3")
                                    .arg(gap)
                                    .arg(clock[i].frame)
                                    .arg(framesFrom(beat, ons.end(), clock[at].frame))));
            spacing = (beat[1] - beat[0]) / 24;
            qInfo("ticks %lld frames apart, then from a note-on %lld", static_cast<long long>(tickFrames),
                  static_cast<long long>(spacing));
            QVERIFY(spacing != tickFrames && clock[at + 1].frame - clock[at].frame == spacing);
        }
    }
    QCOMPARE(changes, 0);
}

void TestJack::clockRuns_data()
{
    QTest::addColumn<int>("tempo");
    QTest::addColumn<bool>("keys");
    QTest::newRow("208 bpm") << 208 << false;
    QTest::newRow("41 bpm") << 41 << false;
    QTest::newRow("120 bpm, Space twice, a tempo change") << 120 << true;
}

void TestJack::clockRuns()
{
    QFETCH(int, tempo);
    QFETCH(bool, keys);
    if (!startDisplay())
        QFAIL("Xvfb does not start (scripts/deps installs it)");
    m_program.kill();
    m_program.waitForFinished(10000);
    if (m_period != 256) {
        stopServer();
        qputenv("PIPEWIRE_LATENCY", "256/48000");
        QVERIFY(startServer());
    }
    QProcessEnvironment env = m_program.processEnvironment();
    env.remove(QStringLiteral("PULSEWERK_AUDIO"));
    env.insert(QStringLiteral("PIPEWIRE_LATENCY"), QStringLiteral("256/48000"));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), QString::fromLatin1(m_displayName));
    m_program.setProcessEnvironment(env);
    const QStringList arguments{"--jack", "--tempo", QString::number(tempo), "--meter", "4/4"};
    const auto connected = [this] {
        return m_reader.connected("Pulsewerk:clock", "pulsewerk-test-reader:clock") &&
               m_reader.connected("Pulsewerk:beat", "pulsewerk-test-reader:beat");
    };
    if (keys) { // --no-connect: nothing connected, and nothing forgotten
        m_program.start(QStringLiteral(PULSEWERK_EXECUTABLE), arguments + QStringList{"--no-connect"});
        QTRY_VERIFY_WITH_TIMEOUT(m_reader.hasPort("Pulsewerk:clock"), 30000);
        QTest::qWait(1000);
        QVERIFY(!connected() && !m_reader.connected("Pulsewerk:out_left", m_reader.playbackPorts()[0].constData()));
        m_program.kill();
        QVERIFY(m_program.waitForFinished(10000));
    }
    m_reader.clear();
    m_program.start(QStringLiteral(PULSEWERK_EXECUTABLE), arguments);
    QVERIFY(m_program.waitForStarted(30000));
    if (!QTest::qWaitFor(connected, 30000)) // by the program itself, as before
        QFAIL(qPrintable(heldProgram()));
    QTRY_VERIFY_WITH_TIMEOUT(m_reader.noteOns() >= 3, 30000);
    if (keys) {
        for (const int run : {1, 2}) {
            QCOMPARE(pressKey(QStringLiteral("space")), QString());
            QTRY_VERIFY_WITH_TIMEOUT(m_reader.clockEvents().back().status == (run == 1 ? 0xFC : 0xF8), 10000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(m_reader.noteOns() >= 6, 30000);
        QCOMPARE(pressKey(QStringLiteral("shift+Up")), QString());
        // Beats at the new tempo (100 bpm), however long the key took on its way: the
        // ticks' change is judged from the beat it sounds on to the next. The interval
        // to the first of them may be the new period already (a change made during a beat
        // moves the next one), so two in a row are waited for.
        const auto atNewTempo = [this] {
            const std::vector<std::int64_t> ons = m_reader.noteOnFrames();
            const std::size_t n = ons.size();
            return n >= 3 && ons[n - 1] - ons[n - 2] == kRate * 60 / 100 && ons[n - 2] - ons[n - 3] == kRate * 60 / 100;
        };
        QTRY_VERIFY_WITH_TIMEOUT(atNewTempo(), 30000);
    }
    QCOMPARE(endProgram(QStringLiteral("Ctrl+Q")), QString());
    QTRY_VERIFY_WITH_TIMEOUT(!m_reader.hasPort("Pulsewerk:clock"), 10000);
    checkClockRuns(keys ? 2 : 1, 60000 / tempo * kRate / 1000 / 24, keys ? 1 : 0);
}

void TestJack::checkTransportBeats(double bpm, int count)
{
    QTRY_VERIFY_WITH_TIMEOUT(m_reader.noteOns() >= count, 60000);
    const double framesPerBeat = 60.0 * kRate / bpm;
    QStringList beats;
    int onBeats = 0, slipped = 0;
    std::int64_t last = -1;
    for (const Event &e : m_reader.events()) {
        if ((e.status & 0xF0) != 0x90 || e.data2 == 0)
            continue;
        const std::int64_t stopped = m_reader.stoppedAt();
        QVERIFY2(stopped < 0 || e.frame < stopped + kRate / 5,
                 qPrintable(QStringLiteral("a note-on at %1, after the stop at %2").arg(e.frame).arg(stopped)));
        QVERIFY2(e.transportFrame >= 0, "no note-on while the transport stands");
        const auto beat = std::llround(static_cast<double>(e.transportFrame) / framesPerBeat);
        beats << QStringLiteral("%1:%2").arg(beat).arg(e.transportFrame - std::llround(beat * framesPerBeat));
        // Exact, unless the transport slipped between the note's placing (its latency
        // before) and its frame.
        if (e.sinceSlip >= 0 && e.sinceSlip < kRate / 4)
            ++slipped;
        else
            QCOMPARE(e.transportFrame, std::llround(beat * framesPerBeat));
        QCOMPARE(int(e.data1), beat % 4 == 0 ? kStrongNote : kWeakNote);
        QVERIFY2(beat > last, "one note-on a beat"); // the transport only moves on here
        last = beat;
        ++onBeats;
    }
    qInfo("note-ons on the transport's beats (beat, then frames off it): %s; %d just after the transport slipped",
          qPrintable(beats.join(u' ')), slipped);
    QVERIFY(onBeats >= count);
    QVERIFY2(onBeats - slipped >= count / 2, "the transport slipped too often to judge");
}

void TestJack::transportLed()
{
    if (m_pipewire)
        QSKIP("PipeWire's JACK service: the transport is checked on jackd");
    m_program.kill();
    QVERIFY(m_program.state() == QProcess::NotRunning || m_program.waitForFinished(10000)); // the exits' ended it
    stopServer();
    QVERIFY(startServer(256)); // a transport at frame 0, with no master
    offscreen();
    m_programErr.clear();
    m_program.start(QStringLiteral(PULSEWERK_EXECUTABLE),
                    {"--transport", "--no-synth", "--tempo", "120", "--meter", "4/4"});
    QVERIFY(m_program.waitForStarted(30000));
    readProgram();
    if (QTest::currentTestFailed())
        return;
    QTest::qWait(1000);
    QCOMPARE(m_reader.noteOns(), 0); // the transport stands, and so does the beat
    jack_transport_start(m_reader.client());
    checkTransportBeats(120, 6);
    jack_position_t pos;
    QCOMPARE(jack_transport_query(m_reader.client(), &pos), JackTransportRolling);
    QVERIFY(pos.valid & JackPositionBBT);
    QCOMPARE(pos.beats_per_minute, 120.0);
    QCOMPARE(pos.beats_per_bar, 4.0f);
    QCOMPARE(pos.ticks_per_beat, 1920.0);
    const double beats = pos.frame / 24000.0;
    QCOMPARE(pos.bar, static_cast<std::int32_t>(beats / 4) + 1);
    QCOMPARE(pos.beat, static_cast<std::int32_t>(beats) % 4 + 1);
    QVERIFY(std::abs(pos.tick - (beats - std::floor(beats)) * 1920) <= 1);
    jack_transport_stop(m_reader.client());
    QTRY_VERIFY(m_reader.stoppedAt() >= 0);
    QTest::qWait(1500);
    checkTransportBeats(120, 6);
}

void TestJack::transportFollowed()
{
    if (m_pipewire)
        QSKIP("PipeWire's JACK service: the transport is checked on jackd");
    QVERIFY(m_reader.lead(97));
    jack_transport_locate(m_reader.client(), 0);
    m_reader.clear();
    jack_transport_start(m_reader.client());
    QTRY_VERIFY_WITH_TIMEOUT(m_reader.noteOns() >= 5, 30000);
    jack_transport_locate(m_reader.client(), 1000000); // mid-beat, while it rolls
    QTRY_VERIFY_WITH_TIMEOUT(m_reader.noteOns() >= 12, 30000);
    jack_transport_stop(m_reader.client());
    QTRY_VERIFY(m_reader.stoppedAt() >= 0);
    QTest::qWait(1500);
    checkTransportBeats(97, 12);
    QVERIFY2(!m_programErr.contains("tempo"), m_programErr.constData());
    // Beyond the slider's range: taken as 208, and said once.
    QVERIFY(m_reader.lead(250));
    jack_transport_locate(m_reader.client(), 0);
    m_reader.clear();
    jack_transport_start(m_reader.client());
    checkTransportBeats(250, 8);
    jack_transport_stop(m_reader.client());
    QCOMPARE(m_programErr.count("taken as 208"), 1);
    jack_transport_stop(m_reader.client());
}

QTEST_MAIN(TestJack)
#include "tst_jack.moc"
