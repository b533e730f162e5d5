// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The one option parser of velmora-cli's subcommands: QCommandLineParser ("--name value",
// "--name=value", "-j4", "--" ends the options), with the wording and exit codes every
// subcommand shares. Qt's own texts are untranslated, so its errors are told in ours.
//
#include <QCommandLineParser>
#include <QStringList>

#include <functional>
#include <optional>

namespace cli {

class CommandLine {
public:
    CommandLine(const char *command, const QList<QCommandLineOption> &options);

    // Nothing when the command goes on; otherwise its exit code: 0 after -h/--help (`help`
    // printed to stdout), 2 after a usage error (reported).
    std::optional<int> parse(const QStringList &args, const std::function<QString()> &help);
    // "velmora-cli COMMAND: MESSAGE" and the hint to --help on stderr; returns 2.
    int usageError(const QString &message) const;

    bool isSet(const char *name) const { return parser_.isSet(QLatin1String(name)); }
    QString value(const char *name) const { return parser_.value(QLatin1String(name)); }
    QStringList values(const char *name) const { return parser_.values(QLatin1String(name)); }
    QStringList positional() const { return parser_.positionalArguments(); }

private:
    QString firstError(const QStringList &args) const;

    QString command_;
    QList<QCommandLineOption> options_;
    QCommandLineParser parser_;
};

} // namespace cli
