// SPDX-License-Identifier: GPL-3.0-or-later
// Finds where the clicks start in audio read block by block from a JACK port: a sample
// louder than kOnsetLevel after a twentieth of a second of quieter ones. Plain C++, for
// the JACK readers of the end-to-end test and of the JACK benchmark.
#pragma once

#include <cmath>
#include <cstdint>
#include <vector>

namespace pulsewerk {

class ClickDetector {
public:
    static constexpr float kOnsetLevel = 0.01f;

    explicit ClickDetector(std::int64_t sampleRate) : m_quietNeeded(sampleRate / 20) {}

    // Reads `count` samples, the first of them frame `start`, and adds the frame of each
    // click that starts among them to `onsets`. A block left out (null) is silence.
    void read(const float *samples, std::uint32_t count, std::int64_t start, std::vector<std::int64_t> &onsets)
    {
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!samples || std::fabs(samples[i]) < kOnsetLevel) {
                ++m_quiet;
                continue;
            }
            if (m_quiet >= m_quietNeeded)
                onsets.push_back(start + i);
            m_quiet = 0;
        }
    }

private:
    std::int64_t m_quietNeeded;
    std::int64_t m_quiet = 0;
};

} // namespace pulsewerk
