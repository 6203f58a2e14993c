// SPDX-License-Identifier: GPL-3.0-or-later
// The signals that ask a program to end (SIGTERM from a logout or kill, SIGINT from
// Ctrl+C, SIGHUP from a closed terminal), turned into an ordinary call on the event loop.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace pulsewerk {

// From now on SIGTERM, SIGINT and SIGHUP run `end` on this thread's event loop: the
// handler only writes a byte to a pipe that the loop watches. A second of these signals
// while the first is being dealt with ends the process at once, by that signal.
void endOnSignals(std::function<void()> end);

// When the first of these signals came, if one has.
std::optional<std::chrono::steady_clock::time_point> endSignalTime();

} // namespace pulsewerk
