// SPDX-License-Identifier: GPL-3.0-or-later
// FluidSynth's own PulseAudio driver as the desktop's back end: no timing reports, no
// reconnection; the benchmarks' baseline.
#pragma once

#include "sound/AudioBackend.h"

namespace pulsewerk {

std::unique_ptr<AudioBackend> createFluidSynthDriverBackend();

} // namespace pulsewerk
