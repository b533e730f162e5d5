// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli: Velmora's engines for terminals. Dispatches to one function per subcommand.
#include "Commands.h"
#include "app/AppIdentity.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char *name;
    int (*run)(const QStringList &);
    const char *summary;
};

constexpr Command commands[] = {
    {"retune", cli::runRetune, "retune audio files (e.g. to A4 = 432 Hz)"},
    {"detect", cli::runDetect, "estimate the A4 a recording is tuned to"},
    {"live", cli::runLive, "retune everything the computer plays, without a panel"},
    {"consent", cli::runConsent, "manage which web pages may read the status"},
    {"presets", cli::runPresets, "list the tuning presets"},
};

void printUsage(FILE *out)
{
    std::fprintf(out, "Usage: velmora-cli COMMAND [OPTIONS...]\n\nCommands:\n");
    for (const auto &c : commands)
        std::fprintf(out, "  %-9s %s\n", c.name, c.summary);
    std::fprintf(out, "\nRun 'velmora-cli COMMAND --help' for the options of a command.\n");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    AppIdentity::applyToApplication();

    const QStringList words = QCoreApplication::arguments().mid(1);
    if (words.isEmpty() || words[0] == QLatin1String("--help") || words[0] == QLatin1String("-h")
        || words[0] == QLatin1String("help")) {
        printUsage(words.isEmpty() ? stderr : stdout);
        return words.isEmpty() ? 2 : 0;
    }
    if (words[0] == QLatin1String("--version")) {
        std::printf("velmora-cli %s\n", AppIdentity::version);
        return 0;
    }
    for (const auto &c : commands) {
        if (words[0] == QLatin1String(c.name))
            return c.run(words.mid(1));
    }
    std::fprintf(stderr, "velmora-cli: unknown command '%s'\n\n", qPrintable(words[0]));
    printUsage(stderr);
    return 2;
}
