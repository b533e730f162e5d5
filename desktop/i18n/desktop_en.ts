<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name></name>
    <message id="ui.status.active">
        <source>Retuning is active</source>
        <translation>Retuning is active</translation>
    </message>
    <message id="ui.status.off">
        <source>Off</source>
        <translation>Off</translation>
    </message>
    <message id="ui.toggle.enable">
        <source>Retune</source>
        <translation>Retune</translation>
    </message>
    <message id="ui.consent.title">
        <source>May this web page read Velmora's status?</source>
        <translation>May this web page read Velmora's status?</translation>
    </message>
    <message id="ui.consent.hint">
        <source>The page will see whether retuning is on, the target A4 and the detected tuning. You can revoke this below at any time.</source>
        <translation>The page will see whether retuning is on, the target A4 and the detected tuning. You can revoke this below at any time.</translation>
    </message>
    <message id="ui.consent.allow">
        <source>Allow</source>
        <translation>Allow</translation>
    </message>
    <message id="ui.consent.deny">
        <source>Deny</source>
        <translation>Deny</translation>
    </message>
    <message id="ui.preset.reference">
        <source>Reference: %1</source>
        <translation>Reference: %1</translation>
    </message>
    <message id="ui.preset.none">
        <source>No retuning</source>
        <translation>No retuning</translation>
    </message>
    <message id="ui.freeA4.label">
        <source>Reference A4</source>
        <translation>Reference A4</translation>
    </message>
    <message id="ui.freeA4.accessibility">
        <source>Reference pitch A4 in hertz</source>
        <translation>Reference pitch A4 in hertz</translation>
    </message>
    <message id="ui.detection.waiting">
        <source>The music's tuning is detected while retuning is on.</source>
        <translation>The music's tuning is detected while retuning is on.</translation>
    </message>
    <message id="ui.detection.title">
        <source>Detected A4</source>
        <translation>Detected A4</translation>
    </message>
    <message id="ui.detection.confidence">
        <source>Confidence</source>
        <translation>Confidence</translation>
    </message>
    <message id="ui.automatic.toggle">
        <source>Correct the music's tuning automatically</source>
        <translation>Correct the music's tuning automatically</translation>
    </message>
    <message id="ui.automatic.correction">
        <source>Correction</source>
        <translation>Correction</translation>
    </message>
    <message id="ui.automatic.fixed">
        <source>Fixed factor: the music's own tuning is not taken into account.</source>
        <translation>Fixed factor: the music's own tuning is not taken into account.</translation>
    </message>
    <message id="ui.automatic.unsure">
        <source>Detection not sure yet: the correction holds still.</source>
        <translation>Detection not sure yet: the correction holds still.</translation>
    </message>
    <message id="ui.engine.hq.warning">
        <source>Best sound, but a noticeable delay and more CPU load.</source>
        <translation>Best sound, but a noticeable delay and more CPU load.</translation>
    </message>
    <message id="ui.engine.ll.warning">
        <source>Large shift: the low-latency engine may sound rough. Balanced keeps the sound cleaner.</source>
        <translation>Large shift: the low-latency engine may sound rough. Balanced keeps the sound cleaner.</translation>
    </message>
    <message id="ui.engine.balanced.note">
        <source>Keeps the sound's character at a moderate delay.</source>
        <translation>Keeps the sound's character at a moderate delay.</translation>
    </message>
    <message id="ui.readout.shift">
        <source>Shift</source>
        <translation>Shift</translation>
    </message>
    <message id="ui.readout.factor">
        <source>Factor</source>
        <translation>Factor</translation>
    </message>
    <message id="ui.readout.output">
        <source>Output</source>
        <translation>Output</translation>
    </message>
    <message id="ui.readout.sampleRate">
        <source>Sample rate</source>
        <translation>Sample rate</translation>
    </message>
    <message id="ui.readout.underruns">
        <source>Underruns</source>
        <translation>Underruns</translation>
    </message>
    <message id="ui.readout.rebuilds">
        <source>Rebuilds</source>
        <translation>Rebuilds</translation>
    </message>
    <message id="ui.error.permissionHint">
        <source>PipeWire and WirePlumber must be running in your session (systemctl --user status pipewire wireplumber).</source>
        <translation>PipeWire and WirePlumber must be running in your session (systemctl --user status pipewire wireplumber).</translation>
    </message>
    <message id="ui.error.openSettings">
        <source>Sound settings</source>
        <translation>Sound settings</translation>
    </message>
    <message id="ui.error.retry">
        <source>Try again</source>
        <translation>Try again</translation>
    </message>
    <message id="ui.footer.launchAtLogin">
        <source>Start at login</source>
        <translation>Start at login</translation>
    </message>
    <message id="ui.footer.statusServer">
        <source>Status for web pages</source>
        <translation>Status for web pages</translation>
    </message>
    <message id="ui.footer.statusServerHint">
        <source>Serves the status on 127.0.0.1:47432, only to pages you allowed.</source>
        <translation>Serves the status on 127.0.0.1:47432, only to pages you allowed.</translation>
    </message>
    <message id="ui.consent.list">
        <source>Web pages</source>
        <translation>Web pages</translation>
    </message>
    <message id="ui.consent.revoke">
        <source>Revoke</source>
        <translation>Revoke</translation>
    </message>
    <message id="ui.footer.rejected">
        <source>Autostart awaits approval</source>
        <translation>Autostart awaits approval</translation>
    </message>
    <message id="ui.footer.openLoginItems">
        <source>Autostart folder</source>
        <translation>Autostart folder</translation>
    </message>
    <message id="ui.footer.quit">
        <source>Quit</source>
        <translation>Quit</translation>
    </message>
    <message id="engine.lowLatency.title">
        <source>Low latency</source>
        <translation>Low latency</translation>
    </message>
    <message id="engine.balanced.title">
        <source>Balanced</source>
        <translation>Balanced</translation>
    </message>
    <message id="engine.highQuality.title">
        <source>High quality</source>
        <translation>High quality</translation>
    </message>
    <message id="engine.lowLatency.subtitle">
        <source>Resampling, hardly any delay</source>
        <translation>Resampling, hardly any delay</translation>
    </message>
    <message id="engine.balanced.subtitle">
        <source>Spectral, keeps the timbre</source>
        <translation>Spectral, keeps the timbre</translation>
    </message>
    <message id="engine.highQuality.subtitle">
        <source>Spectral, finest resolution</source>
        <translation>Spectral, finest resolution</translation>
    </message>
    <message id="tray.menu.open">
        <source>Open panel</source>
        <translation>Open panel</translation>
    </message>
    <message id="tray.menu.enable">
        <source>Retune</source>
        <translation>Retune</translation>
    </message>
    <message id="tray.menu.quit">
        <source>Quit</source>
        <translation>Quit</translation>
    </message>
    <message id="tray.tooltip.on">
        <source>Velmora: retuning to %1</source>
        <translation>Velmora: retuning to %1</translation>
    </message>
    <message id="tray.tooltip.off">
        <source>Velmora: off</source>
        <translation>Velmora: off</translation>
    </message>
    <message id="ui.error.hint.busy">
        <source>Another Velmora is already retuning (for example velmora-cli live). Quit it, then try again.</source>
        <translation>Another Velmora is already retuning (for example velmora-cli live). Quit it, then try again.</translation>
    </message>
    <message id="ui.error.hint.noSessionManager">
        <source>No session manager (WirePlumber) is running: without it there is no output device to play to (systemctl --user status wireplumber).</source>
        <translation>No session manager (WirePlumber) is running: without it there is no output device to play to (systemctl --user status wireplumber).</translation>
    </message>
    <message id="ui.consent.notSaved">
        <source>Not saved: %1</source>
        <translation>Not saved: %1</translation>
    </message>
    <message id="ui.consent.revokeOrigin">
        <source>Revoke %1</source>
        <translation>Revoke %1</translation>
    </message>
    <message id="notify.background.title">
        <source>Velmora keeps retuning in the background</source>
        <translation>Velmora keeps retuning in the background</translation>
    </message>
    <message id="notify.background.body">
        <source>Start Velmora again to show its window; Quit in the window ends it.</source>
        <translation>Start Velmora again to show its window; Quit in the window ends it.</translation>
    </message>
    <message id="ui.error.noServer">
        <source>Velmora needs a running PipeWire sound server in this session.</source>
        <translation>Velmora needs a running PipeWire sound server in this session.</translation>
    </message>
    <message id="ui.automatic.following">
        <source>Following the tracks of %1: %2</source>
        <translation>Following the tracks of %1: %2</translation>
    </message>
    <message id="ui.apps.title">
        <source>Applications</source>
        <translation>Applications</translation>
    </message>
    <message id="ui.apps.none">
        <source>Applications appear here once they play.</source>
        <translation>Applications appear here once they play.</translation>
    </message>
    <message id="ui.apps.retune">
        <source>retune</source>
        <translation>retune</translation>
    </message>
    <message id="ui.apps.retuneApp">
        <source>Retune %1</source>
        <translation>Retune %1</translation>
    </message>
    <message id="ui.apps.retuneCalls">
        <source>Retune calls</source>
        <translation>Retune calls</translation>
    </message>
    <message id="ui.device.remember">
        <source>Remember per output device</source>
        <translation>Remember per output device</translation>
    </message>
    <message id="ui.device.settingsFor">
        <source>Settings for: %1</source>
        <translation>Settings for: %1</translation>
    </message>
</context>
</TS>
