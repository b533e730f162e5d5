// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli: Velmora's engines for terminals. Dispatches to one function per subcommand.
// Every text a person reads comes from the tables in cli/i18n, keyed cli.<command>.<what>
// (cli.<what> where all commands share it), in the user's language.
#include "Commands.h"
#include "identity/AppIdentity.h"
#include "i18n/Translations.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

struct Command {
    const char *name;
    int (*run)(const QStringList &);
    const char *summary; // translation id
};

constexpr Command commands[] = {
    {"retune", cli::runRetune, QT_TRID_NOOP("cli.retune.summary")},
    {"detect", cli::runDetect, QT_TRID_NOOP("cli.detect.summary")},
    {"live", cli::runLive, QT_TRID_NOOP("cli.live.summary")},
    {"consent", cli::runConsent, QT_TRID_NOOP("cli.consent.summary")},
    {"presets", cli::runPresets, QT_TRID_NOOP("cli.presets.summary")},
    {"status", cli::runStatus, QT_TRID_NOOP("cli.status.summary")},
    {"on", cli::runOn, QT_TRID_NOOP("cli.on.summary")},
    {"off", cli::runOff, QT_TRID_NOOP("cli.off.summary")},
    {"toggle", cli::runToggle, QT_TRID_NOOP("cli.toggle.summary")},
    {"set", cli::runSet, QT_TRID_NOOP("cli.set.summary")},
};

void printUsage(FILE *out)
{
    std::fprintf(out, "%s\n", qPrintable(qtTrId("cli.usage")));
    for (const auto &c : commands)
        std::fprintf(out, "  %-9s %s\n", c.name, qPrintable(qtTrId(c.summary)));
    std::fprintf(out, "\n%s\n", qPrintable(qtTrId("cli.usage.more")));
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    AppIdentity::applyToApplication();
    Translations::install();

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
    std::fprintf(stderr, "velmora-cli: %s\n\n", qPrintable(qtTrId("cli.error.unknownCommand").arg(words[0])));
    printUsage(stderr);
    return 2;
}
