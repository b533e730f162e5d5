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
    <message id="mode.preset">
        <source>Preset</source>
        <translation>Preset</translation>
    </message>
    <message id="mode.freeA4">
        <source>Free A4</source>
        <translation>Free A4</translation>
    </message>
    <message id="live.hint.noServer">
        <source>Hint: no reachable PipeWire server runs in this session (check XDG_RUNTIME_DIR).</source>
        <translation>Hint: no reachable PipeWire server runs in this session (check XDG_RUNTIME_DIR).</translation>
    </message>
    <message id="live.hint.noSessionManager">
        <source>Hint: no session manager (WirePlumber) is running. Without it there is no default output device and nothing gets connected; please check the PipeWire session.</source>
        <translation>Hint: no session manager (WirePlumber) is running. Without it there is no default output device and nothing gets connected; please check the PipeWire session.</translation>
    </message>
    <message id="live.hint.busy">
        <source>Hint: Velmora is already running in another process.</source>
        <translation>Hint: Velmora is already running in another process.</translation>
    </message>
</context>
</TS>
