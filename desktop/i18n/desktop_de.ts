<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="ui.status.active">
        <source>Retuning is active</source>
        <translation>Umstimmung aktiv</translation>
    </message>
    <message id="ui.status.off">
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message id="ui.toggle.enable">
        <source>Retune</source>
        <translation>Umstimmen</translation>
    </message>
    <message id="ui.consent.title">
        <source>May this web page read Velmora's status?</source>
        <translation>Darf diese Webseite den Status von Velmora lesen?</translation>
    </message>
    <message id="ui.consent.hint">
        <source>The page will see whether retuning is on, the target A4 and the detected tuning. You can revoke this below at any time.</source>
        <translation>Die Seite sieht dann, ob umgestimmt wird, den Ziel-Kammerton und die erkannte Stimmung. Unten jederzeit widerrufbar.</translation>
    </message>
    <message id="ui.consent.allow">
        <source>Allow</source>
        <translation>Erlauben</translation>
    </message>
    <message id="ui.consent.deny">
        <source>Deny</source>
        <translation>Ablehnen</translation>
    </message>
    <message id="ui.preset.reference">
        <source>Reference: %1</source>
        <translation>Bezug: %1</translation>
    </message>
    <message id="ui.preset.none">
        <source>No retuning</source>
        <translation>Keine Umstimmung</translation>
    </message>
    <message id="ui.freeA4.label">
        <source>Reference A4</source>
        <translation>Kammerton A4</translation>
    </message>
    <message id="ui.freeA4.accessibility">
        <source>Reference pitch A4 in hertz</source>
        <translation>Kammerton A4 in Hertz</translation>
    </message>
    <message id="ui.detection.waiting">
        <source>The music's tuning is detected while retuning is on.</source>
        <translation>Die Stimmung der Musik wird erkannt, solange umgestimmt wird.</translation>
    </message>
    <message id="ui.detection.title">
        <source>Detected A4</source>
        <translation>Erkanntes A4</translation>
    </message>
    <message id="ui.detection.confidence">
        <source>Confidence</source>
        <translation>Sicherheit</translation>
    </message>
    <message id="ui.automatic.toggle">
        <source>Correct the music's tuning automatically</source>
        <translation>Musikstimmung automatisch ausgleichen</translation>
    </message>
    <message id="ui.automatic.correction">
        <source>Correction</source>
        <translation>Korrektur</translation>
    </message>
    <message id="ui.automatic.fixed">
        <source>Fixed factor: the music's own tuning is not taken into account.</source>
        <translation>Fester Faktor: die eigene Stimmung der Musik bleibt unberücksichtigt.</translation>
    </message>
    <message id="ui.automatic.unsure">
        <source>Detection not sure yet: the correction holds still.</source>
        <translation>Erkennung noch unsicher: die Korrektur wartet.</translation>
    </message>
    <message id="ui.engine.hq.warning">
        <source>Best sound, but a noticeable delay and more CPU load.</source>
        <translation>Bester Klang, aber spürbare Verzögerung und mehr Rechenlast.</translation>
    </message>
    <message id="ui.engine.ll.warning">
        <source>Large shift: the low-latency engine may sound rough. Balanced keeps the sound cleaner.</source>
        <translation>Große Verschiebung: die Engine mit geringer Latenz kann rau klingen. Ausgewogen klingt sauberer.</translation>
    </message>
    <message id="ui.engine.balanced.note">
        <source>Keeps the sound's character at a moderate delay.</source>
        <translation>Erhält den Klangcharakter bei mäßiger Verzögerung.</translation>
    </message>
    <message id="ui.readout.shift">
        <source>Shift</source>
        <translation>Verschiebung</translation>
    </message>
    <message id="ui.readout.factor">
        <source>Factor</source>
        <translation>Faktor</translation>
    </message>
    <message id="ui.readout.output">
        <source>Output</source>
        <translation>Ausgabe</translation>
    </message>
    <message id="ui.readout.sampleRate">
        <source>Sample rate</source>
        <translation>Abtastrate</translation>
    </message>
    <message id="ui.readout.underruns">
        <source>Underruns</source>
        <translation>Aussetzer</translation>
    </message>
    <message id="ui.readout.rebuilds">
        <source>Rebuilds</source>
        <translation>Neuaufbauten</translation>
    </message>
    <message id="ui.error.permissionHint">
        <source>PipeWire and WirePlumber must be running in your session (systemctl --user status pipewire wireplumber).</source>
        <translation>PipeWire und WirePlumber müssen in deiner Sitzung laufen (systemctl --user status pipewire wireplumber).</translation>
    </message>
    <message id="ui.error.openSettings">
        <source>Sound settings</source>
        <translation>Toneinstellungen</translation>
    </message>
    <message id="ui.error.retry">
        <source>Try again</source>
        <translation>Erneut versuchen</translation>
    </message>
    <message id="ui.footer.launchAtLogin">
        <source>Start at login</source>
        <translation>Beim Anmelden starten</translation>
    </message>
    <message id="ui.footer.statusServer">
        <source>Status for web pages</source>
        <translation>Status für Webseiten</translation>
    </message>
    <message id="ui.footer.statusServerHint">
        <source>Serves the status on 127.0.0.1:47432, only to pages you allowed.</source>
        <translation>Liefert den Status auf 127.0.0.1:47432, nur an Seiten, die du erlaubt hast.</translation>
    </message>
    <message id="ui.consent.list">
        <source>Web pages</source>
        <translation>Webseiten</translation>
    </message>
    <message id="ui.consent.revoke">
        <source>Revoke</source>
        <translation>Widerrufen</translation>
    </message>
    <message id="ui.footer.rejected">
        <source>Autostart awaits approval</source>
        <translation>Autostart wartet auf Bestätigung</translation>
    </message>
    <message id="ui.footer.openLoginItems">
        <source>Autostart folder</source>
        <translation>Autostart-Ordner</translation>
    </message>
    <message id="ui.footer.quit">
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message id="engine.lowLatency.title">
        <source>Low latency</source>
        <translation>Geringe Latenz</translation>
    </message>
    <message id="engine.balanced.title">
        <source>Balanced</source>
        <translation>Ausgewogen</translation>
    </message>
    <message id="engine.highQuality.title">
        <source>High quality</source>
        <translation>Hohe Qualität</translation>
    </message>
    <message id="engine.lowLatency.subtitle">
        <source>Resampling, hardly any delay</source>
        <translation>Resampling, kaum Verzögerung</translation>
    </message>
    <message id="engine.balanced.subtitle">
        <source>Spectral, keeps the timbre</source>
        <translation>Spektral, erhält die Klangfarbe</translation>
    </message>
    <message id="engine.highQuality.subtitle">
        <source>Spectral, finest resolution</source>
        <translation>Spektral, feinste Auflösung</translation>
    </message>
    <message id="tray.menu.open">
        <source>Open panel</source>
        <translation>Panel öffnen</translation>
    </message>
    <message id="tray.menu.enable">
        <source>Retune</source>
        <translation>Umstimmen</translation>
    </message>
    <message id="tray.menu.quit">
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message id="tray.tooltip.on">
        <source>Velmora: retuning to %1</source>
        <translation>Velmora: stimmt um auf %1</translation>
    </message>
    <message id="tray.tooltip.off">
        <source>Velmora: off</source>
        <translation>Velmora: aus</translation>
    </message>
    <message id="ui.error.hint.busy">
        <source>Another Velmora is already retuning (for example velmora-cli live). Quit it, then try again.</source>
        <translation>Ein anderes Velmora stimmt bereits um (etwa velmora-cli live). Beende es und versuche es dann erneut.</translation>
    </message>
    <message id="ui.error.hint.noSessionManager">
        <source>No session manager (WirePlumber) is running: without it there is no output device to play to (systemctl --user status wireplumber).</source>
        <translation>Kein Sitzungsmanager (WirePlumber) läuft: ohne ihn gibt es kein Ausgabegerät (systemctl --user status wireplumber).</translation>
    </message>
    <message id="ui.consent.notSaved">
        <source>Not saved: %1</source>
        <translation>Nicht gespeichert: %1</translation>
    </message>
    <message id="ui.consent.revokeOrigin">
        <source>Revoke %1</source>
        <translation>%1 widerrufen</translation>
    </message>
    <message id="notify.background.title">
        <source>Velmora keeps retuning in the background</source>
        <translation>Velmora stimmt im Hintergrund weiter um</translation>
    </message>
    <message id="notify.background.body">
        <source>Start Velmora again to show its window; Quit in the window ends it.</source>
        <translation>Starte Velmora erneut, um das Fenster zu zeigen; „Beenden“ im Fenster beendet es.</translation>
    </message>
    <message id="ui.error.noServer">
        <source>Velmora needs a running PipeWire sound server in this session.</source>
        <translation>Velmora braucht einen laufenden PipeWire-Tondienst in dieser Sitzung.</translation>
    </message>
    <message id="ui.automatic.following">
        <source>Following the tracks of %1: %2</source>
        <translation>Folgt den Titeln von %1: %2</translation>
    </message>
    <message id="ui.apps.title">
        <source>Applications</source>
        <translation>Anwendungen</translation>
    </message>
    <message id="ui.apps.none">
        <source>Applications appear here once they play.</source>
        <translation>Anwendungen erscheinen hier, sobald sie abspielen.</translation>
    </message>
    <message id="ui.apps.retune">
        <source>retune</source>
        <translation>umstimmen</translation>
    </message>
    <message id="ui.apps.retuneApp">
        <source>Retune %1</source>
        <translation>%1 umstimmen</translation>
    </message>
    <message id="ui.apps.retuneCalls">
        <source>Retune calls</source>
        <translation>Anrufe umstimmen</translation>
    </message>
    <message id="ui.device.remember">
        <source>Remember per output device</source>
        <translation>Für jedes Ausgabegerät merken</translation>
    </message>
    <message id="ui.device.settingsFor">
        <source>Settings for: %1</source>
        <translation>Einstellungen für: %1</translation>
    </message>
</context>
</TS>
