// The default MIDI output: FluidSynth with the system's General MIDI SoundFont,
// playing through the desktop's audio server (PulseAudio or PipeWire's service).
#include "platform/MidiOut.h"

#include <fluidsynth.h>

#include <QFileInfo>
#include <QString>

#include <cstdio>
#include <string>

namespace platform {
namespace {

// Audio buffer length in frames; it bounds the click's timing jitter (one period at
// most) while leaving the audio server enough headroom to avoid under-runs.
constexpr int kAudioPeriodSize = 256;
constexpr int kAudioPeriods = 2;
// FluidSynth's default gain (0.2) is quiet for a single click.
constexpr double kSynthGain = 0.8;

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
        fluid_settings_setint(m_settings, "synth.dynamic-sample-loading", 1);
        fluid_settings_setint(m_settings, "synth.reverb.active", 0);
        fluid_settings_setint(m_settings, "synth.chorus.active", 0);
        fluid_settings_setint(m_settings, "synth.polyphony", 32);
        fluid_settings_setstr(m_settings, "audio.driver", "pulseaudio");
        fluid_settings_setint(m_settings, "audio.period-size", kAudioPeriodSize);
        fluid_settings_setint(m_settings, "audio.periods", kAudioPeriods);
        fluid_settings_setstr(m_settings, "audio.pulseaudio.media-role", "music");

        const QString soundFont = findSoundFont(m_settings);
        if (soundFont.isEmpty()) {
            reportSilence("no General MIDI SoundFont found (install timgm6mb-soundfont)");
            close();
            return;
        }
        m_synth = new_fluid_synth(m_settings);
        if (!m_synth || fluid_synth_sfload(m_synth, soundFont.toLocal8Bit().constData(), 1) == FLUID_FAILED) {
            const std::string why = "the SoundFont " + soundFont.toStdString() + " could not be loaded";
            reportSilence(why.c_str());
            close();
            return;
        }
        m_driver = new_fluid_audio_driver(m_settings, m_synth);
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
        const int channel = status & 0x0F;
        if (data2 == 0)
            fluid_synth_noteoff(m_synth, channel, data1);
        else
            fluid_synth_noteon(m_synth, channel, data1, data2);
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

void setSoundFontPaths(const QStringList &paths) { soundFontOverride() = paths; }

} // namespace platform
