// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own voice on standard error: one line at a time, each after the
// program's name.
#pragma once

namespace pulsewerk {

// Writes "Pulsewerk: " and `line` as one line on standard error, at once. It takes a
// plain string so that any thread may speak, the audio back ends' included.
void say(const char *line);

} // namespace pulsewerk
