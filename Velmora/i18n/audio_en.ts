<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name></name>
    <message id="audio.error.failed">
        <source>%1 failed (%2)</source>
        <translation>%1 failed (%2)</translation>
    </message>
    <message id="audio.operation.connect">
        <source>Connect to PipeWire</source>
        <translation>Connect to PipeWire</translation>
    </message>
    <message id="audio.operation.readDefaultOutput">
        <source>Read the default output device</source>
        <translation>Read the default output device</translation>
    </message>
    <message id="audio.operation.noDefaultOutput">
        <source>Find a default output device</source>
        <translation>Find a default output device</translation>
    </message>
    <message id="audio.operation.createCaptureSink">
        <source>Create the capture sink</source>
        <translation>Create the capture sink</translation>
    </message>
    <message id="audio.operation.createOutputStream">
        <source>Create the output stream</source>
        <translation>Create the output stream</translation>
    </message>
    <message id="audio.operation.startChain">
        <source>Start the audio chain</source>
        <translation>Start the audio chain</translation>
    </message>
    <message id="audio.operation.startSecondChain">
        <source>Start a second audio chain</source>
        <translation>Start a second audio chain</translation>
    </message>
    <message id="audio.operation.moveOutput">
        <source>Move the output to another device</source>
        <translation>Move the output to another device</translation>
    </message>
    <message id="audio.operation.createDspObjects">
        <source>Create the DSP objects</source>
        <translation>Create the DSP objects</translation>
    </message>
    <message id="audio.operation.createDelayEngine">
        <source>Create the DSP engine</source>
        <translation>Create the DSP engine</translation>
    </message>
    <message id="audio.operation.createStretchEngine">
        <source>Create the stretch engine</source>
        <translation>Create the stretch engine</translation>
    </message>
    <message id="audio.operation.createSwitcher">
        <source>Create the engine switcher</source>
        <translation>Create the engine switcher</translation>
    </message>
    <message id="audio.operation.createAnalysisBuffer">
        <source>Create the analysis buffer</source>
        <translation>Create the analysis buffer</translation>
    </message>
</context>
</TS>
