// SPDX-License-Identifier: GPL-3.0-or-later
// The system clock: CLOCK_MONOTONIC in milliseconds, and a wait that wakes on the
// exact millisecond boundary through a timerfd watched by the Qt event loop.
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <ctime>
#include <memory>
#include <sys/timerfd.h>
#include <unistd.h>

namespace pulsewerk {
namespace {

std::int64_t monotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

class SystemClock final : public Clock {
public:
    std::uint32_t timeGetTime() override { return static_cast<std::uint32_t>(monotonicNs() / 1000000); }

    void waitUntil(std::uint32_t reading) override
    {
        const std::int64_t nowNs = monotonicNs();
        const auto nowReading = static_cast<std::uint32_t>(nowNs / 1000000);
        const auto aheadMs = static_cast<std::int32_t>(reading - nowReading);
        if (aheadMs <= 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            return;
        }
        // The count reads `reading` from this instant on: the start of that millisecond.
        const std::int64_t wakeNs = (nowNs / 1000000 + aheadMs) * 1000000;
        if (!armTimer(wakeNs)) {
            // Without a timerfd a precise Qt timer serves, rounded up to whole milliseconds.
            const auto ms = static_cast<int>((wakeNs - nowNs + 999999) / 1000000);
            QTimer::singleShot(ms, Qt::PreciseTimer, [] {});
        }
        // What the pass posted (the lamps' repaints) is done now, so that the wait below
        // sleeps until the wake-up or a real event, not around the loop once more.
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }

    void waitForEvents() override { QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents); }

private:
    bool armTimer(std::int64_t wakeNs)
    {
        if (m_timerFd == -1) {
            m_timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
            if (m_timerFd < 0) {
                m_timerFd = -2; // not available: do not try again
                return false;
            }
            m_notifier = std::make_unique<QSocketNotifier>(m_timerFd, QSocketNotifier::Read);
            QObject::connect(m_notifier.get(), &QSocketNotifier::activated, m_notifier.get(), [fd = m_timerFd] {
                std::uint64_t expirations = 0;
                while (::read(fd, &expirations, sizeof expirations) < 0 && errno == EINTR) {
                }
            });
        }
        if (m_timerFd < 0)
            return false;
        itimerspec wake{};
        wake.it_value.tv_sec = static_cast<time_t>(wakeNs / 1000000000);
        wake.it_value.tv_nsec = static_cast<long>(wakeNs % 1000000000);
        return timerfd_settime(m_timerFd, TFD_TIMER_ABSTIME, &wake, nullptr) == 0;
    }

    int m_timerFd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace

std::int64_t monotonicUs() { return monotonicNs() / 1000; }

Clock &systemClock()
{
    // Never destroyed: its notifier must not outlive the event dispatcher at exit.
    static auto *const system = new SystemClock;
    return *system;
}

} // namespace pulsewerk
