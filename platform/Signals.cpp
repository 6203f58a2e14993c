// SPDX-License-Identifier: GPL-3.0-or-later
// Ending on signals through a self-pipe: the handler does nothing but async-signal-safe
// calls, and a socket notifier on the pipe wakes the event loop (and the beat loop's
// wait, which is an event loop wait) to do the real work.
#include "platform/Signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#ifdef PULSEWERK_SANITIZE
#include <sanitizer/lsan_interface.h>
#endif

namespace pulsewerk {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};

int g_pipe[2] = {-1, -1};
volatile std::sig_atomic_t g_received = 0;
volatile std::sig_atomic_t g_handedOver = 0; // endOnSignals has taken the signals over
bool g_delivered = false;                    // `g_end` has run for the signal received
bool g_ignoredAtStart[NSIG] = {};
timespec g_receivedAt{};
std::function<void()> g_end;
QSocketNotifier *g_notifier = nullptr; // never destroyed: a signal may come until the process ends

void onSignal(int signal)
{
    if (!g_handedOver)
        _exit(0); // before the window: nothing to release or save
    if (g_received) {
        // Already ending and asked again: end now, as the signal itself would.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    const int savedErrno = errno;
    clock_gettime(CLOCK_MONOTONIC, &g_receivedAt);
    g_received = signal;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = savedErrno;
}

// Handles the end signals, except those the process was started with ignored; which
// those are is read once, before the first handler goes in.
void installHandlers()
{
    static const bool known = [] {
        for (const int signal : kSignals) {
            struct sigaction current {};
            sigaction(signal, nullptr, &current);
            g_ignoredAtStart[signal] = current.sa_handler == SIG_IGN;
        }
        return true;
    }();
    Q_UNUSED(known)
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : kSignals) {
        if (!g_ignoredAtStart[signal])
            sigaction(signal, &action, nullptr);
    }
}

void onPipe()
{
    char bytes[8];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    g_notifier->setEnabled(false); // the first signal is the one that counts
    g_delivered = true;
    if (g_end)
        g_end();
}

} // namespace

void catchEndSignals()
{
    std::signal(SIGXFSZ, SIG_IGN);
    installHandlers();
}

void endOnSignals(std::function<void()> end)
{
    g_end = std::move(end);
    if (!g_notifier) {
        if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return; // the signals keep their default action
        g_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read);
        QObject::connect(g_notifier, &QSocketNotifier::activated, g_notifier, onPipe);
    }
    if (g_delivered) {
        g_received = 0; // dealt with: the next signal is a first one again
        g_delivered = false;
    }
    g_notifier->setEnabled(true);
    g_handedOver = 1;
    installHandlers();
}

std::optional<std::chrono::steady_clock::time_point> endSignalTime()
{
    if (!g_received)
        return std::nullopt;
    // steady_clock is CLOCK_MONOTONIC with libstdc++.
    const auto since = std::chrono::seconds(g_receivedAt.tv_sec) + std::chrono::nanoseconds(g_receivedAt.tv_nsec);
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(since));
}

void endProcessNow(int status)
{
    std::fflush(nullptr);
#ifdef PULSEWERK_SANITIZE
    // An ordinary exit would run the leak check; this one skips the exit handlers.
    __lsan_do_leak_check();
#endif
    std::_Exit(status);
}

} // namespace pulsewerk
