// SPDX-License-Identifier: GPL-3.0-or-later
#include "Commands.h"

#include <cstdio>

int cli::runDetect(const QStringList &)
{
    std::fprintf(stderr, "velmora-cli detect: not available yet\n");
    return 1;
}
