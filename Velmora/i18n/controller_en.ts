<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name></name>
    <message id="controller.device.none">
        <source>No output device</source>
        <translation>No output device</translation>
    </message>
    <message id="controller.error.serverLost">
        <source>PipeWire cannot be reached. Velmora carries on as soon as it is back.</source>
        <translation>PipeWire cannot be reached. Velmora carries on as soon as it is back.</translation>
    </message>
    <message id="controller.reason.stalled">
        <source>Audio stand still</source>
        <translation>Audio stood still</translation>
    </message>
    <message id="controller.reason.deviceChanged">
        <source>Ausgabegerät gewechselt</source>
        <translation>Output device changed</translation>
    </message>
    <message id="controller.reason.rateChanged">
        <source>Samplerate geändert</source>
        <translation>Sample rate changed</translation>
    </message>
    <message id="controller.reason.serverBack">
        <source>PipeWire wieder erreichbar</source>
        <translation>PipeWire reachable again</translation>
    </message>
    <message id="controller.reason.streamFailed">
        <source>Audiostrom im Fehlerzustand</source>
        <translation>Audio stream in an error state</translation>
    </message>
    <message id="controller.error.noSessionManager">
        <source>Waiting for the session manager (WirePlumber); applications play unprocessed meanwhile. Velmora retunes again as soon as it is back.</source>
        <translation>Waiting for the session manager (WirePlumber); applications play unprocessed meanwhile. Velmora retunes again as soon as it is back.</translation>
    </message>
    <message id="controller.error.noOutputDevice">
        <source>Waiting for an output device. Velmora retunes again as soon as one is there.</source>
        <translation>Waiting for an output device. Velmora retunes again as soon as one is there.</translation>
    </message>
    <message id="controller.error.bypassed">
        <source>Playing unprocessed while the audio chain restarts.</source>
        <translation>Playing unprocessed while the audio chain restarts.</translation>
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
        <translation>Free A4</translation>
    </message>
</context>
</TS>
