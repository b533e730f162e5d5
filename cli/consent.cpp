// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli consent: the stored decisions about which web pages may read the status,
// in the same file the tray program uses.
#include "Commands.h"

#include "TonvelCore/OriginConsent.h"

#include <QRegularExpression>

#include <algorithm>

#include <cstdio>

namespace {

void printUsage(FILE *out)
{
    std::fprintf(out,
                 "Usage: velmora-cli consent list\n"
                 "       velmora-cli consent allow ORIGIN\n"
                 "       velmora-cli consent deny ORIGIN\n"
                 "       velmora-cli consent revoke ORIGIN\n\n"
                 "Decides which web pages may read Velmora's status on 127.0.0.1:47432.\n"
                 "ORIGIN is what the browser sends: scheme://host[:port] without a path,\n"
                 "e.g. http://localhost:8000 (or the literal null).\n"
                 "Velmora reads the file when it starts; velmora-cli live also when it changes.\n");
}

// Browsers send scheme://host[:port]; anything else (a path, a trailing slash, spaces)
// would never match a request.
bool looksLikeOrigin(const QString &origin)
{
    static const QRegularExpression form(
        QStringLiteral(R"(^[A-Za-z][A-Za-z0-9+.\-]*://[^/\s?#]+$)"));
    return origin == QLatin1String("null") || form.match(origin).hasMatch();
}

bool isStorable(const QString &origin)
{
    for (const QChar c : origin) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    return !origin.isEmpty() && origin.toUtf8().size() <= 1024;
}

int reportSave(const OriginConsent &store, const char *what, const QString &origin)
{
    if (!store.saveError().isEmpty()) {
        std::fprintf(stderr, "velmora-cli consent: not saved: %s\n", qPrintable(store.saveError()));
        return 1;
    }
    std::printf("%s %s (%s)\n", what, qPrintable(origin), qPrintable(store.storePath()));
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
        if (!isStorable(origin) || !looksLikeOrigin(origin)) {
            std::fprintf(stderr,
                         "velmora-cli consent: '%s' is not an origin; expected scheme://host[:port] "
                         "without a path, e.g. http://localhost:8000\n",
                         qPrintable(origin));
            return 2;
        }
    }

    OriginConsent store(OriginConsent::defaultStorePath());
    if (!store.setAsidePath().isEmpty()) {
        std::fprintf(stderr,
                     "velmora-cli consent: the consent file could not be read; it was moved to %s\n",
                     qPrintable(store.setAsidePath()));
    } else if (!store.saveError().isEmpty()) {
        std::fprintf(stderr, "velmora-cli consent: %s\n", qPrintable(store.saveError()));
        if (change)
            return 1;
    }

    if (list) {
        const auto entries = store.allEntries();
        if (entries.isEmpty()) {
            std::printf("No decisions stored (%s).\n", qPrintable(store.storePath()));
            return 0;
        }
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
            std::fprintf(stderr, "velmora-cli consent: no decision stored for '%s'\n",
                         qPrintable(origin));
            return 1;
        }
        store.revoke(origin);
        return reportSave(store, "revoked", origin);
    }
    const bool allow = args[0] == QLatin1String("allow");
    store.resolve(origin, allow ? OriginConsent::Decision::allowed : OriginConsent::Decision::denied);
    return reportSave(store, allow ? "allowed" : "denied", origin);
}
