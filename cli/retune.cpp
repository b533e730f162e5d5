// SPDX-License-Identifier: GPL-3.0-or-later
#include "Commands.h"

#include <cstdio>

int cli::runRetune(const QStringList &)
{
    std::fprintf(stderr, "velmora-cli retune: not available yet\n");
    return 1;
}
