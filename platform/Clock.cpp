// SPDX-License-Identifier: GPL-3.0-or-later
// The system clock: the program's time line read on CLOCK_MONOTONIC, in milliseconds,
// and a wait that wakes on the exact millisecond boundary through a timerfd watched by
// the Qt event loop.
#include "platform/Clock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <sys/syscall.h>
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
    std::uint32_t timeGetTime() override { return static_cast<std::uint32_t>(nowUs() / 1000); }
    std::int64_t nowUs() override { return static_cast<std::int64_t>(std::floor(timeBase().at(monotonicUs()))); }

    void waitUntil(std::uint32_t reading) override
    {
        const std::int64_t nowNs = monotonicNs();
        const auto nowReadingUs = static_cast<std::int64_t>(std::floor(timeBase().at(nowNs / 1000)));
        const auto aheadMs = static_cast<std::int32_t>(reading - static_cast<std::uint32_t>(nowReadingUs / 1000));
        if (aheadMs <= 0) {
            QCoreApplication::processEvents(QEventLoop::AllEvents);
            return;
        }
        // The count reads `reading` from this instant on: the start of that millisecond.
        const double wakeUs = timeBase().monotonicAt(static_cast<double>((nowReadingUs / 1000 + aheadMs) * 1000));
        const auto wakeNs = std::max(nowNs + 1, static_cast<std::int64_t>(std::ceil(wakeUs * 1000)));
        if (!armTimer(wakeNs)) {
            // Without a timerfd a precise Qt timer serves, rounded up to whole milliseconds.
            const auto ms = static_cast<int>((wakeNs - nowNs + 999999) / 1000000);
            QTimer::singleShot(ms, Qt::PreciseTimer, [] {});
        }
        // What the pass posted is done now, so that the wait below sleeps until the
        // wake-up or a real event, not around the loop once more; without a turn of the
        // event loop of its own, which costs a poll of every source.
        QCoreApplication::sendPostedEvents();
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

TimeBase::Map TimeBase::load() const
{
    for (;;) {
        const std::uint32_t before = m_sequence.load(std::memory_order_acquire);
        const Map map{m_originUs.load(std::memory_order_relaxed), m_readingUs.load(std::memory_order_relaxed),
                      m_rate.load(std::memory_order_relaxed)};
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((before & 1) == 0 && m_sequence.load(std::memory_order_relaxed) == before)
            return map;
    }
}

double TimeBase::at(std::int64_t monotonicUs) const
{
    const Map map = load();
    return map.readingUs + (static_cast<double>(monotonicUs) - map.originUs) * map.rate;
}

double TimeBase::monotonicAt(double programUs) const
{
    const Map map = load();
    return map.originUs + (programUs - map.readingUs) / map.rate;
}

void TimeBase::steer(std::int64_t monotonicUs, double rate)
{
    const double readingUs = at(monotonicUs);
    const std::uint32_t sequence = m_sequence.load(std::memory_order_relaxed);
    m_sequence.store(sequence + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    m_originUs.store(static_cast<double>(monotonicUs), std::memory_order_relaxed);
    m_readingUs.store(readingUs, std::memory_order_relaxed);
    m_rate.store(rate, std::memory_order_relaxed);
    m_sequence.store(sequence + 2, std::memory_order_release);
}

TimeBase &timeBase()
{
    static TimeBase base;
    return base;
}

std::int64_t monotonicUs() { return monotonicNs() / 1000; }

Clock &systemClock()
{
    // Never destroyed: its notifier must not outlive the event dispatcher at exit.
    static auto *const system = new SystemClock;
    return *system;
}

void favourThisThread()
{
    // A nice value, not a real-time class: a window's thread may paint for a while, and
    // must not hold up the rest of the desktop. Without the right to it (no RLIMIT_NICE
    // allowance) the thread keeps its own.
    constexpr int kFavouredNice = -10;
    const auto thread = static_cast<id_t>(syscall(SYS_gettid));
    if (setpriority(PRIO_PROCESS, thread, kFavouredNice) != 0) {
        // refused: ordinary priority, as before
    }
}

} // namespace pulsewerk
