// The default MIDI output: FluidSynth with the system's General MIDI SoundFont,
// playing through the desktop's audio server (PulseAudio or PipeWire's service).
#include "platform/MidiOut.h"

#include "platform/NoteScheduler.h"

#include <fluidsynth.h>

#include <QFileInfo>
#include <QString>

#include <chrono>
#include <cstdio>
#include <string>

namespace platform {
namespace {

// Audio buffer length in frames. Notes are placed inside the buffers by their send
// time (NoteScheduler), so the length costs latency, not jitter; it is long enough
// that the audio server does not run dry on a busy machine.
constexpr int kAudioPeriodSize = 1024;
// How long after it is sent a note sounds: one buffer, plus room for a late callback.
constexpr double kSampleRate = 44100.0;
constexpr std::int64_t kNoteDelayUs = static_cast<std::int64_t>(kAudioPeriodSize * 1e6 / kSampleRate) + 6000;
// FluidSynth's default gain (0.2) is quiet for a single click; with this one a
// velocity-80 drum note peaks near -12 dBFS with the common General MIDI SoundFonts.
constexpr double kSynthGain = 1.2;
// SoundFonts larger than this load only the samples that sound.
constexpr qint64 kDynamicLoadingBytes = 32 * 1024 * 1024;

std::int64_t monotonicUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::optional<std::uint32_t> g_intendedMs;

// When a message sent now is meant to sound, on the monotonic microsecond clock from
// which the millisecond clock is derived: the intended time when there is one (and
// it is not in the future nor implausibly far back), else now.
std::int64_t stampOf(std::int64_t nowUs)
{
    if (!g_intendedMs)
        return nowUs;
    const auto nowMs = static_cast<std::uint32_t>(nowUs / 1000);
    const auto behindMs = static_cast<std::int32_t>(nowMs - *g_intendedMs);
    if (behindMs < 0 || behindMs > 1000)
        return nowUs;
    return (nowUs / 1000 - behindMs) * 1000;
}

std::string g_lastFluidError;

void keepFluidError(int /*level*/, const char *message, void * /*data*/)
{
    if (message)
        g_lastFluidError = message;
}

// FluidSynth's own log goes nowhere: the device reports at most one plain line.
void silenceFluidLog()
{
    fluid_set_log_function(FLUID_PANIC, keepFluidError, nullptr);
    fluid_set_log_function(FLUID_ERR, keepFluidError, nullptr);
    fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
    fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
    fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
}

QStringList &soundFontOverride()
{
    static QStringList paths;
    return paths;
}

QString findSoundFont(fluid_settings_t *settings)
{
    QStringList candidates = soundFontOverride();
    if (candidates.isEmpty()) {
        char *configured = nullptr;
        if (fluid_settings_dupstr(settings, "synth.default-soundfont", &configured) == FLUID_OK && configured) {
            candidates << QString::fromLocal8Bit(configured);
            fluid_free(configured);
        }
        candidates << QStringLiteral("/usr/share/sounds/sf2/default-GM.sf2")
                   << QStringLiteral("/usr/share/sounds/sf2/TimGM6mb.sf2");
    }
    for (const QString &path : candidates) {
        if (QFileInfo(path).isReadable())
            return path;
    }
    return {};
}

void reportSilence(const char *why)
{
    std::fprintf(stderr, "Pulsewerk: %s; the beat goes on in silence.\n", why);
    std::fflush(stderr);
}

class FluidSynthOut final : public MidiOutDevice {
public:
    ~FluidSynthOut() override { close(); }

    void open() override
    {
        silenceFluidLog();
        m_settings = new_fluid_settings();
        if (!m_settings) {
            reportSilence("the synthesizer could not be set up");
            return;
        }
        fluid_settings_setnum(m_settings, "synth.gain", kSynthGain);
        fluid_settings_setnum(m_settings, "synth.sample-rate", kSampleRate);
        fluid_settings_setint(m_settings, "synth.reverb.active", 0);
        fluid_settings_setint(m_settings, "synth.chorus.active", 0);
        fluid_settings_setint(m_settings, "synth.polyphony", 32);
        fluid_settings_setstr(m_settings, "audio.driver", "pulseaudio");
        fluid_settings_setint(m_settings, "audio.period-size", kAudioPeriodSize);
        fluid_settings_setstr(m_settings, "audio.pulseaudio.media-role", "music");

        const QString soundFont = findSoundFont(m_settings);
        if (soundFont.isEmpty()) {
            reportSilence("no General MIDI SoundFont found (install timgm6mb-soundfont)");
            close();
            return;
        }
        // A large SoundFont (FluidR3: 148 MB) would otherwise be read whole; a small one
        // is read whole, which also keeps its samples from being paged in mid-click.
        const bool large = QFileInfo(soundFont).size() > kDynamicLoadingBytes;
        fluid_settings_setint(m_settings, "synth.dynamic-sample-loading", large ? 1 : 0);
        m_synth = new_fluid_synth(m_settings);
        if (!m_synth || fluid_synth_sfload(m_synth, soundFont.toLocal8Bit().constData(), 1) == FLUID_FAILED) {
            const std::string why = "the SoundFont " + soundFont.toStdString() + " could not be loaded";
            reportSilence(why.c_str());
            close();
            return;
        }
        m_driver = new_fluid_audio_driver2(m_settings, &FluidSynthOut::render, this);
        if (!m_driver) {
            reportSilence("no audio server answered (is PulseAudio or PipeWire running?)");
            close();
        }
    }

    void sendShortMsg(std::uint32_t message) override
    {
        if (!m_driver)
            return;
        const int status = static_cast<int>(message & 0xFF);
        const int data1 = static_cast<int>((message >> 8) & 0xFF);
        const int data2 = static_cast<int>((message >> 16) & 0xFF);
        if ((status & 0xF0) != 0x90 || data1 > 127 || data2 > 127)
            return;
        m_scheduler.push(stampOf(monotonicUs()), message);
    }

    // Released in the reverse order of creation: driver, synth, settings.
    void close() override
    {
        if (m_driver)
            delete_fluid_audio_driver(m_driver);
        m_driver = nullptr;
        if (m_synth)
            delete_fluid_synth(m_synth);
        m_synth = nullptr;
        if (m_settings)
            delete_fluid_settings(m_settings);
        m_settings = nullptr;
    }

private:
    // The audio thread's callback: renders one buffer, with the notes due in it.
    static int render(void *data, int frames, int /*nfx*/, float * /*fx*/[], int nout, float *out[])
    {
        auto *self = static_cast<FluidSynthOut *>(data);
        float *left = out[0];
        float *right = out[nout > 1 ? 1 : 0];
        self->m_scheduler.fill(
            monotonicUs(), frames,
            [self, left, right](int from, int to) {
                fluid_synth_write_float(self->m_synth, to - from, left, from, 1, right, from, 1);
            },
            [self](std::uint32_t message) { self->apply(message); });
        return FLUID_OK;
    }

    void apply(std::uint32_t message)
    {
        const int channel = static_cast<int>(message & 0x0F);
        const int note = static_cast<int>((message >> 8) & 0xFF);
        const int velocity = static_cast<int>((message >> 16) & 0xFF);
        if (velocity == 0)
            fluid_synth_noteoff(m_synth, channel, note);
        else
            fluid_synth_noteon(m_synth, channel, note, velocity);
    }

    NoteScheduler m_scheduler{kSampleRate, kNoteDelayUs};
    fluid_settings_t *m_settings = nullptr;
    fluid_synth_t *m_synth = nullptr;
    fluid_audio_driver_t *m_driver = nullptr;
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
    return std::make_unique<FluidSynthOut>();
}

void setMidiOutFactory(MidiOutFactory replacement) { factory() = std::move(replacement); }

void setIntendedTime(std::optional<std::uint32_t> clockMs) { g_intendedMs = clockMs; }

void setSoundFontPaths(const QStringList &paths) { soundFontOverride() = paths; }

} // namespace platform
