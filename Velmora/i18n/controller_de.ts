<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="controller.device.none">
        <source>No output device</source>
        <translation>Kein Ausgabegeraet</translation>
    </message>
    <message id="controller.error.serverLost">
        <source>PipeWire cannot be reached. Velmora carries on as soon as it is back.</source>
        <translation>PipeWire ist nicht erreichbar. Velmora macht weiter, sobald es wieder da ist.</translation>
    </message>
    <message id="mode.preset">
        <source>Preset</source>
        <translation>Preset</translation>
    </message>
    <message id="mode.freeA4">
        <source>Free A4</source>
        <translation>Freies A4</translation>
    </message>
    <message id="live.hint.noServer">
        <source>Hint: no reachable PipeWire server runs in this session (check XDG_RUNTIME_DIR).</source>
        <translation>Hinweis: Es läuft kein erreichbarer PipeWire-Server in dieser Sitzung (XDG_RUNTIME_DIR prüfen).</translation>
    </message>
    <message id="live.hint.noSessionManager">
        <source>Hint: no session manager (WirePlumber) is running. Without it there is no default output device and nothing gets connected; please check the PipeWire session.</source>
        <translation>Hinweis: Es läuft kein Sitzungsmanager (WirePlumber). Ohne ihn gibt es kein Standard-Ausgabegerät und keine Verbindungen; bitte die PipeWire-Sitzung prüfen.</translation>
    </message>
    <message id="live.hint.busy">
        <source>Hint: Velmora is already running in another process.</source>
        <translation>Hinweis: Velmora läuft bereits in einem anderen Prozess.</translation>
    </message>
</context>
</TS>
