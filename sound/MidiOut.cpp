// SPDX-License-Identifier: GPL-3.0-or-later
// The default MIDI output: FluidSynth with the system's General MIDI SoundFont,
// every note placed on its exact frame of an audio stream of the program's own.
#include "sound/MidiOut.h"

#include "platform/Clock.h"
#include "platform/Say.h"
#include "sound/AudioBackend.h"
#include "sound/MidiClock.h"
#include "sound/NoteScheduler.h"
#include "sound/SynthPool.h"
#include "sound/Transport.h"

#include <fluidsynth.h>
#include <glib.h>

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <string>

namespace pulsewerk {
namespace {

// The same where notes are added to frames already written: a note must reach the back
// end's thread the server's own latency before it is heard, and that thread must wake.
// With three busy loops, 5 of about 700 messages came later than 13 ms of room.
constexpr std::int64_t kAmendMarginUs = 18000;
// The time from writing a frame to hearing it, as long as it may be (a Bluetooth
// headset's included); longer is taken for a disturbed report.
constexpr std::int64_t kMaxHeardAfterUs = 500000;
// How long that time is measured (in the stream's frames), once the server has placed
// the line, before it is set.
constexpr std::int64_t kSettleUs = 150000;
// SoundFonts larger than this load only the samples that sound.
constexpr qint64 kDynamicLoadingBytes = 32 * 1024 * 1024;

// FluidSynth's own log goes nowhere: the device reports at most one plain line.
void silenceFluidLog()
{
    for (const int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
        fluid_set_log_function(level, nullptr, nullptr);
}

// Where the system's General MIDI SoundFonts live, most specific first.
QStringList soundFontCandidates()
{
    const QString chosen = qEnvironmentVariable("PULSEWERK_SOUNDFONT");
    if (!chosen.isEmpty())
        return {chosen};
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty())
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dataDirs.isEmpty())
        dataDirs = QStringLiteral("/usr/local/share:/usr/share");
    QStringList candidates;
    const QStringList names = {QStringLiteral("default-GM.sf2"), QStringLiteral("default.sf2"),
                               QStringLiteral("FluidR3_GM.sf2"), QStringLiteral("TimGM6mb.sf2")};
    for (const QString &dir : QStringList{dataHome} + dataDirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        for (const QString &folder : {QStringLiteral("/sounds/sf2/"), QStringLiteral("/soundfonts/")}) {
            for (const QString &name : names)
                candidates << dir + folder + name;
        }
    }
    fluid_settings_t *settings = new_fluid_settings();
    char *configured = nullptr;
    if (settings && fluid_settings_dupstr(settings, "synth.default-soundfont", &configured) == FLUID_OK && configured) {
        candidates << QString::fromLocal8Bit(configured);
        fluid_free(configured);
    }
    if (settings)
        delete_fluid_settings(settings);
    return candidates;
}

void reportSilence(const std::string &why) { say((why + "; the beat goes on in silence.").c_str()); }

// Why no SoundFont was chosen: what is wrong with the file PULSEWERK_SOUNDFONT names, or
// that the search found none.
std::string noSoundFontReason(const SoundConfig &config)
{
    const QString chosen = qEnvironmentVariable("PULSEWERK_SOUNDFONT");
    if (!config.soundFonts.isEmpty() || chosen.isEmpty())
        return "no General MIDI SoundFont found (install timgm6mb-soundfont)";
    const QFileInfo file(chosen);
    const char *why = "which cannot be read";
    if (!file.exists())
        why = "which does not exist";
    else if (file.isDir())
        why = "which is a folder, not a SoundFont file";
    else if (!file.isFile())
        why = "which is not a regular file";
    return "PULSEWERK_SOUNDFONT names " + chosen.toStdString() + ", " + why;
}

// While it lives, the libraries' own messages stay off standard error: FluidSynth's
// first error is kept as the reason a load failed, and GLib's (a blank line and a
// CRITICAL from libinstpatch, when FluidSynth tries a broken file as DLS) are dropped.
class LoadMessages {
public:
    LoadMessages()
    {
        fluid_set_log_function(FLUID_ERR, keepFirst, this);
        m_glib = g_log_set_default_handler(drop, nullptr);
    }
    ~LoadMessages()
    {
        fluid_set_log_function(FLUID_ERR, nullptr, nullptr);
        g_log_set_default_handler(m_glib, nullptr);
    }
    LoadMessages(const LoadMessages &) = delete;
    LoadMessages &operator=(const LoadMessages &) = delete;

    // " (the reason)" after the line that says a load failed; empty without one.
    std::string reason() const { return m_first.empty() ? std::string() : " (" + m_first + ")"; }

private:
    static void keepFirst(int, const char *message, void *data)
    {
        auto *self = static_cast<LoadMessages *>(data);
        if (self->m_first.empty() && message)
            self->m_first = message;
    }
    static void drop(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

    std::string m_first;
    GLogFunc m_glib = nullptr;
};

// The synthesizer pool played through an audio back end, each message on the frame at
// which its intended time is heard.
QString firstReadable(const QStringList &candidates)
{
    const auto found = std::find_if(candidates.begin(), candidates.end(), [](const QString &path) {
        const QFileInfo file(path);
        return file.isFile() && file.isReadable();
    });
    return found == candidates.end() ? QString() : *found;
}

class SynthOut final : public MidiOutDevice, private FrameSource {
public:
    SynthOut(const SoundConfig &config, DesktopBackendFactory desktop, Clock &clock)
        : m_config(config), m_desktop(std::move(desktop)), m_clock(clock)
    {}
    ~SynthOut() override { close(); }

    void open() override
    {
        silenceFluidLog();
        // Without the synthesizer the JACK client is the MIDI port alone; without a
        // SoundFont it still carries the beat to the MIDI port.
        if ((!m_config.jack || m_config.audioPorts) && !loadSynth() && !m_config.jack)
            return;
        if (m_config.jack) {
            m_backend = createJackBackend(m_config);
            if (m_backend->start(*this))
                return;
            say("no JACK server is running; the sound goes to the desktop's audio server.");
            if (!m_pool && !loadSynth())
                return;
        }
        m_backend = m_desktop();
        if (!m_backend->start(*this))
            reportSilence("no audio server answered (is PulseAudio or PipeWire running?)");
    }

    void sendShortMsg(std::uint32_t message, std::uint32_t atMs) override
    {
        // The last byte, always 0 in a short message, carries the message's generation.
        if (m_backend && (message & 0xF0) == 0x90 &&
            m_scheduler.push(intendedUs(atMs), (message & 0xFFFFFF) | m_generation.load() << 24))
            m_backend->wake();
    }

    // The same with a stream or without one: the stream's delay, the desktop stream's
    // until a stream says its own; on JACK with the latency of what the ports feed.
    std::uint32_t heardAfterMs() const override
    {
        const std::int64_t laterUs = m_backend ? m_backend->heardLaterUs() : 0;
        return static_cast<std::uint32_t>((m_delayUs + laterUs + 500) / 1000);
    }

    std::uint32_t lateRoomMs() const override
    {
        return m_backend ? m_backend->lateRoomMs() : MidiOutDevice::lateRoomMs();
    }

    void dropUnheard() override { m_generation = (m_generation + 1) & 0xFF; }

    // Only a back end with a MIDI port (JACK's) takes the beat clock.
    void clockBeat(std::uint32_t atMs, std::int32_t periodMs, std::int32_t lengthMs, bool start) override
    {
        if (m_backend && m_sink)
            m_beatClock.beat(intendedUs(atMs), periodMs, lengthMs, start);
    }
    void clockStop(std::uint32_t atMs) override
    {
        if (m_backend && m_sink)
            m_beatClock.stop(intendedUs(atMs));
    }

    void sendShortMsgAtUs(std::uint32_t message, std::int64_t atUs) override
    {
        const std::int64_t nowUs = m_clock.nowUs();
        if (atUs > nowUs + 1000000 || atUs < nowUs - 1000000) // not a reading of this clock
            return sendShortMsg(message, static_cast<std::uint32_t>(nowUs / 1000));
        if (m_backend && (message & 0xF0) == 0x90 && m_scheduler.push(atUs, message))
            m_backend->wake();
    }

    void setBeating(bool beating) override
    {
        m_beating = beating;
        if (beating && m_backend)
            m_backend->wake();
    }

    // The back end's transport, its beats at the times the notes are sent for.
    Transport *transport() override { return m_backend && m_backend->transport() ? &m_transport : nullptr; }

    // The stream stops before the synthesizers go.
    void close() override
    {
        if (m_backend)
            m_backend->stop();
        m_backend.reset();
        m_pool.reset();
    }

private:
    // Loads the SoundFont into a new synthesizer pool; says why not when it fails.
    bool loadSynth()
    {
        const QString soundFont =
            m_config.soundFonts.isEmpty() ? chooseSoundFont() : firstReadable(m_config.soundFonts);
        if (soundFont.isEmpty()) {
            reportSilence(noSoundFontReason(m_config));
            return false;
        }
        // A large SoundFont (FluidR3: 148 MB) would otherwise be read whole; a small one
        // is read whole, which also keeps its samples from being paged in mid-click.
        const bool large = QFileInfo(soundFont).size() > kDynamicLoadingBytes;
        m_pool = std::make_unique<SynthPool>();
        std::string why;
        const LoadMessages messages;
        if (!m_pool->load(soundFont.toStdString(), large, why)) {
            reportSilence(why + messages.reason());
            m_pool.reset();
            return false;
        }
        return true;
    }

    // The time on the program's clock of the reading `atMs`: a reading up to a second
    // back, else now (a reading from another clock, or from the future).
    std::int64_t intendedUs(std::uint32_t atMs) const
    {
        const std::int64_t nowUs = m_clock.nowUs();
        const auto behindMs = static_cast<std::int32_t>(static_cast<std::uint32_t>(nowUs / 1000) - atMs);
        if (behindMs < 0 || behindMs > 1000)
            return nowUs;
        return (nowUs / 1000 - behindMs) * 1000;
    }

    void streamStarted(double sampleRate, std::int64_t latencyUs, const FrameLine &line) override
    {
        if (m_pool) {
            m_pool->prepare(sampleRate);
            m_pool->amending(false);
        }
        m_line = &line;
        m_delayUs = latencyUs + kDelayMarginUs;
        m_scheduler.restart(line, m_delayUs);
        m_beatClock.restart(line, m_delayUs);
        m_transport.delayUs = m_delayUs.load();
        m_longestAheadUs = latencyUs; // at least what the server granted
        m_settleAtFrame = -1;
        m_settled = false;
        m_amendReachUs = -1;
    }

    // A stream that amends what it wrote hears a message its server's own latency (and
    // the margin) after its time, not the whole stream's: it is set once the stream
    // settles, as the delay of one that does not, and moves no more.
    std::int64_t amendsUpTo(std::int64_t reachUs) override
    {
        if (m_settled || reachUs <= m_amendReachUs)
            return m_amendReachUs;
        m_amendReachUs = reachUs;
        if (m_pool)
            m_pool->amending(true);
        setDelay(reachUs + kAmendMarginUs);
        return reachUs;
    }

    void setDelay(std::int64_t delayUs)
    {
        m_delayUs = delayUs;
        m_scheduler.setDelay(delayUs);
        m_beatClock.setDelay(delayUs);
        m_transport.delayUs = delayUs;
    }

    // The audio thread: notes sent since the last render, added to its last frames. A
    // MIDI port takes them counted back from the end of those frames.
    int amend(int frames, float *left, float *right) override
    {
        const int kept = m_pool ? std::min(frames, m_pool->rewindable()) : frames;
        const int skipped = frames - kept;
        left += skipped;
        right += skipped;
        int first = kept;
        m_scheduler.amend(kept, [&](int at, std::uint32_t tagged) {
            if (!wanted(tagged))
                return;
            const std::uint32_t message = tagged & 0xFFFFFF;
            if (m_sink)
                m_sink->message(at - kept, message);
            if (m_pool)
                first = std::min(first, playBack(message, left, right, kept, at));
        });
        return skipped + first;
    }

    // A frame written now is heard no sooner than the line says: the delay is the longest
    // such time seen over the stream's first moments (before a first beat), at least the
    // latency granted, so that a sink with a latency of its own (a Bluetooth headset) is
    // covered, and the lamps with it. It stays so while the stream lasts: every move
    // would move the grid.
    void followLatency()
    {
        if (m_settled || !m_line || !m_line->known())
            return;
        const std::int64_t nowUs = monotonicUs();
        const std::int64_t position = m_scheduler.position();
        if (m_settleAtFrame < 0)
            m_settleAtFrame = position + std::llround(static_cast<double>(kSettleUs) * m_line->sampleRate() / 1e6);
        const auto aheadUs = static_cast<std::int64_t>(m_line->timeOf(static_cast<double>(position))) - nowUs;
        if (aheadUs <= kMaxHeardAfterUs)
            m_longestAheadUs = std::max(m_longestAheadUs, aheadUs);
        if (position < m_settleAtFrame || (m_backend && m_backend->measuring()))
            return;
        m_settled = true;
        if (m_amendReachUs < 0)
            setDelay(m_longestAheadUs + kDelayMarginUs);
    }

    // The audio thread: nothing here allocates, locks or waits.
    void render(int frames, float *left, float *right) override
    {
        followLatency();
        const bool sound = m_pool && left && right;
        if (left && right) {
            std::fill(left, left + frames, 0.0f);
            std::fill(right, right + frames, 0.0f);
        }
        int at = 0; // the frame reached, on which the next message takes effect
        m_scheduler.fill(
            frames,
            [&](int from, int to) {
                if (sound)
                    m_pool->render(to - from, left + from, right + from);
                at = to;
            },
            [&](std::uint32_t tagged) {
                if (!wanted(tagged) || (m_skipping && isNoteOn(tagged)))
                    return;
                const std::uint32_t message = tagged & 0xFFFFFF;
                if (m_sink)
                    m_sink->message(at, message);
                if (m_pool)
                    playBack(message, nullptr, nullptr, 0, 0); // on the current frame
            });
        // The clock's beats after the notes: the beat loop hands over a beat's clock beat
        // before its notes, so a note taken above has its clock beat taken here.
        m_beatClock.fill(frames, [this](int frame, std::uint32_t message) {
            if (m_sink)
                m_sink->clock(frame, message);
        });
    }

    // Plays `message` on the pool: now, or `at` frames into the last `frames` rendered,
    // which `left` and `right` hold. Returns where those first changed (`frames`: nowhere,
    // and nothing need be written again).
    int playBack(std::uint32_t message, float *left, float *right, int frames, int at)
    {
        const int channel = static_cast<int>(message & 0x0F);
        const int key = static_cast<int>((message >> 8) & 0xFF);
        const int velocity = static_cast<int>((message >> 16) & 0xFF);
        if (velocity == 0)
            return m_pool->noteOffBack(channel, key, left, right, frames, at);
        return m_pool->noteOnBack(channel, key, velocity, left, right, frames, at);
    }

    void skip(int frames) override
    {
        m_skipping = true;
        render(frames, nullptr, nullptr);
        m_skipping = false;
    }

    static bool isNoteOn(std::uint32_t tagged) { return ((tagged >> 16) & 0xFF) != 0; }
    // A note-on of a generation dropped since it was sent is not heard; a release is.
    bool wanted(std::uint32_t tagged) const { return !isNoteOn(tagged) || tagged >> 24 == m_generation.load(); }

    void sendMessagesTo(MessageSink *sink) override { m_sink = sink; }

    void streamLost() override
    {
        if (m_pool)
            m_pool->silence();
    }

    bool resting() override { return !m_beating && m_scheduler.idle() && (!m_pool || !m_pool->sounding()); }

    // A transport's beat is heard on its frame when its note is sent the scheduler's
    // delay before.
    struct DelayedTransport final : Transport {
        explicit DelayedTransport(SynthOut &out) : out(out) {}
        TransportReading read() override
        {
            TransportReading reading = out.m_backend->transport()->read();
            reading.beatUs -= static_cast<double>(delayUs.load());
            return reading;
        }
        void start() override { out.m_backend->transport()->start(); }
        void stop() override { out.m_backend->transport()->stop(); }
        void announce(int beatsPerBar, int bpm) override { out.m_backend->transport()->announce(beatsPerBar, bpm); }
        SynthOut &out;
        std::atomic<std::int64_t> delayUs{0};
    };

    const SoundConfig m_config;
    const DesktopBackendFactory m_desktop;
    Clock &m_clock; // the clock whose readings the messages' times are
    NoteScheduler m_scheduler{kDesktopStreamLatencyUs + kDelayMarginUs};
    std::atomic<std::int64_t> m_delayUs{kDesktopStreamLatencyUs + kDelayMarginUs};
    std::atomic<std::uint32_t> m_generation{0};
    std::atomic<bool> m_beating{true}; // until the beat loop says it stands
    // The audio thread only.
    const FrameLine *m_line = nullptr;
    std::int64_t m_longestAheadUs = 0;
    std::int64_t m_settleAtFrame = -1; // -1: not placed yet
    bool m_settled = false;
    bool m_skipping = false;          // passing over frames the server played without us
    std::int64_t m_amendReachUs = -1; // -1: the stream does not amend
    MidiClock m_beatClock;
    std::unique_ptr<SynthPool> m_pool;
    std::unique_ptr<AudioBackend> m_backend;
    MessageSink *m_sink = nullptr;
    DelayedTransport m_transport{*this};
};

} // namespace

std::unique_ptr<MidiOutDevice> createSynthOut(const SoundConfig &config, DesktopBackendFactory desktop, Clock &clock)
{
    return std::make_unique<SynthOut>(config, std::move(desktop), clock);
}

std::unique_ptr<MidiOutDevice> createSynthOut(const SoundConfig &config)
{
    return createSynthOut(config, createDesktopBackend);
}

QString chooseSoundFont() { return firstReadable(soundFontCandidates()); }

} // namespace pulsewerk
