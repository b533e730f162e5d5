// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Names shared by the tray program and velmora-cli, so both find the same settings,
// consent file and audio nodes.
namespace AppIdentity {

inline constexpr const char *applicationId = VELMORA_APP_ID;   // org.velmora.Velmora
inline constexpr const char *applicationName = "Velmora";
inline constexpr const char *version = VELMORA_VERSION;

// Sets organisation/application names on the running QCoreApplication (call once, early).
void applyToApplication();

// "<application id>.<suffix>", e.g. the label of a worker thread or a logging category.
QString qualified(const char *suffix);

} // namespace AppIdentity
