// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli consent: the stored decisions about which web pages may read the status,
// in the same file the tray program uses.
#include "Commands.h"

#include "TonvelCore/OriginConsent.h"

#include <QCoreApplication>

#include <algorithm>

#include <cstdio>

namespace {

void printUsage(FILE *out)
{
    std::fprintf(out, "%s\n", qPrintable(qtTrId("cli.consent.usage")));
}

// `done`: the translation id of the result line, "%1" the origin, "%2" the file.
int reportSave(const OriginConsent &store, const char *done, const QString &origin)
{
    if (!store.saveError().isEmpty()) {
        std::fprintf(stderr, "velmora-cli consent: %s\n",
                     qPrintable(qtTrId("cli.consent.error.notSaved").arg(store.saveError())));
        return 1;
    }
    std::printf("%s\n", qPrintable(qtTrId(done).arg(origin, store.storePath())));
    return 0;
}

} // namespace

int cli::runConsent(const QStringList &args)
{
    if (args.size() == 1 && (args[0] == QLatin1String("--help") || args[0] == QLatin1String("-h"))) {
        printUsage(stdout);
        return 0;
    }
    const bool list = args.size() == 1 && args[0] == QLatin1String("list");
    const bool change = args.size() == 2
        && (args[0] == QLatin1String("allow") || args[0] == QLatin1String("deny")
            || args[0] == QLatin1String("revoke"));
    if (!list && !change) {
        printUsage(stderr);
        return 2;
    }
    const QString origin = change ? args[1] : QString();
    if (change && args[0] != QLatin1String("revoke")) {
        // Only what a browser can send is stored: anything else would never match a request
        // and could show as something else in the panel.
        if (!OriginConsent::isWellFormedOrigin(origin)) {
            std::fprintf(stderr, "velmora-cli consent: %s\n",
                         qPrintable(qtTrId("cli.consent.error.notAnOrigin").arg(origin)));
            return 2;
        }
    }

    OriginConsent store(OriginConsent::defaultStorePath());
    if (!store.setAsidePath().isEmpty()) {
        std::fprintf(stderr, "velmora-cli consent: %s\n",
                     qPrintable(qtTrId("cli.consent.error.setAside").arg(store.setAsidePath())));
    } else if (!store.saveError().isEmpty()) {
        std::fprintf(stderr, "velmora-cli consent: %s\n", qPrintable(store.saveError()));
        if (change)
            return 1;
    }

    if (list) {
        const auto entries = store.allEntries();
        if (entries.isEmpty()) {
            std::printf("%s\n", qPrintable(qtTrId("cli.consent.result.empty").arg(store.storePath())));
            return 0;
        }
        // The stored records as they are (decision word, UTC time, origin), for scripts too.
        for (const auto &e : entries) {
            std::printf("%-7s  %s  %s\n", qPrintable(OriginConsent::rawValue(e.decision)),
                        qPrintable(e.decidedAt.toUTC().toString(Qt::ISODate)), qPrintable(e.origin));
        }
        return 0;
    }
    if (args[0] == QLatin1String("revoke")) {
        const auto entries = store.allEntries();
        const bool known = std::any_of(entries.begin(), entries.end(),
                                       [&](const auto &e) { return e.origin == origin; });
        if (!known) {
            std::fprintf(stderr, "velmora-cli consent: %s\n",
                         qPrintable(qtTrId("cli.consent.error.unknownOrigin").arg(origin)));
            return 1;
        }
        store.revoke(origin);
        return reportSave(store, QT_TRID_NOOP("cli.consent.result.revoked"), origin);
    }
    const bool allow = args[0] == QLatin1String("allow");
    store.resolve(origin, allow ? OriginConsent::Decision::allowed : OriginConsent::Decision::denied);
    return reportSave(
        store, allow ? QT_TRID_NOOP("cli.consent.result.allowed") : QT_TRID_NOOP("cli.consent.result.denied"),
        origin);
}
