<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="audio.error.failed">
        <source>%1 failed (%2)</source>
        <translation>%1 fehlgeschlagen (%2)</translation>
    </message>
    <message id="audio.operation.connect">
        <source>Connect to PipeWire</source>
        <translation>Verbindung zu PipeWire herstellen</translation>
    </message>
    <message id="audio.operation.readDefaultOutput">
        <source>Read the default output device</source>
        <translation>Standard-Ausgabegeraet lesen</translation>
    </message>
    <message id="audio.operation.noDefaultOutput">
        <source>Find a default output device</source>
        <translation>Kein Standard-Ausgabegeraet vorhanden</translation>
    </message>
    <message id="audio.operation.createCaptureSink">
        <source>Create the capture sink</source>
        <translation>Aufnahme-Senke anlegen</translation>
    </message>
    <message id="audio.operation.createOutputStream">
        <source>Create the output stream</source>
        <translation>Ausgabestrom anlegen</translation>
    </message>
    <message id="audio.operation.startChain">
        <source>Start the audio chain</source>
        <translation>Audiokette starten</translation>
    </message>
    <message id="audio.operation.startSecondChain">
        <source>Start a second audio chain</source>
        <translation>Zweite Audiokette starten</translation>
    </message>
    <message id="audio.operation.moveOutput">
        <source>Move the output to another device</source>
        <translation>Ausgabe auf anderes Geraet legen</translation>
    </message>
    <message id="audio.operation.createDspObjects">
        <source>Create the DSP objects</source>
        <translation>DSP-Objekte anlegen</translation>
    </message>
    <message id="audio.operation.createDelayEngine">
        <source>Create the DSP engine</source>
        <translation>DSP-Engine anlegen</translation>
    </message>
    <message id="audio.operation.createStretchEngine">
        <source>Create the stretch engine</source>
        <translation>Stretch-Engine anlegen</translation>
    </message>
    <message id="audio.operation.createSwitcher">
        <source>Create the engine switcher</source>
        <translation>Umschalter anlegen</translation>
    </message>
    <message id="audio.operation.createAnalysisBuffer">
        <source>Create the analysis buffer</source>
        <translation>Analyse-Puffer anlegen</translation>
    </message>
</context>
</TS>
