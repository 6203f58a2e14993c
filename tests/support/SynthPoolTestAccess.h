// SPDX-License-Identifier: GPL-3.0-or-later
// What the synthesizer pool keeps to itself, for checks.
#pragma once

#include "sound/SynthPool.h"

#include <algorithm>

namespace pulsewerk {

struct SynthPoolTestAccess {
    // Whether notes are played from takes (on by default); off, every note is rendered.
    static void setReplaying(SynthPool &pool, bool replaying) { pool.m_replaying = replaying; }
    // Notes sounding, from synthesizers and from takes.
    static int sounding(const SynthPool &pool)
    {
        const auto live = std::count_if(pool.m_voices.begin(), pool.m_voices.end(),
                                        [](const SynthPool::Voice &voice) { return voice.active; });
        return static_cast<int>(live) + replayed(pool);
    }
    // Of those, the ones played from takes.
    static int replayed(const SynthPool &pool) { return static_cast<int>(pool.m_replays.size()); }
};

} // namespace pulsewerk
