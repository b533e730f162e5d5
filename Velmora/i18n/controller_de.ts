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
    <message id="controller.reason.stalled">
        <source>Audio stand still</source>
        <translation>Audio stand still</translation>
    </message>
    <message id="controller.reason.deviceChanged">
        <source>Ausgabegerät gewechselt</source>
        <translation>Ausgabegerät gewechselt</translation>
    </message>
    <message id="controller.reason.rateChanged">
        <source>Samplerate geändert</source>
        <translation>Samplerate geändert</translation>
    </message>
    <message id="controller.reason.serverBack">
        <source>PipeWire wieder erreichbar</source>
        <translation>PipeWire wieder erreichbar</translation>
    </message>
    <message id="controller.reason.streamFailed">
        <source>Audiostrom im Fehlerzustand</source>
        <translation>Audiostrom im Fehlerzustand</translation>
    </message>
    <message id="controller.error.noSessionManager">
        <source>Waiting for the session manager (WirePlumber); applications play unprocessed meanwhile. Velmora retunes again as soon as it is back.</source>
        <translation>Warte auf den Sitzungsmanager (WirePlumber); die Programme spielen so lange unbearbeitet. Velmora stimmt wieder um, sobald er zurück ist.</translation>
    </message>
    <message id="controller.error.noOutputDevice">
        <source>Waiting for an output device. Velmora retunes again as soon as one is there.</source>
        <translation>Warte auf ein Ausgabegerät. Velmora stimmt wieder um, sobald eines da ist.</translation>
    </message>
    <message id="controller.error.bypassed">
        <source>Playing unprocessed while the audio chain restarts.</source>
        <translation>Spielt unbearbeitet, während die Audiokette neu startet.</translation>
    </message>
    <message id="controller.reason.sessionBack">
        <source>Sitzung wieder bereit</source>
        <translation>Sitzung wieder bereit</translation>
    </message>
    <message id="mode.preset">
        <source>Preset</source>
        <translation>Preset</translation>
    </message>
    <message id="mode.freeA4">
        <source>Free A4</source>
        <translation>Freies A4</translation>
    </message>
</context>
</TS>
