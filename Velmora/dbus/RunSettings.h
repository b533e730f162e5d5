// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
//
// A run with its own options (velmora-cli live) saves nothing by itself, so that its options stay
// its own. What a client sets over the bus is the user's choice all the same: saveBusWrite()
// stores that one setting over what was saved before and leaves every other key as it was.
// Switching on or off is not stored: such a run always switches on, the tray program resumes by
// its own saved state. Main thread only.
//
#include <QString>

class TonvelController;

namespace RunSettings {

// `settingsPath` empty: SettingsStore::defaultPath().
void saveBusWrite(const TonvelController &controller, const QString &property, const QString &settingsPath = {});

} // namespace RunSettings
