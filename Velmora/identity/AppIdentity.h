// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// Names shared by the tray program, velmora-cli and every layer of the library, so that all
// find the same settings, consent file, audio nodes, thread labels and log categories.
//
#include <QLoggingCategory>
#include <QString>

namespace AppIdentity {

inline constexpr const char *applicationId = VELMORA_APP_ID; // org.velmora.Velmora
inline constexpr const char *applicationName = "Velmora";
inline constexpr const char *version = VELMORA_VERSION;

// Sets organisation/application names on the running QCoreApplication (call once, early).
void applyToApplication();

// "<application id>.<suffix>", e.g. the label of a worker thread.
QString qualified(const char *suffix);

// The log category of a component, "<application id>.<component>". One object per name for
// the life of the process (never destroyed: exit hooks may still log).
const QLoggingCategory &logCategory(const char *component);

} // namespace AppIdentity
