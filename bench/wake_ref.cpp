// SPDX-License-Identifier: GPL-3.0-or-later
// The host's own price of a wake-up, beside a CPU figure taken at the same time: a
// thread that only sleeps and wakes HZ times a second for SECONDS, then prints the CPU
// time each wake-up cost it in microseconds. On a virtual machine that price varies
// from hour to hour and can be ten times a bare machine's. Plain C++, no Qt.
//
// Usage: wake_ref HZ SECONDS   prints: host_wake_us=U
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {
double cpuUs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 3 || std::atoi(argv[1]) <= 0 || std::atoi(argv[2]) <= 0) {
        std::fprintf(stderr, "usage: wake_ref HZ SECONDS\n");
        return 2;
    }
    const long hz = std::atol(argv[1]);
    const long wakes = hz * std::atol(argv[2]);
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    const double start = cpuUs();
    for (long i = 0; i < wakes; ++i) {
        next.tv_nsec += 1000000000L / hz;
        if (next.tv_nsec >= 1000000000L) {
            next.tv_nsec -= 1000000000L;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
    }
    std::printf("host_wake_us=%.1f\n", (cpuUs() - start) / static_cast<double>(wakes));
    return 0;
}
