// SPDX-License-Identifier: GPL-3.0-or-later
#include "Commands.h"

#include <cstdio>

int cli::runPresets(const QStringList &)
{
    std::fprintf(stderr, "velmora-cli presets: not available yet\n");
    return 1;
}
