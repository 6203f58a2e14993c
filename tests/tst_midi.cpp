// SPDX-License-Identifier: GPL-3.0-or-later
// The MIDI output: the packed bytes of a note-on, the guard against malformed
// messages, the release of sounding notes, silence when no output is present, and an
// audio thread that never allocates or locks.
#include "TestSupport.h"

#include "RecordingMidiOut.h"
#include "SynthPoolTestAccess.h"
#include "dialogs/frmOptions.h"
#include "engine/mdlMain.h"
#include "engine/mdlMidi.h"
#include "mainwindow/frmMain.h"
#include "sound/AudioBackend.h"
#include "sound/FrameLine.h"
#include "sound/MidiOut.h"
#include "sound/SynthPool.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <dlfcn.h>
#include <mutex>
#include <new>
#include <optional>
#include <pthread.h>
#include <thread>

using pulsewerk::RecordingMidiOut;

// Allocations and lock calls made inside an audio callback, counted on every thread of
// this program: the callback sets t_inCallback while it runs.
namespace {
thread_local bool t_inCallback = false;
std::atomic<int> g_callbackAllocations{0};
std::atomic<int> g_callbackLocks{0};
void countAllocation()
{
    if (t_inCallback)
        ++g_callbackAllocations;
}
} // namespace

#if defined(__SANITIZE_ADDRESS__)
// AddressSanitizer's allocator calls this hook on every allocation, malloc and new alike.
extern "C" void __sanitizer_malloc_hook(const volatile void *, std::size_t) { countAllocation(); }
#else
extern "C" void *__libc_malloc(std::size_t size);
extern "C" void *malloc(std::size_t size)
{
    countAllocation();
    return __libc_malloc(size);
}
#endif

void *operator new(std::size_t size)
{
    countAllocation();
    if (void *memory = std::malloc(size ? size : 1))
        return memory;
    throw std::bad_alloc();
}
void *operator new[](std::size_t size) { return operator new(size); }
void operator delete(void *memory) noexcept { std::free(memory); }
void operator delete[](void *memory) noexcept { std::free(memory); }
void operator delete(void *memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void *memory, std::size_t) noexcept { std::free(memory); }
void *operator new(std::size_t size, const std::nothrow_t &) noexcept
{
    countAllocation();
    return std::malloc(size ? size : 1);
}
void *operator new[](std::size_t size, const std::nothrow_t &tag) noexcept { return operator new(size, tag); }
void operator delete(void *memory, const std::nothrow_t &) noexcept { std::free(memory); }
void operator delete[](void *memory, const std::nothrow_t &) noexcept { std::free(memory); }

extern "C" int pthread_mutex_lock(pthread_mutex_t *mutex)
{
    if (t_inCallback)
        ++g_callbackLocks;
    using Lock = int (*)(pthread_mutex_t *);
    static const auto real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    return real(mutex);
}

namespace {

// What the made-up server's audio thread saw: buffers, messages by kind and each
// note-on's frame, the loudest sample.
struct Heard {
    int buffers = 0;
    int noteOns = 0;
    int releases = 0;
    float peak = 0;
    std::array<std::int64_t, 1024> noteOnFrames{};
    int clockMessages = 0;
    std::array<std::pair<std::int64_t, std::uint32_t>, 4096> clock{}; // frame, message
    // When the source first and last said it rests (nothing sounds, the beat stands).
    std::int64_t firstRestUs = -1, lastRestUs = -1;
    // The buffers due from skipFromUs to skipToUs are played without the source (it
    // missed its cycles), skipped over as JACK's back end does: these frames.
    std::int64_t skipFromUs = -1, skipToUs = -1;
    std::int64_t skippedFrom = -1, skippedTo = -1;
};

// A made-up audio server in the manner of PulseAudio's stream, with a MIDI port as
// JACK's: an audio thread of its own renders a 10 ms buffer when the test asks, with a
// timing report before it. One that amends first adds the notes sent since to what it
// wrote and has not yet passed to its sink, 30 ms before it is heard; one that measures
// finds over its first 300 ms that it must do so 12 ms earlier.
class MadeUpServer final : public pulsewerk::AudioBackend, private pulsewerk::MessageSink {
public:
    static constexpr double kRate = 48000;
    static constexpr int kFrames = 480;
    static constexpr std::int64_t kLatencyUs = 40000;
    static constexpr std::int64_t kReachUs = 30000;
    static constexpr std::int64_t kMeasuredReachUs = 42000;
    static constexpr int kMeasuredAfter = 30; // buffers
    static constexpr int kSeconds = 40;

    MadeUpServer(Heard &heard, bool amends, bool measures)
        : m_heard(heard), m_amends(amends), m_measures(measures), m_left(kSeconds * 48000), m_right(kSeconds * 48000)
    {}
    bool measuring() const override { return m_measures && m_heard.buffers <= kMeasuredAfter; }
    ~MadeUpServer() override { stop(); }
    bool start(pulsewerk::FrameSource &source) override
    {
        m_source = &source;
        source.sendMessagesTo(this);
        source.streamStarted(kRate, kLatencyUs, m_line);
        if (m_amends)
            source.amendsUpTo(kReachUs);
        m_thread = std::thread([this] { run(); });
        return true;
    }
    void stop() override
    {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        m_thread.join();
        m_source->sendMessagesTo(nullptr);
    }
    // The test's thread: one buffer, rendered on the audio thread at `nowUs`.
    void cycle(std::int64_t nowUs)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_nowUs = nowUs;
        m_asked = true;
        m_wake.notify_all();
        m_wake.wait(lock, [this] { return !m_asked; });
    }

private:
    void run()
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_stopping || m_asked; });
            if (m_stopping)
                return;
            lock.unlock();
            t_inCallback = true;
            callback();
            t_inCallback = false;
            lock.lock();
            m_asked = false;
            m_wake.notify_all();
        }
    }
    void callback()
    {
        if (m_heard.buffers++ == 0)
            m_line.start(kRate, m_nowUs, kLatencyUs);
        m_line.report(m_nowUs, m_nowUs, m_line.frameAt(static_cast<double>(m_nowUs)));
        if (m_measures && m_heard.buffers == kMeasuredAfter)
            m_reachUs = m_source->amendsUpTo(kMeasuredReachUs);
        const auto open = static_cast<int>(
            m_written - static_cast<std::int64_t>(std::ceil(m_line.frameAt(static_cast<double>(m_nowUs + m_reachUs)))));
        if (m_amends && open > 0)
            m_source->amend(open, &m_left[std::size_t(m_written - open)], &m_right[std::size_t(m_written - open)]);
        if (m_written + kFrames > static_cast<std::int64_t>(m_left.size()))
            return;
        if (m_nowUs >= m_heard.skipFromUs && m_nowUs < m_heard.skipToUs) {
            m_heard.skippedFrom = m_heard.skippedFrom < 0 ? m_written : m_heard.skippedFrom;
            m_source->skip(kFrames);
            m_written += kFrames;
            m_heard.skippedTo = m_written;
            return;
        }
        m_source->render(kFrames, &m_left[std::size_t(m_written)], &m_right[std::size_t(m_written)]);
        m_written += kFrames;
        if (m_source->resting()) {
            m_heard.firstRestUs = m_heard.firstRestUs < 0 ? m_nowUs : m_heard.firstRestUs;
            m_heard.lastRestUs = m_nowUs;
        }
        // What was written a stream's latency ago has gone to the sink as it stands.
        for (std::int64_t i = std::max<std::int64_t>(0, m_written - 4 * kFrames); i < m_written - 3 * kFrames; ++i)
            m_heard.peak = std::max(m_heard.peak, std::abs(m_left[std::size_t(i)]));
    }
    // Frames count from the buffer being rendered, or back from the end of the last one.
    void clock(int frame, std::uint32_t message) override
    {
        if (m_heard.clockMessages < static_cast<int>(m_heard.clock.size()))
            m_heard.clock[static_cast<std::size_t>(m_heard.clockMessages++)] = {m_written + frame, message};
    }
    void message(int frame, std::uint32_t message) override
    {
        if (((message >> 16) & 0x7F) == 0) {
            ++m_heard.releases;
        } else if (m_heard.noteOns < static_cast<int>(m_heard.noteOnFrames.size())) {
            m_heard.noteOnFrames[static_cast<std::size_t>(m_heard.noteOns++)] = m_written + frame;
        }
    }

    pulsewerk::FrameSource *m_source = nullptr;
    pulsewerk::FrameLine m_line{pulsewerk::FrameLine::Policy::Reports, kRate};
    Heard &m_heard;
    const bool m_amends;
    const bool m_measures;
    std::int64_t m_reachUs = kReachUs;
    std::vector<float> m_left, m_right; // every frame written
    std::int64_t m_written = 0;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::int64_t m_nowUs = 0;
    bool m_asked = false;
    bool m_stopping = false;
};

} // namespace

class TestMidi : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    // A wrong shift or status would send another note, velocity or message type.
    void packedBytes_data();
    void packedBytes();
    // Values out of range would make the status or data bytes malformed.
    void outOfRangeIsNotSent_data();
    void outOfRangeIsNotSent();
    // Nothing reaches a device that is not open, and close happens once.
    void openSendClose();
    // A note still sounding at the end would hang in the synthesizer.
    void releaseSoundingNotes();
    // No output device at all: every call returns normally.
    void noDeviceIsSilent();
    // A beat the loop sends late, and the release sent with it, carry the beat's grid
    // point to the device; every other message carries its sending time.
    void intendedTimeRidesWithTheMessage();
    // The SoundFont: the one chosen by PULSEWERK_SOUNDFONT, else the first General MIDI
    // SoundFont in the user's, then the system's data folders.
    void soundFontSearchOrder_data();
    void soundFontSearchOrder();
    // A note played from a remembered take sounds as the synthesizer plays it, frame for
    // frame, also when it is released earlier or later than the take's note was, and so
    // does one whose start and release come after the frames they fall on were rendered.
    void takesSoundAsLive_data();
    void takesSoundAsLive();
    // The synthesizer's audio callback over half a minute of beating with every kind of
    // message (beats and their releases, mute, a multiplier, the options' audition, the
    // beat clock, a stop and a start): one allocation or lock there is an under-run
    // waiting to happen. The beats land exactly a period of frames apart, before and after
    // the multiplier; the clock's ticks a 24th of the beat's period apart, the multiplier
    // notwithstanding, a run's first on its first note-on, with Start before and Stop after.
    // The same where the notes go into frames already written (a stream that amends),
    // and where the stream learns over its first moments how far ahead it must amend:
    // the notes' delay waits for that, and holds from the first beat on. A beat due in
    // frames the server played without the source is dropped, not heard late.
    void audioThreadNeitherAllocatesNorLocks_data();
    void audioThreadNeitherAllocatesNorLocks();

private:
    RecordingMidiOut::Log m_log;
    std::optional<RecordingContext> m_program;
};

void TestMidi::init()
{
    m_log = {};
    m_program.emplace(m_log);
    mdlMidi::OpenMidiOut();
}

void TestMidi::cleanup()
{
    mdlMidi::CloseMidiOut();
    m_program.reset();
}

void TestMidi::packedBytes_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("note");
    QTest::addColumn<int>("velocity");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("channel 10 strong") << 9 << 61 << 80 << QByteArray::fromHex("993d5000");
    QTest::newRow("channel 10 release") << 9 << 61 << 0 << QByteArray::fromHex("993d0000");
    QTest::newRow("channel 1 weak") << 0 << 60 << 50 << QByteArray::fromHex("903c3200");
    QTest::newRow("channel 16 top values") << 15 << 127 << 127 << QByteArray::fromHex("9f7f7f00");
}

void TestMidi::packedBytes()
{
    QFETCH(int, channel);
    QFETCH(int, note);
    QFETCH(int, velocity);
    QFETCH(QByteArray, bytes);
    const std::int16_t c = static_cast<std::int16_t>(channel);
    const std::int16_t n = static_cast<std::int16_t>(note);
    const std::int16_t v = static_cast<std::int16_t>(velocity);
    mdlMidi::PlayNote(c, n, v);
    QCOMPARE(m_log.messages.size(), std::size_t(1));
    const auto &sent = m_log.messages.front();
    QByteArray actual;
    for (const std::uint8_t byte : {sent.status(), sent.data1(), sent.data2(), sent.byte3()})
        actual.append(static_cast<char>(byte));
    QCOMPARE(actual.toHex(), bytes.toHex());
}

void TestMidi::outOfRangeIsNotSent_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("note");
    QTest::addColumn<int>("velocity");
    QTest::newRow("channel 16") << 16 << 60 << 50;
    QTest::newRow("channel -1") << -1 << 60 << 50;
    QTest::newRow("note 128") << 9 << 128 << 50;
    QTest::newRow("note -1") << 9 << -1 << 50;
    QTest::newRow("velocity 128") << 9 << 60 << 128;
    QTest::newRow("velocity 300") << 9 << 60 << 300;
    QTest::newRow("velocity -1") << 9 << 60 << -1;
    QTest::newRow("note 32767") << 9 << 32767 << 50;
}

void TestMidi::outOfRangeIsNotSent()
{
    QFETCH(int, channel);
    QFETCH(int, note);
    QFETCH(int, velocity);
    const std::int16_t c = static_cast<std::int16_t>(channel);
    const std::int16_t n = static_cast<std::int16_t>(note);
    const std::int16_t v = static_cast<std::int16_t>(velocity);
    mdlMidi::PlayNote(c, n, v);
    QVERIFY(m_log.messages.empty());
}

void TestMidi::openSendClose()
{
    QCOMPARE(m_log.opens, 1);
    mdlMidi::OpenMidiOut(); // a second open keeps the one device
    QCOMPARE(m_log.opens, 1);
    mdlMidi::CloseMidiOut();
    mdlMidi::CloseMidiOut();
    QCOMPARE(m_log.closes, 1);
    const std::int16_t c = 9, n = 60, v = 50;
    mdlMidi::PlayNote(c, n, v);
    QVERIFY(m_log.messages.empty());
    QCOMPARE(m_log.sentWhileClosed, 0);
}

void TestMidi::releaseSoundingNotes()
{
    const std::int16_t drums = 9, piano = 0, off = 0, loud = 100;
    const std::int16_t a = 60, b = 61, c = 62;
    mdlMidi::PlayNote(drums, a, loud);
    mdlMidi::PlayNote(drums, b, loud);
    mdlMidi::PlayNote(drums, b, off);
    mdlMidi::PlayNote(piano, c, loud);
    m_log.messages.clear();
    mdlMidi::releaseSoundingNotes();
    QCOMPARE(m_log.messages.size(), std::size_t(2));
    QCOMPARE(m_log.messages[0].message, NoteOn(0, 62, 0));
    QCOMPARE(m_log.messages[1].message, NoteOn(9, 60, 0));
    m_log.messages.clear();
    mdlMidi::releaseSoundingNotes(); // already released: nothing more
    QVERIFY(m_log.messages.empty());
}

void TestMidi::noDeviceIsSilent()
{
    mdlMidi::CloseMidiOut();
    m_program->context.openMidiOut = [] { return std::unique_ptr<pulsewerk::MidiOutDevice>(); };
    mdlMidi::OpenMidiOut();
    const std::int16_t c = 9, n = 60, v = 50;
    mdlMidi::PlayNote(c, n, v);
    mdlMidi::releaseSoundingNotes();
    mdlMidi::CloseMidiOut();
    QVERIFY(!mdlMidi::g_hMidiOut);
}

void TestMidi::intendedTimeRidesWithTheMessage()
{
    mdlMidi::CloseMidiOut();
    BeatHarness h;
    h.clock.at(600, [&h] { h.clock.advance(1734); }); // the loop held up, as by a dialog
    h.clock.at(2700, [] { mdlMain::g_frmMain->close(); });
    QCOMPARE(h.runLoop(), 1);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> sentAndMeant;
    for (const auto &m : h.messages())
        sentAndMeant.emplace_back(m.timeMs, m.atMs);
    // The start's release; the release and beat of grid point 500; the loop held from 600
    // to 2334, then the late beat with the release sent before it, meant for when they are
    // sent (grid point 2000 is long gone), and its own release sent at once (its sounding
    // time is over) but meant for the next grid point, so that the beat is heard; the
    // beat of 2500 with its release before it, sent with that release's lamp change, a
    // moment before the beat's time and meant for it; the exit's release.
    const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{{201, 201},   {501, 500},   {501, 500},
                                                                        {2334, 2334}, {2334, 2334}, {2334, 2500},
                                                                        {2500, 2500}, {2500, 2500}, {2700, 2700}};
    QCOMPARE(sentAndMeant, expected);
}

void TestMidi::soundFontSearchOrder_data()
{
    QTest::addColumn<QStringList>("present"); // files under the temporary folder
    QTest::addColumn<QString>("chosenVariable");
    QTest::addColumn<QString>("expected");
    QTest::newRow("the variable wins") << QStringList{"home/sounds/sf2/default-GM.sf2", "mine.sf2"} << "mine.sf2"
                                       << "mine.sf2";
    QTest::newRow("the user's data first")
        << QStringList{"home/soundfonts/TimGM6mb.sf2", "a/sounds/sf2/default-GM.sf2"} << ""
        << "home/soundfonts/TimGM6mb.sf2";
    QTest::newRow("data folders in order")
        << QStringList{"b/sounds/sf2/default-GM.sf2", "a/soundfonts/default.sf2"} << ""
        << "a/soundfonts/default.sf2";
    QTest::newRow("sounds/sf2 before soundfonts")
        << QStringList{"a/soundfonts/default-GM.sf2", "a/sounds/sf2/TimGM6mb.sf2"} << ""
        << "a/sounds/sf2/TimGM6mb.sf2";
    QTest::newRow("the General MIDI set before a small one")
        << QStringList{"b/sounds/sf2/TimGM6mb.sf2", "b/sounds/sf2/default-GM.sf2"} << ""
        << "b/sounds/sf2/default-GM.sf2";
    QTest::newRow("a missing choice finds none") << QStringList{"a/sounds/sf2/default-GM.sf2"} << "gone.sf2"
                                                 << "";
}

void TestMidi::soundFontSearchOrder()
{
    QFETCH(QStringList, present);
    QFETCH(QString, chosenVariable);
    QFETCH(QString, expected);
    QTemporaryDir root;
    for (const QString &path : present) {
        QDir(root.path()).mkpath(QFileInfo(path).path());
        QFile file(root.filePath(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QByteArray saved[] = {qgetenv("PULSEWERK_SOUNDFONT"), qgetenv("XDG_DATA_HOME"), qgetenv("XDG_DATA_DIRS")};
    if (chosenVariable.isEmpty())
        qunsetenv("PULSEWERK_SOUNDFONT");
    else
        qputenv("PULSEWERK_SOUNDFONT", root.filePath(chosenVariable).toLocal8Bit());
    qputenv("XDG_DATA_HOME", root.filePath("home").toLocal8Bit());
    qputenv("XDG_DATA_DIRS", (root.filePath("a") + ':' + root.filePath("b")).toLocal8Bit());
    const QString chosen = pulsewerk::chooseSoundFont();
    qputenv("PULSEWERK_SOUNDFONT", saved[0]);
    qputenv("XDG_DATA_HOME", saved[1]);
    qputenv("XDG_DATA_DIRS", saved[2]);
    QCOMPARE(chosen, expected.isEmpty() ? QString() : root.filePath(expected));
}

void TestMidi::takesSoundAsLive_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("interval");    // frames from one note-on to the next
    QTest::addColumn<QList<int>>("held"); // each note's frames from its start to its release
    QTest::addColumn<bool>("replays");    // some notes come from takes
    // The note, come late, released later than its take by more than the frames kept: it
    // sounds released where its take was, and from its start the sound differs (-1: none).
    QTest::addColumn<int>("pastReach");
    // Low Bongo on the drum channel, 208 bpm x4 at 48 kHz: the sound outlasts its note,
    // which is held a frame more or less as the millisecond grid falls on the frames.
    QTest::newRow("steady clicks") << 9 << 61 << 3461 << QList<int>{1730, 1731, 1730, 1731, 1731, 1730} << true << -1;
    QTest::newRow("released early, then later")
        << 9 << 60 << 12000 << QList<int>{3600, 3600, 3600, 1000, 3600, 9000, 3600, 3600, 3600} << true << -1;
    // A piano note is shaped by its release.
    QTest::newRow("a piano note released early and late")
        << 0 << 60 << 24000 << QList<int>{6000, 6000, 6000, 2000, 6000, 6000, 15000, 6000} << true << 6;
    QTest::newRow("held past the next note") << 0 << 64 << 9000 << QList<int>{20000, 20000, 20000} << false << -1;
}

void TestMidi::takesSoundAsLive()
{
    QFETCH(int, channel);
    QFETCH(int, key);
    QFETCH(int, interval);
    QFETCH(QList<int>, held);
    QFETCH(bool, replays);
    QFETCH(int, pastReach);
    const QString soundFont = pulsewerk::chooseSoundFont();
    if (soundFont.isEmpty())
        QSKIP("no General MIDI SoundFont is installed");
    // The third gets each message 1733 frames late, having rendered on as if it had not
    // come, and amends those frames.
    pulsewerk::SynthPool live, remembered, amended;
    std::string why;
    for (pulsewerk::SynthPool *pool : {&live, &remembered, &amended}) {
        QVERIFY(pool->load(soundFont.toStdString(), false, why));
        pool->prepare(48000);
    }
    pulsewerk::SynthPoolTestAccess::setReplaying(live, false);
    amended.amending(true);
    const int late = 1733;

    // Every message on its frame, rendered in uneven pieces between them.
    struct Event {
        int frame;
        int velocity;
    };
    QList<Event> events;
    for (int i = 0; i < held.size(); ++i)
        events << Event{i * interval, 90} << Event{i * interval + held[i], 0};
    std::stable_sort(events.begin(), events.end(), [](const Event &a, const Event &b) { return a.frame < b.frame; });
    const int total = static_cast<int>(held.size()) * interval + 48000 * 2;
    std::vector<float> out[3][2];
    for (auto &pair : out)
        for (auto &channelOut : pair)
            channelOut.assign(static_cast<std::size_t>(total + late + 441), 0.0f);
    int maxReplayed = 0, maxAmendedReplayed = 0, unchangedReleases = 0;
    int at = 0, amendedAt = 0;
    auto renderTo = [&](int to) {
        while (at < to) {
            const int n = std::min(441, to - at);
            live.render(n, out[0][0].data() + at, out[0][1].data() + at);
            remembered.render(n, out[1][0].data() + at, out[1][1].data() + at);
            maxReplayed = std::max(maxReplayed, pulsewerk::SynthPoolTestAccess::replayed(remembered));
            at += n;
        }
        for (; amendedAt < to + late; amendedAt += 441) {
            amended.render(441, out[2][0].data() + amendedAt, out[2][1].data() + amendedAt);
            maxAmendedReplayed = std::max(maxAmendedReplayed, pulsewerk::SynthPoolTestAccess::replayed(amended));
        }
    };
    for (const Event &event : events) {
        renderTo(event.frame);
        for (pulsewerk::SynthPool *pool : {&live, &remembered}) {
            if (event.velocity)
                pool->noteOn(channel, key, event.velocity);
            else
                pool->noteOff(channel, key);
        }
        const int frames = std::min(amendedAt, amended.rewindable());
        float *left = out[2][0].data() + amendedAt - frames, *right = out[2][1].data() + amendedAt - frames;
        const int into = event.frame - (amendedAt - frames);
        const std::vector<float> before(left, left + frames);
        const int first = event.velocity ? amended.noteOnBack(channel, key, event.velocity, left, right, frames, into)
                                         : amended.noteOffBack(channel, key, left, right, frames, into);
        // The frames before the first change it reports are the ones written before.
        const auto same = std::mismatch(before.begin(), before.end(), left).first - before.begin();
        QVERIFY2(same >= first, qPrintable(QStringLiteral("changed at %1, said %2").arg(same).arg(first)));
        unchangedReleases += event.velocity == 0 && first == frames;
    }
    renderTo(total);

    // FluidSynth fades a voice in over its first 64 frames from the level its voice slot
    // last had, so a note's first block depends on what its synthesizer played before,
    // live or not; from there on the sound is the same.
    float peak = 0, difference = 0;
    for (int side = 0; side < 2; ++side) {
        for (std::size_t i = 0; i < static_cast<std::size_t>(total); ++i) {
            peak = std::max(peak, std::abs(out[0][side][i]));
            if (static_cast<int>(i) % interval < 64)
                continue;
            for (int other : {1, 2}) {
                if (other == 2 && pastReach >= 0 && static_cast<int>(i) >= pastReach * interval)
                    continue;
                difference = std::max(difference, std::abs(out[0][side][i] - out[other][side][i]));
            }
        }
    }
    QVERIFY2(peak > 0.01f, "the notes sound");
    QVERIFY2(difference < 1e-6f, qPrintable(QStringLiteral("off by %1 of a peak of %2").arg(difference).arg(peak)));
    QCOMPARE(maxReplayed > 0, replays);
    QCOMPARE(maxAmendedReplayed > 0, replays);
    // A release its take already holds changes nothing: nothing is written again for it.
    QVERIFY(!replays || unchangedReleases > 0);
    QCOMPARE(pulsewerk::SynthPoolTestAccess::sounding(remembered), 0);
    QCOMPARE(pulsewerk::SynthPoolTestAccess::sounding(amended), 0);
}

void TestMidi::audioThreadNeitherAllocatesNorLocks_data()
{
    QTest::addColumn<bool>("amends");
    QTest::addColumn<bool>("measures");
    QTest::addColumn<int>("delayMs"); // from a note's time to hearing it
    QTest::newRow("placed as rendered") << false << false << 55;
    QTest::newRow("added to frames written") << true << false << 48;
    QTest::newRow("added, its reach measured first") << true << true << 60;
}

void TestMidi::audioThreadNeitherAllocatesNorLocks()
{
    QFETCH(bool, amends);
    QFETCH(bool, measures);
    QFETCH(int, delayMs);
    if (pulsewerk::chooseSoundFont().isEmpty())
        QSKIP("no General MIDI SoundFont is installed");
    mdlMidi::CloseMidiOut();
    TempSettings settings;
    BeatHarness h;
    h.window().m_intBpm = 208;
    MadeUpServer *server = nullptr;
    Heard heard;
    h.program.context.openMidiOut = [&server, &heard, &h, amends, measures] {
        return pulsewerk::createSynthOut(
            {},
            [&server, &heard, amends, measures] {
                auto made = std::make_unique<MadeUpServer>(heard, amends, measures);
                server = made.get();
                return made;
            },
            h.clock);
    };
    const int seconds = 34;
    for (int ms = 0; ms < seconds * 1000; ms += 10)
        h.clock.at(static_cast<std::uint32_t>(ms), [&h, &server] { server->cycle(h.clock.nowUs()); });
    for (const int at : {5003, 9011})
        h.clock.at(static_cast<std::uint32_t>(at), [&h] { QTest::mouseClick(h.window().imgMute, Qt::LeftButton); });
    h.clock.at(12007, [&h] { QTest::mouseClick(h.window().imgDouble, Qt::LeftButton); });
    h.clock.at(15005, [] {
        frmOptions options;
        options.show();
        QTest::mouseClick(options.txtStrong, Qt::LeftButton);
        QTest::keyClick(options.txtStrong, Qt::Key_Return);
    });
    for (const int at : {31000, 32003}) // Space: a stop, then a start
        h.clock.at(static_cast<std::uint32_t>(at), [&h] { h.window().actStartStop->trigger(); });
    std::uint32_t heardAfterMs = 0;
    h.clock.at(20000, [&heardAfterMs] { heardAfterMs = mdlMidi::g_hMidiOut->heardAfterMs(); });
    h.clock.at(seconds * 1000, [] { mdlMain::g_frmMain->close(); });
    g_callbackAllocations = 0;
    g_callbackLocks = 0;
    const std::int64_t startUs = h.clock.nowUs();
    if (!amends) { // JACK's stream, which skips what its server played without it
        heard.skipFromUs = startUs + 10'000'000;
        heard.skipToUs = startUs + 10'400'000;
    }
    QCOMPARE(h.runLoop(), 1);
    // Every buffer rendered, the beats at 208 bpm (x2 from 12 s on, muted from 5 s to 9 s)
    // and the audition placed and sounding.
    QCOMPARE(heard.buffers, seconds * 100);
    QVERIFY2(heard.noteOns > 130 && heard.releases >= heard.noteOns, qPrintable(QString::number(heard.noteOns)));
    QVERIFY(heard.peak > 0.01f);
    QCOMPARE(g_callbackAllocations.load(), 0);
    QCOMPARE(g_callbackLocks.load(), 0);
    QCOMPARE(heardAfterMs, static_cast<std::uint32_t>(delayMs));
    // The source rests only between the stop's last sound dying away and the start.
    const std::int64_t restFrom = heard.firstRestUs - startUs, restTo = heard.lastRestUs - startUs;
    QVERIFY2(restFrom > 31'100'000 && restTo >= 31'900'000 && restTo < 32'010'000,
             qPrintable(QStringLiteral("%1 to %2 us").arg(restFrom).arg(restTo)));
    // Frame 0 is heard 40 ms after the clock's start, a beat `delayMs` after its time.
    const auto frameOf = [delayMs](std::int64_t ms) { return (ms + delayMs - 40) * 48; };
    QStringList wrong;
    int exact = 0;
    for (const auto &[from, to, period] :
         {std::array<std::int64_t, 3>{300, 4900, 13824}, {12500, 14900, 6912}, {15300, 31000 - 300, 6912}}) {
        for (int i = 1; i < heard.noteOns; ++i) {
            const std::int64_t a = heard.noteOnFrames[std::size_t(i - 1)], b = heard.noteOnFrames[std::size_t(i)];
            if (a < frameOf(from) || b > frameOf(to))
                continue;
            if (b - a == period)
                ++exact;
            else
                wrong << QStringLiteral("%1 at frame %2").arg(b - a).arg(b);
        }
    }
    QVERIFY2(wrong.isEmpty() && exact > 100, qPrintable(wrong.join(u' ')));
    if (amends)
        return; // the clock's port is JACK's, whose stream does not amend
    // A beat due in frames the server played without the source is not heard late:
    // its note-on is dropped, its release goes.
    QVERIFY(heard.skippedTo - heard.skippedFrom > 13824);
    for (int i = 0; i < heard.noteOns; ++i) {
        const std::int64_t at = heard.noteOnFrames[std::size_t(i)];
        QVERIFY2(at < heard.skippedFrom || at >= heard.skippedTo, qPrintable(QString::number(at)));
    }
    // Two runs of the clock: Song Position Pointer 0 and Start, ticks 576 frames apart
    // (288 ms / 24 at 48 kHz) from a note-on's frame, Stop 31 s after the clock's start.
    const std::vector<std::pair<std::int64_t, std::uint32_t>> clock(heard.clock.begin(),
                                                                    heard.clock.begin() + heard.clockMessages);
    std::vector<std::int64_t> runStarts;
    std::int64_t stopFrame = -1;
    QStringList clockWrong;
    for (std::size_t i = 0; i < clock.size(); ++i) {
        const auto [frame, message] = clock[i];
        if (message == 0xF2 && i + 2 < clock.size() && clock[i + 1].second == 0xFA && clock[i + 2].second == 0xF8 &&
            clock[i + 2].first == frame) {
            runStarts.push_back(clock[i + 2].first);
            i += 2;
        } else if (message == 0xFC) {
            stopFrame = frame;
        } else if (message != 0xF8 || i == 0 || clock[i - 1].second != 0xF8 || frame - clock[i - 1].first != 576) {
            clockWrong << QStringLiteral("%1 at frame %2").arg(message, 0, 16).arg(frame);
        }
    }
    QVERIFY2(clockWrong.isEmpty(), qPrintable(clockWrong.join(u' ')));
    QCOMPARE(runStarts.size(), std::size_t(2));
    QCOMPARE(stopFrame, frameOf(31000));
    const auto noteOnsEnd = heard.noteOnFrames.begin() + heard.noteOns;
    for (const std::int64_t start : runStarts)
        QVERIFY2(std::find(heard.noteOnFrames.begin(), noteOnsEnd, start) != noteOnsEnd, "a tick on a note-on");
}

QTEST_MAIN(TestMidi)
#include "tst_midi.moc"
