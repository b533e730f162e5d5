// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// The one reason not to start: a PipeWire library older than the one we were built against
// (it cannot change while the program runs). A sound server that is not running yet is no
// reason: the panel shows the error and retuning resumes when the server appears.
//
#include <QString>

namespace PlatformGate {

// Whether `library` ("0.3.65") is at least `minimum`; unreadable versions count as too old.
bool isRecentEnough(const QString &library, const QString &minimum);
// Checks the loaded library; when it is too old, shows the critical message with its only
// button "Beenden" and returns false.
bool pass();

} // namespace PlatformGate
