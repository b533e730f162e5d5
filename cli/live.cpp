// SPDX-License-Identifier: GPL-3.0-or-later
#include "Commands.h"

#include <cstdio>

int cli::runLive(const QStringList &)
{
    std::fprintf(stderr, "velmora-cli live: not available yet\n");
    return 1;
}
