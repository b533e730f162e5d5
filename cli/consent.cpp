// SPDX-License-Identifier: GPL-3.0-or-later
#include "Commands.h"

#include <cstdio>

int cli::runConsent(const QStringList &)
{
    std::fprintf(stderr, "velmora-cli consent: not available yet\n");
    return 1;
}
