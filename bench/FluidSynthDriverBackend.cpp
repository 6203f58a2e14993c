// SPDX-License-Identifier: GPL-3.0-or-later
// FluidSynth's own PulseAudio driver as a back end: the way the program sounded before
// it had a stream of its own, kept as the benchmarks' baseline. It gives no timing
// reports, so notes are placed by the time of the first buffer alone.
#include "FluidSynthDriverBackend.h"
#include "platform/Clock.h"
#include "sound/AudioBackend.h"
#include "sound/FrameLine.h"

#include <fluidsynth.h>

#include <atomic>

namespace pulsewerk {
namespace {

constexpr double kRate = 44100.0;
constexpr int kPeriodFrames = 1024;

class FluidSynthDriverBackend final : public AudioBackend {
public:
    ~FluidSynthDriverBackend() override { stop(); }

    bool start(FrameSource &source) override
    {
        m_source = &source;
        m_settings = new_fluid_settings();
        if (!m_settings)
            return false;
        fluid_settings_setnum(m_settings, "synth.sample-rate", kRate);
        fluid_settings_setstr(m_settings, "audio.driver", "pulseaudio");
        fluid_settings_setint(m_settings, "audio.period-size", kPeriodFrames);
        fluid_settings_setstr(m_settings, "audio.pulseaudio.media-role", "music");
        source.streamStarted(kRate, latencyUs(), m_line);
        m_driver = new_fluid_audio_driver2(m_settings, &FluidSynthDriverBackend::render, this);
        return m_driver != nullptr;
    }

    void stop() override
    {
        if (m_driver)
            delete_fluid_audio_driver(m_driver);
        m_driver = nullptr;
        if (m_settings)
            delete_fluid_settings(m_settings);
        m_settings = nullptr;
        m_line.stop(monotonicUs());
    }

private:
    static int render(void *data, int frames, int /*nfx*/, float * /*fx*/[], int nout, float *out[])
    {
        auto *self = static_cast<FluidSynthDriverBackend *>(data);
        if (!self->m_lineStarted.exchange(true))
            self->m_line.start(kRate, monotonicUs(), latencyUs());
        self->m_source->render(frames, out[0], out[nout > 1 ? 1 : 0]);
        return FLUID_OK;
    }

    static std::int64_t latencyUs() { return static_cast<std::int64_t>(kPeriodFrames * 1e6 / kRate); }

    FrameSource *m_source = nullptr;
    FrameLine m_line{FrameLine::Policy::Blind, kRate};
    std::atomic<bool> m_lineStarted{false};
    fluid_settings_t *m_settings = nullptr;
    fluid_audio_driver_t *m_driver = nullptr;
};

} // namespace

std::unique_ptr<AudioBackend> createFluidSynthDriverBackend() { return std::make_unique<FluidSynthDriverBackend>(); }

} // namespace pulsewerk
