// SPDX-License-Identifier: GPL-3.0-or-later
// The gap trainer's bar counting and its chances.
#include "mainwindow/GapTrainer.h"

#include <algorithm>

namespace pulsewerk {

void GapTrainer::start(const Plan &plan, std::uint32_t seed)
{
    m_plan = plan;
    m_plan.play = std::max(plan.play, 1);
    m_plan.mute = std::max(plan.mute, 1);
    m_plan.every = std::max(plan.every, 1);
    m_random.seed(seed);
    m_running = true;
    restart();
}

void GapTrainer::restart()
{
    m_bar = -1;
    m_chance = std::clamp(m_plan.chance, 0, kMostChance);
}

bool GapTrainer::beat(bool downbeat)
{
    if (!m_running)
        return false;
    if (downbeat) {
        ++m_bar;
        if (m_plan.random && m_bar > 0 && m_bar % m_plan.every == 0)
            m_chance = std::clamp(m_chance + m_plan.step, 0, kMostChance);
    }
    if (m_bar < 0)
        return false;
    if (!m_plan.random)
        return m_bar % (m_plan.play + m_plan.mute) >= m_plan.play;
    // The mersenne twister's output is fixed by the standard, so a seed gives the same mutes everywhere.
    return static_cast<int>(m_random() % 100u) < m_chance;
}

} // namespace pulsewerk
