// SPDX-License-Identifier: GPL-3.0-or-later
#include "dbus/RunSettings.h"

#include "controller/SettingsStore.h"
#include "controller/TonvelController.h"

void RunSettings::saveBusWrite(const TonvelController &c, const QString &property, const QString &settingsPath)
{
    SettingsStore store(settingsPath.isEmpty() ? SettingsStore::defaultPath() : settingsPath, true);
    const SettingsStore::Restored r = store.restore();
    SettingsStore::Choice choice{r.freeMode.value_or(false), r.presetID.value_or(QStringLiteral("432")),
                                 r.freeA4.value_or(440.0),   r.shouldResume,
                                 r.engine.value_or(EngineKind::lowLatency), r.automatic,
                                 r.statusServer.value_or(true)};
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
