<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="dbus.error.unknownProperty">
        <source>unknown property '%1'</source>
        <translation>unbekannte Eigenschaft '%1'</translation>
    </message>
    <message id="dbus.error.readOnly">
        <source>%1 can only be read</source>
        <translation>%1 kann nur gelesen werden</translation>
    </message>
    <message id="dbus.error.type">
        <source>%1 takes a value of type %2</source>
        <translation>%1 nimmt einen Wert vom Typ %2</translation>
    </message>
    <message id="dbus.error.mode">
        <source>unknown mode '%1' (preset, freeA4)</source>
        <translation>unbekannter Modus '%1' (preset, freeA4)</translation>
    </message>
    <message id="dbus.error.preset">
        <source>unknown preset '%1' (see 'velmora-cli presets')</source>
        <translation>unbekannte Voreinstellung '%1' (siehe 'velmora-cli presets')</translation>
    </message>
    <message id="dbus.error.a4">
        <source>A4 must be a frequency from %1 to %2 Hz, not %3</source>
        <translation>A4 muss eine Frequenz von %1 bis %2 Hz sein, nicht %3</translation>
    </message>
    <message id="dbus.error.engine">
        <source>unknown engine '%1' (lowLatency, balanced, highQuality)</source>
        <translation>unbekannte Engine '%1' (lowLatency, balanced, highQuality)</translation>
    </message>
    <message id="dbus.error.noPanel">
        <source>this Velmora has no panel (velmora-cli live)</source>
        <translation>dieses Velmora hat kein Panel (velmora-cli live)</translation>
    </message>
</context>
</TS>
