// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QStringList>

// One function per subcommand of velmora-cli. `args` holds the words after the subcommand.
// Each returns the process exit code: 0 success, 1 failure, 2 usage error.
namespace cli {

int runRetune(const QStringList &args);
int runDetect(const QStringList &args);
int runLive(const QStringList &args);
int runConsent(const QStringList &args);
int runPresets(const QStringList &args);
// Talk to the running instance over the session bus (remote.cpp).
int runStatus(const QStringList &args);
int runOn(const QStringList &args);
int runOff(const QStringList &args);
int runToggle(const QStringList &args);
int runSet(const QStringList &args);

} // namespace cli
