// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The test tools' options: `--name value`, anywhere on the command line.
#include <cstdlib>
#include <cstring>

inline double option(int argc, char **argv, const char *name, double fallback)
{
    for (int i = 0; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], name))
            return std::atof(argv[i + 1]);
    return fallback;
}
