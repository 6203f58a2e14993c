// SPDX-License-Identifier: GPL-3.0-or-later
// The speed trainer's bar counting and steps.
#include "mainwindow/SpeedTrainer.h"

#include <algorithm>

namespace pulsewerk {

void SpeedTrainer::start(const Plan &plan)
{
    m_plan = plan;
    m_tempo = plan.start;
    m_barsDone = 0;
    m_inBar = false;
    m_running = plan.start != plan.end;
}

int SpeedTrainer::downbeat()
{
    if (!m_running)
        return 0;
    const bool barEnded = m_inBar;
    m_inBar = true;
    if (!barEnded || ++m_barsDone < std::max(m_plan.bars, 1))
        return 0;
    m_barsDone = 0;
    const int step = std::max(m_plan.step, 1);
    m_tempo = m_plan.end > m_tempo ? std::min(m_tempo + step, m_plan.end) : std::max(m_tempo - step, m_plan.end);
    if (m_tempo == m_plan.end)
        m_running = false;
    return m_tempo;
}

} // namespace pulsewerk
