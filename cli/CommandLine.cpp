// SPDX-License-Identifier: GPL-3.0-or-later
#include "CommandLine.h"

#include <QCoreApplication>

#include <cstdio>

namespace cli {

CommandLine::CommandLine(const char *command, const QList<QCommandLineOption> &options)
    : command_(QString::fromLatin1(command)), options_(options)
{
    parser_.addOptions(options);
    parser_.addOption({{QStringLiteral("h"), QStringLiteral("help")}, QString()});
}

std::optional<int> CommandLine::parse(const QStringList &args, const std::function<QString()> &help)
{
    if (!parser_.parse(QStringList(command_) + args))
        return usageError(firstError(args));
    if (parser_.isSet(QStringLiteral("help"))) {
        std::printf("%s\n", qPrintable(help()));
        return 0;
    }
    return std::nullopt;
}

int CommandLine::usageError(const QString &message) const
{
    std::fprintf(stderr, "velmora-cli %s: %s\n%s\n", qPrintable(command_), qPrintable(message),
                 qPrintable(qtTrId("cli.hint.help").arg(command_)));
    return 2;
}

// The parser only says that something was wrong; find the word and say it our way.
QString CommandLine::firstError(const QStringList &args) const
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &a = args[i];
        if (a == QLatin1String("--"))
            break;
        if (!a.startsWith(u'-') || a.size() < 2)
            continue;
        const bool isLong = a.startsWith(QLatin1String("--"));
        const QString name = isLong ? a.mid(2).section(u'=', 0, 0) : a.mid(1, 1);
        const auto option = std::find_if(options_.begin(), options_.end(),
                                         [&](const QCommandLineOption &o) { return o.names().contains(name); });
        if (option == options_.end() && name != u"h" && name != u"help")
            return qtTrId("cli.error.unknownOption").arg(isLong ? QStringLiteral("--") + name : a.left(2));
        const bool takesValue = option != options_.end() && !option->valueName().isEmpty();
        const bool inline_ = isLong ? a.contains(u'=') : a.size() > 2;
        if (takesValue && !inline_ && i + 1 == args.size())
            return qtTrId("cli.error.needsValue").arg(a);
        if (!takesValue && isLong && inline_)
            return qtTrId("cli.error.takesNoValue").arg(a.section(u'=', 0, 0));
        if (takesValue && !inline_)
            ++i; // the value, whatever it looks like
    }
    return parser_.errorText(); // not expected: at least say what Qt says
}

} // namespace cli
