// SPDX-License-Identifier: GPL-3.0-or-later
// The program's lines on standard error.
#include "platform/Say.h"

#include <cstdio>

namespace pulsewerk {

void say(const char *line)
{
    // One call, so that the line is written whole even while another thread speaks.
    std::fprintf(stderr, "Pulsewerk: %s\n", line);
    std::fflush(stderr);
}

} // namespace pulsewerk
