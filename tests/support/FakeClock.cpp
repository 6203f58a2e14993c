// SPDX-License-Identifier: GPL-3.0-or-later
// The fake clock.
#include "FakeClock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <cstdio>
#include <cstdlib>

void FakeClock::at(std::uint32_t offset, std::function<void()> action) { m_actions.emplace(offset, std::move(action)); }

void FakeClock::waitUntil(std::uint32_t reading)
{
    countWait();
    const auto ahead = static_cast<std::int32_t>(reading - m_now);
    if (!m_actions.empty() && static_cast<std::int32_t>(m_actions.begin()->first - sinceStart()) <= ahead) {
        runNextAction();
        return;
    }
    if (ahead > 0)
        m_now = reading;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void FakeClock::waitForEvents()
{
    countWait();
    if (m_actions.empty()) {
        std::fprintf(stderr, "FakeClock: the loop waits for an event that no script sends\n");
        std::abort();
    }
    runNextAction();
}

void FakeClock::countWait()
{
    if (++m_waits > 10'000'000) {
        std::fprintf(stderr, "FakeClock: the loop never stopped\n");
        std::abort();
    }
}

void FakeClock::runNextAction()
{
    const auto next = m_actions.begin();
    const auto actionAhead = static_cast<std::int32_t>(next->first - sinceStart());
    if (actionAhead > 0)
        m_now += static_cast<std::uint32_t>(actionAhead);
    QMetaObject::invokeMethod(qApp, next->second, Qt::QueuedConnection);
    m_actions.erase(next);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
