// SPDX-License-Identifier: GPL-3.0-or-later
// The default MIDI output: FluidSynth with the system's General MIDI SoundFont,
// every note placed on its exact frame of an audio stream of the program's own.
#include "sound/MidiOut.h"

#include "platform/Clock.h"
#include "sound/AudioBackend.h"
#include "sound/NoteScheduler.h"
#include "sound/SynthPool.h"

#include <fluidsynth.h>

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdio>
#include <string>

namespace pulsewerk {
namespace {

// How long after its intended time a note is heard, beyond the stream's own latency:
// room for a late sender and a busy machine.
constexpr std::int64_t kDelayMarginUs = 30000;
// SoundFonts larger than this load only the samples that sound.
constexpr qint64 kDynamicLoadingBytes = 32 * 1024 * 1024;

// FluidSynth's own log goes nowhere: the device reports at most one plain line.
void silenceFluidLog()
{
    for (const int level : {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO, FLUID_DBG})
        fluid_set_log_function(level, nullptr, nullptr);
}

QStringList &soundFontOverride()
{
    static QStringList paths;
    return paths;
}

// Where the system's General MIDI SoundFonts live, most specific first.
QStringList soundFontCandidates()
{
    if (!soundFontOverride().isEmpty())
        return soundFontOverride();
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

void reportSilence(const std::string &why)
{
    std::fprintf(stderr, "Pulsewerk: %s; the beat goes on in silence.\n", why.c_str());
    std::fflush(stderr);
}

AudioBackendFactory &backendFactory()
{
    static AudioBackendFactory installed;
    return installed;
}

AudioOptions &audioOptions()
{
    static AudioOptions options;
    return options;
}

// The synthesizer pool played through an audio back end, each message on the frame at
// which its intended time is heard.
class SynthOut final : public MidiOutDevice, private FrameSource {
public:
    ~SynthOut() override { close(); }

    void open() override
    {
        silenceFluidLog();
        const AudioOptions options = audioOptions();
        // Without the synthesizer the JACK client is the MIDI port alone; without a
        // SoundFont it still carries the beat to the MIDI port.
        if ((!options.jack || options.synth) && !loadSynth() && !options.jack)
            return;
        if (options.jack) {
            m_backend = createJackBackend({options.synth, options.connectPorts});
            if (m_backend->start(*this))
                return;
            say("no JACK server is running; the sound goes to the desktop's audio server.");
            if (!m_pool && !loadSynth())
                return;
        }
        if (backendFactory())
            m_backend = backendFactory()();
        else if (qEnvironmentVariable("PULSEWERK_AUDIO") == QLatin1String("fluidsynth"))
            m_backend = createFluidSynthDriverBackend();
        else
            m_backend = createPulseAudioBackend();
        if (!m_backend->start(*this))
            reportSilence("no audio server answered (is PulseAudio or PipeWire running?)");
    }

    void sendShortMsg(std::uint32_t message, std::uint32_t atMs) override
    {
        if (m_backend && (message & 0xF0) == 0x90)
            m_scheduler.push(intendedUs(atMs), message);
    }

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
        const QString soundFont = chooseSoundFont();
        if (soundFont.isEmpty()) {
            reportSilence("no General MIDI SoundFont found (install timgm6mb-soundfont)");
            return false;
        }
        // A large SoundFont (FluidR3: 148 MB) would otherwise be read whole; a small one
        // is read whole, which also keeps its samples from being paged in mid-click.
        const bool large = QFileInfo(soundFont).size() > kDynamicLoadingBytes;
        m_pool = std::make_unique<SynthPool>();
        std::string why;
        if (!m_pool->load(soundFont.toStdString(), large, why)) {
            reportSilence(why);
            m_pool.reset();
            return false;
        }
        return true;
    }

    // The time on the program's clock of the reading `atMs`: a reading up to a second
    // back, else now (a reading from another clock, or from the future).
    static std::int64_t intendedUs(std::uint32_t atMs)
    {
        const std::int64_t nowUs = clock().nowUs();
        const auto behindMs = static_cast<std::int32_t>(static_cast<std::uint32_t>(nowUs / 1000) - atMs);
        if (behindMs < 0 || behindMs > 1000)
            return nowUs;
        return (nowUs / 1000 - behindMs) * 1000;
    }

    void streamStarted(double sampleRate, std::int64_t latencyUs, const FrameLine &line) override
    {
        if (m_pool)
            m_pool->prepare(sampleRate);
        m_scheduler.restart(line, latencyUs + kDelayMarginUs);
    }

    // The audio thread: nothing here allocates, locks or waits.
    void render(int frames, float *left, float *right) override
    {
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
            [&](std::uint32_t message) {
                if (m_sink)
                    m_sink->message(at, message);
                if (m_pool)
                    play(message);
            });
    }

    void play(std::uint32_t message)
    {
        const int channel = static_cast<int>(message & 0x0F);
        const int key = static_cast<int>((message >> 8) & 0xFF);
        const int velocity = static_cast<int>((message >> 16) & 0xFF);
        if (velocity == 0)
            m_pool->noteOff(channel, key);
        else
            m_pool->noteOn(channel, key, velocity);
    }

    void sendMessagesTo(MessageSink *sink) override { m_sink = sink; }

    void streamLost() override
    {
        if (m_pool)
            m_pool->silence();
    }

    NoteScheduler m_scheduler{kDelayMarginUs};
    std::unique_ptr<SynthPool> m_pool;
    std::unique_ptr<AudioBackend> m_backend;
    MessageSink *m_sink = nullptr;
};

MidiOutFactory &factory()
{
    static MidiOutFactory installed;
    return installed;
}

} // namespace

std::unique_ptr<MidiOutDevice> createDefaultMidiOut()
{
    if (factory())
        return factory()();
    return std::make_unique<SynthOut>();
}

void setAudioOptions(const AudioOptions &options) { audioOptions() = options; }

void setMidiOutFactory(MidiOutFactory replacement) { factory() = std::move(replacement); }

void setAudioBackendFactory(AudioBackendFactory replacement) { backendFactory() = std::move(replacement); }

QString chooseSoundFont()
{
    const QStringList candidates = soundFontCandidates();
    const auto found = std::find_if(candidates.begin(), candidates.end(), [](const QString &path) {
        const QFileInfo file(path);
        return file.isFile() && file.isReadable();
    });
    return found == candidates.end() ? QString() : *found;
}

void setSoundFontPaths(const QStringList &paths) { soundFontOverride() = paths; }

} // namespace pulsewerk
