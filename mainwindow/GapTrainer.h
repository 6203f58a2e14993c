// SPDX-License-Identifier: GPL-3.0-or-later
// The gap trainer: bars played and bars muted in turn, or beats muted by chance, so the
// player keeps time alone. No Qt here, so a session can be stepped through beat by beat.
#pragma once

#include <cstdint>
#include <random>

namespace pulsewerk {

class GapTrainer {
public:
    struct Plan {
        bool random = false; // mute beats by chance rather than whole bars
        int play = 4;        // bars played, 1..16
        int mute = 4;        // bars muted after them, 1..16
        int chance = 30;     // per cent of beats muted, 0..90
        int step = 0;        // per cent the chance rises by, 0..90; 0: it stays
        int every = 4;       // bars between rises, 1..64
    };
    static constexpr int kMostChance = 90;

    // Starts a session; the bar that begins at the next downbeat is its first.
    void start(const Plan &plan, std::uint32_t seed);
    void stop() { m_running = false; }
    bool isRunning() const { return m_running; }
    // The session begins afresh at the next downbeat: played bars first, the first chance.
    void restart();

    // A beat of the bar is due; `downbeat` when it is the bar's first. Returns whether it
    // is to be muted. Beats before the first downbeat are never muted.
    bool beat(bool downbeat);
    // The chance in per cent that a beat is muted now.
    int chance() const { return m_chance; }

private:
    Plan m_plan;
    std::mt19937 m_random;
    int m_bar = -1; // bars begun since the start, less one; -1 before the first
    int m_chance = 0;
    bool m_running = false;
};

} // namespace pulsewerk
