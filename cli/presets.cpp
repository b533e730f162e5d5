// SPDX-License-Identifier: GPL-3.0-or-later
// velmora-cli presets: the tuning presets as a table or as JSON.
#include "Commands.h"

#include "TonvelCore/TuningMath.h"
#include "TonvelCore/TuningPreset.h"
#include "i18n/Translations.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>
#include <optional>

namespace {

void printHelp(FILE *out)
{
    std::fprintf(
        out, "%s\n",
        qPrintable(
            qtTrId("cli.presets.usage").arg(TuningPreset::availableLanguages().join(QStringLiteral(", ")))));
}

QString padded(const QString &text, qsizetype width)
{
    return text + QString(std::max<qsizetype>(0, width - text.size()), u' ');
}

QJsonValue optionalValue(const std::optional<double> &v) { return v ? QJsonValue(*v) : QJsonValue(); }
QJsonValue optionalValue(const std::optional<QString> &v) { return v ? QJsonValue(*v) : QJsonValue(); }

} // namespace

int cli::runPresets(const QStringList &args)
{
    bool json = false;
    bool longForm = false;
    std::optional<QString> language;
    for (int i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("-h") || a == QLatin1String("--help")) {
            printHelp(stdout);
            return 0;
        } else if (a == QLatin1String("--json")) {
            json = true;
        } else if (a == QLatin1String("--long")) {
            longForm = true;
        } else if (a == QLatin1String("--language") && i + 1 < args.size()) {
            language = args[++i];
        } else {
            std::fprintf(stderr, "velmora-cli presets: %s\n%s\n",
                         qPrintable(qtTrId("cli.error.unknownOption").arg(a)),
                         qPrintable(qtTrId("cli.hint.help").arg(QStringLiteral("presets"))));
            return 2;
        }
    }
    if (language && !TuningPreset::availableLanguages().contains(*language)) {
        std::fprintf(
            stderr, "velmora-cli presets: %s\n",
            qPrintable(qtTrId("cli.presets.error.language")
                           .arg(*language, TuningPreset::availableLanguages().join(QStringLiteral(", ")))));
        return 2;
    }
    if (language) // the table's own words follow the presets' texts
        Translations::install(*language);

    const auto text = [&](const TuningPreset &p, const char *suffix) {
        return TuningPreset::localized(p.id(), QString::fromLatin1(suffix), language);
    };

    if (json) {
        QJsonArray list;
        for (const TuningPreset &p : TuningPreset::all()) {
            list.append(QJsonObject{
                {QStringLiteral("id"), p.id()},
                {QStringLiteral("title"), p.title()},
                {QStringLiteral("targetHz"), optionalValue(p.targetHz())},
                {QStringLiteral("referenceNote"), optionalValue(p.referenceNote())},
                {QStringLiteral("referenceHz"), optionalValue(p.referenceHz())},
                {QStringLiteral("factor"), p.factor()},
                {QStringLiteral("cents"), p.cents()},
                {QStringLiteral("referenceDescription"), optionalValue(p.referenceDescription())},
                {QStringLiteral("keyword"), text(p, "keyword")},
                {QStringLiteral("background"), text(p, "background")},
            });
        }
        std::fputs(QJsonDocument(list).toJson(QJsonDocument::Indented).constData(), stdout);
        return 0;
    }

    const QString none = QStringLiteral("\u2013");
    const QStringList header = {qtTrId("cli.presets.column.id"),     qtTrId("cli.presets.column.title"),
                                qtTrId("cli.presets.column.target"), qtTrId("cli.presets.column.factor"),
                                qtTrId("cli.presets.column.cents"),  qtTrId("cli.presets.column.reference")};
    QList<QStringList> rows;
    for (const TuningPreset &p : TuningPreset::all()) {
        rows.append({p.id(), p.title(),
                     p.targetHz() ? QStringLiteral("%1 Hz").arg(*p.targetHz(), 0, 'f', 1) : none,
                     QString::number(p.factor(), 'f', 6), TuningMath::formatCents(p.cents()),
                     p.referenceDescription() ? *p.referenceDescription() : none});
    }
    QList<qsizetype> widths(header.size(), 0);
    for (const QStringList &row : QList<QStringList>{header} + rows)
        for (qsizetype c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], row[c].size());

    const auto printRow = [&](const QStringList &row) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c) {
            // Numbers right-aligned, text left-aligned.
            const bool numeric = c == 3 || c == 4;
            line += numeric ? row[c].rightJustified(widths[c]) : padded(row[c], widths[c]);
            if (c + 1 < row.size())
                line += QStringLiteral("  ");
        }
        std::printf("%s\n", qPrintable(line.trimmed()));
    };
    printRow(header);
    for (qsizetype r = 0; r < rows.size(); ++r) {
        printRow(rows[r]);
        if (longForm) {
            const TuningPreset &p = TuningPreset::all()[r];
            std::printf("     %s\n     %s\n\n", qPrintable(text(p, "keyword")), qPrintable(text(p, "background")));
        }
    }
    return 0;
}
