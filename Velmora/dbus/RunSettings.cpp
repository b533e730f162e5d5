// SPDX-License-Identifier: GPL-3.0-or-later
#include "dbus/RunSettings.h"

#include "controller/SettingsStore.h"
#include "controller/TonvelController.h"

void RunSettings::saveBusWrite(const TonvelController &c, const QString &property, const QString &settingsPath)
{
    SettingsStore store(settingsPath.isEmpty() ? SettingsStore::defaultPath() : settingsPath, true);
    SettingsStore::Choice choice = SettingsStore::choiceFrom(store.restore());
    if (property == u"Mode")
        choice.freeMode = c.mode() == TonvelController::Mode::freeA4;
    else if (property == u"PresetID")
        choice.presetID = c.selectedPresetID();
    else if (property == u"FreeA4")
        choice.freeA4 = c.freeA4();
    else if (property == u"Engine")
        choice.engine = c.engine();
    else if (property == u"Automatic")
        choice.automatic = c.automatic();
    else if (property == u"StatusServer")
        choice.statusServer = c.statusServerEnabled();
    else
        return;
    store.save(choice);
}
