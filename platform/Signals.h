// SPDX-License-Identifier: GPL-3.0-or-later
// The signals that ask a program to end (SIGTERM from a logout or kill, SIGINT from
// Ctrl+C, SIGHUP from a closed terminal), turned into an ordinary call on the event loop.
#pragma once

#include <chrono>
#include <functional>
#include <optional>

namespace pulsewerk {

// The first thing the process does: SIGXFSZ is ignored (a write past the file-size
// limit fails with EFBIG, reported like a full disk), and until endOnSignals is called
// SIGTERM, SIGINT and SIGHUP end the process at once with status 0: there is nothing
// yet to release or save. A signal ignored when the process started (SIGHUP under
// nohup) stays ignored, here and in endOnSignals.
void catchEndSignals();

// From now on SIGTERM, SIGINT and SIGHUP run `end` on this thread's event loop: the
// handler only writes a byte to a pipe that the loop watches. A second of these signals
// while the first is being dealt with ends the process at once, by that signal.
void endOnSignals(std::function<void()> end);

// When the first of these signals came, if one has.
std::optional<std::chrono::steady_clock::time_point> endSignalTime();

// Ends the process at once with `status`: no further window events, no destructors.
// The sanitizer build checks for leaks first.
[[noreturn]] void endProcessNow(int status);

} // namespace pulsewerk
