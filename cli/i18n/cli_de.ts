<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="cli.usage">
        <source>Usage: velmora-cli COMMAND [OPTIONS...]

Commands:</source>
        <translation>Aufruf: velmora-cli BEFEHL [OPTIONEN...]

Befehle:</translation>
    </message>
    <message id="cli.usage.more">
        <source>Run 'velmora-cli COMMAND --help' for the options of a command.</source>
        <translation>'velmora-cli BEFEHL --help' zeigt die Optionen eines Befehls.</translation>
    </message>
    <message id="cli.error.unknownCommand">
        <source>unknown command '%1'</source>
        <translation>unbekannter Befehl '%1'</translation>
    </message>
    <message id="cli.retune.summary">
        <source>retune audio files (e.g. to A4 = 432 Hz)</source>
        <translation>Audiodateien umstimmen (z. B. auf A4 = 432 Hz)</translation>
    </message>
    <message id="cli.detect.summary">
        <source>estimate the A4 a recording is tuned to</source>
        <translation>den Kammerton (A4) einer Aufnahme schätzen</translation>
    </message>
    <message id="cli.live.summary">
        <source>retune everything the computer plays, without a panel</source>
        <translation>alles umstimmen, was der Computer abspielt, ohne Panel</translation>
    </message>
    <message id="cli.consent.summary">
        <source>manage which web pages may read the status</source>
        <translation>festlegen, welche Webseiten den Status lesen dürfen</translation>
    </message>
    <message id="cli.presets.summary">
        <source>list the tuning presets</source>
        <translation>die Stimmungs-Voreinstellungen auflisten</translation>
    </message>
    <message id="cli.error.needsValue">
        <source>%1 needs a value</source>
        <translation>%1 braucht einen Wert</translation>
    </message>
    <message id="cli.error.takesNoValue">
        <source>%1 takes no value</source>
        <translation>%1 nimmt keinen Wert</translation>
    </message>
    <message id="cli.error.unknownOption">
        <source>unknown option '%1'</source>
        <translation>unbekannte Option '%1'</translation>
    </message>
    <message id="cli.error.jobs">
        <source>--jobs needs a number from 1 to 1024</source>
        <translation>--jobs braucht eine Zahl von 1 bis 1024</translation>
    </message>
    <message id="cli.hint.help">
        <source>Run 'velmora-cli %1 --help' for the options.</source>
        <translation>'velmora-cli %1 --help' zeigt die Optionen.</translation>
    </message>
    <message id="cli.consent.usage">
        <source>Usage: velmora-cli consent list
       velmora-cli consent allow ORIGIN
       velmora-cli consent deny ORIGIN
       velmora-cli consent revoke ORIGIN

Decides which web pages may read Velmora's status on 127.0.0.1:47432.
ORIGIN is what the browser sends: scheme://host[:port] without a path,
e.g. http://localhost:8000 (or the literal null).
Velmora reads the file when it starts; velmora-cli live also when it changes.</source>
        <translation>Aufruf: velmora-cli consent list
        velmora-cli consent allow HERKUNFT
        velmora-cli consent deny HERKUNFT
        velmora-cli consent revoke HERKUNFT

Legt fest, welche Webseiten den Status von Velmora auf 127.0.0.1:47432 lesen dürfen.
HERKUNFT ist, was der Browser sendet: schema://host[:port] ohne Pfad,
z. B. http://localhost:8000 (oder wörtlich null).
Velmora liest die Datei beim Start, velmora-cli live auch, wenn sie sich ändert.</translation>
    </message>
    <message id="cli.consent.error.notSaved">
        <source>not saved: %1</source>
        <translation>nicht gespeichert: %1</translation>
    </message>
    <message id="cli.consent.error.notAnOrigin">
        <source>'%1' is not an origin; expected scheme://host[:port] without a path, e.g. http://localhost:8000</source>
        <translation>'%1' ist keine Herkunft; erwartet wird schema://host[:port] ohne Pfad, z. B. http://localhost:8000</translation>
    </message>
    <message id="cli.consent.error.setAside">
        <source>the consent file could not be read; it was moved to %1</source>
        <translation>die Einwilligungsdatei war nicht lesbar; sie wurde nach %1 verschoben</translation>
    </message>
    <message id="cli.consent.error.unknownOrigin">
        <source>no decision stored for '%1'</source>
        <translation>für '%1' ist keine Entscheidung gespeichert</translation>
    </message>
    <message id="cli.consent.result.empty">
        <source>No decisions stored (%1).</source>
        <translation>Keine Entscheidungen gespeichert (%1).</translation>
    </message>
    <message id="cli.consent.result.allowed">
        <source>allowed %1 (%2)</source>
        <translation>%1 erlaubt (%2)</translation>
    </message>
    <message id="cli.consent.result.denied">
        <source>denied %1 (%2)</source>
        <translation>%1 abgelehnt (%2)</translation>
    </message>
    <message id="cli.consent.result.revoked">
        <source>revoked %1 (%2)</source>
        <translation>%1 widerrufen (%2)</translation>
    </message>
    <message id="cli.presets.usage">
        <source>Usage: velmora-cli presets [--long] [--json] [--language LANG]

Lists the tuning presets: id, title, the frequency a preset is named after, its
processing factor and that factor in cents, and the equal-tempered note it moves
onto the named frequency.

Options:
  --long           add each preset's keyword and background text
  --json           print a JSON array with every field and both texts
  --language LANG  language of the texts (%1); default: the current locale
  -h, --help       show this help</source>
        <translation>Aufruf: velmora-cli presets [--long] [--json] [--language SPRACHE]

Listet die Stimmungs-Voreinstellungen: Kennung, Titel, die Frequenz, nach der eine
Voreinstellung benannt ist, ihren Umstimmungsfaktor und diesen Faktor in Cent, und den
gleichstufig gestimmten Ton, den sie auf die genannte Frequenz verschiebt.

Optionen:
  --long              zu jeder Voreinstellung Stichwort und Hintergrund zeigen
  --json              ein JSON-Array mit allen Feldern und beiden Texten ausgeben
  --language SPRACHE  Sprache der Texte (%1); Standard: die Sprache des Systems
  -h, --help          diese Hilfe zeigen</translation>
    </message>
    <message id="cli.presets.error.language">
        <source>no texts in '%1'; available: %2</source>
        <translation>keine Texte in '%1'; vorhanden: %2</translation>
    </message>
    <message id="cli.presets.column.id">
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message id="cli.presets.column.title">
        <source>Title</source>
        <translation>Titel</translation>
    </message>
    <message id="cli.presets.column.target">
        <source>Target</source>
        <translation>Ziel</translation>
    </message>
    <message id="cli.presets.column.factor">
        <source>Factor</source>
        <translation>Faktor</translation>
    </message>
    <message id="cli.presets.column.cents">
        <source>Cents</source>
        <translation>Cent</translation>
    </message>
    <message id="cli.presets.column.reference">
        <source>Reference</source>
        <translation>Bezug</translation>
    </message>
    <message id="cli.error.unknownEngine">
        <source>unknown engine '%1' (lowLatency, balanced, highQuality)</source>
        <translation>unbekannte Engine '%1' (lowLatency, balanced, highQuality)</translation>
    </message>
    <message id="cli.live.error.arguments">
        <source>unexpected arguments, or --preset and --a4 together</source>
        <translation>unerwartete Argumente, oder --preset und --a4 zusammen</translation>
    </message>
    <message id="cli.live.error.unknownPreset">
        <source>unknown preset '%1' (see 'velmora-cli presets')</source>
        <translation>unbekannte Voreinstellung '%1' (siehe 'velmora-cli presets')</translation>
    </message>
    <message id="cli.live.error.a4">
        <source>--a4 needs a frequency between 400 and 470 Hz</source>
        <translation>--a4 braucht eine Frequenz zwischen 400 und 470 Hz</translation>
    </message>
    <message id="cli.live.error.setup">
        <source>audio layer or signal handling not available</source>
        <translation>Audioschicht oder Signale nicht verfügbar</translation>
    </message>
    <message id="cli.live.usage">
        <source>Usage: velmora-cli live [--preset ID | --a4 HZ] [--engine KIND] [--auto] [--exclude APP]... [--no-status-server]

Retunes everything the computer plays until Ctrl-C. The saved settings are the defaults;
the options count for this run only.

Options:
  --preset ID           a tuning preset (see 'velmora-cli presets')
  --a4 HZ               free reference A4 between 400 and 470 Hz
  --engine KIND         lowLatency, balanced or highQuality
  --auto                detect the music's A4 and correct it towards 440 Hz
  --exclude APP         leave an application (its binary or name) unprocessed; repeatable
  --no-status-server    do not serve the status on 127.0.0.1:47432
  -h, --help            show this help</source>
        <translation>Aufruf: velmora-cli live [--preset ID | --a4 HZ] [--engine ART] [--auto] [--exclude APP]... [--no-status-server]

Stimmt alles um, was der Computer abspielt, bis Strg-C. Die gespeicherten Einstellungen
sind die Vorgabe; die Optionen gelten nur für diesen Lauf.

Optionen:
  --preset ID           eine Stimmungs-Voreinstellung (siehe 'velmora-cli presets')
  --a4 HZ               freier Kammerton A4 zwischen 400 und 470 Hz
  --engine ART          lowLatency, balanced oder highQuality
  --auto                den Kammerton der Musik erkennen und auf 440 Hz korrigieren
  --exclude APP         eine Anwendung (Programm oder Name) nicht umstimmen; wiederholbar
  --no-status-server    den Status nicht auf 127.0.0.1:47432 anbieten
  -h, --help            diese Hilfe zeigen</translation>
    </message>
    <message id="cli.live.hint.noServer">
        <source>Hint: no reachable PipeWire server runs in this session (check XDG_RUNTIME_DIR).</source>
        <translation>Hinweis: Es läuft kein erreichbarer PipeWire-Server in dieser Sitzung (XDG_RUNTIME_DIR prüfen).</translation>
    </message>
    <message id="cli.live.hint.noSessionManager">
        <source>Hint: no session manager (WirePlumber) is running. Without it there is no default output device and nothing gets connected; please check the PipeWire session.</source>
        <translation>Hinweis: Es läuft kein Sitzungsmanager (WirePlumber). Ohne ihn gibt es kein Standard-Ausgabegerät und keine Verbindungen; bitte die PipeWire-Sitzung prüfen.</translation>
    </message>
    <message id="cli.live.hint.busy">
        <source>Hint: Velmora is already running in another process.</source>
        <translation>Hinweis: Velmora läuft bereits in einem anderen Prozess.</translation>
    </message>
    <message id="cli.live.status">
        <source>Output: %1 | %2 Hz | latency %3 ms | underruns %4 | detected A4 %5</source>
        <translation>Ausgabe: %1 | %2 Hz | Latenz %3 ms | Unterläufe %4 | erkanntes A4 %5</translation>
    </message>
    <message id="cli.live.status.callback">
        <source> | longest callback %1 ms</source>
        <translation> | längster Callback %1 ms</translation>
    </message>
    <message id="cli.live.status.idle">
        <source> | paused (nothing plays)</source>
        <translation> | Pause (nichts spielt)</translation>
    </message>
    <message id="cli.retune.usage">
        <source>Usage: velmora-cli retune IN... [-o OUT | --output-dir DIR] [--preset ID | --a4 HZ]
                           [--engine ENGINE] [--format FORMAT] [--jobs N] [--force]
                           [--quiet]

Retunes audio files with the engines Velmora runs live. The result has the same
length, sample rate, channels, container and sample format as the input, and lines
up with it sample for sample (the engine's delay is removed).

Without -o the result is written next to each input with the tuning in its name,
e.g. song.flac -&gt; song.432Hz.flac. Inputs are never overwritten; existing files
only with --force. A file is only ever complete: it is written under a temporary
name and renamed at the end, so an error or Ctrl-C leaves nothing half-written.

Options:
  -o, --output OUT      output file (one input only; a directory works as --output-dir)
  --output-dir DIR      write all results into DIR (created if missing)
  --preset ID           tuning preset (default 432; see 'velmora-cli presets')
  --a4 HZ               free reference pitch: retune A4 = 440 Hz to HZ (400 ... 470)
  --engine ENGINE       lowLatency, balanced (default) or highQuality
  --format FORMAT       output container, optionally with sample format:
                        wav, flac, ogg, opus, mp3, aiff, caf, w64, rf64, au;
                        e.g. flac:24, wav:float (16, 24, 32, float, double, 8)
  -j, --jobs N          files retuned at once (default: the number of cores, %1);
                        results are still listed in the order given
  --force               replace existing output files
  -q, --quiet           no progress display
  -h, --help            show this help

Exit status: 0 all files retuned, 1 some file failed (the others are still done),
2 usage error, 130 interrupted.</source>
        <translation>Aufruf: velmora-cli retune EIN... [-o AUS | --output-dir ORDNER] [--preset ID | --a4 HZ]
                            [--engine ENGINE] [--format FORMAT] [--jobs N] [--force]
                            [--quiet]

Stimmt Audiodateien mit den Engines um, die Velmora live verwendet. Das Ergebnis hat
dieselbe Länge, Samplerate, Kanalzahl, dasselbe Containerformat und Sampleformat wie die
Eingabe und liegt Sample für Sample deckungsgleich zu ihr (die Verzögerung der Engine ist
herausgerechnet).

Ohne -o landet das Ergebnis neben jeder Eingabe, die Stimmung im Namen, z. B.
song.flac -&gt; song.432Hz.flac. Eingaben werden nie überschrieben, vorhandene Dateien nur
mit --force. Eine Datei ist immer vollständig: Sie wird unter einem vorläufigen Namen
geschrieben und am Ende umbenannt, ein Fehler oder Strg-C hinterlässt also nichts Halbes.

Optionen:
  -o, --output AUS      Ausgabedatei (nur bei einer Eingabe; ein Ordner wirkt wie --output-dir)
  --output-dir ORDNER   alle Ergebnisse in ORDNER schreiben (wird bei Bedarf angelegt)
  --preset ID           Stimmungs-Voreinstellung (Standard 432; siehe 'velmora-cli presets')
  --a4 HZ               freier Kammerton: A4 = 440 Hz auf HZ umstimmen (400 ... 470)
  --engine ENGINE       lowLatency, balanced (Standard) oder highQuality
  --format FORMAT       Containerformat der Ausgabe, wahlweise mit Sampleformat:
                        wav, flac, ogg, opus, mp3, aiff, caf, w64, rf64, au;
                        z. B. flac:24, wav:float (16, 24, 32, float, double, 8)
  -j, --jobs N          Dateien, die gleichzeitig umgestimmt werden (Standard: die Zahl
                        der Kerne, %1); die Ergebnisse erscheinen trotzdem in der
                        angegebenen Reihenfolge
  --force               vorhandene Ausgabedateien ersetzen
  -q, --quiet           keine Fortschrittsanzeige
  -h, --help            diese Hilfe zeigen

Rückgabewert: 0 alle Dateien umgestimmt, 1 eine Datei ist fehlgeschlagen (die anderen
sind trotzdem fertig), 2 Aufruffehler, 130 abgebrochen.</translation>
    </message>
    <message id="cli.retune.error.a4Range">
        <source>--a4 must be a frequency from %1 to %2 Hz, not '%3'</source>
        <translation>--a4 muss eine Frequenz von %1 bis %2 Hz sein, nicht '%3'</translation>
    </message>
    <message id="cli.retune.error.unknownFormat">
        <source>unknown format '%1'</source>
        <translation>unbekanntes Format '%1'</translation>
    </message>
    <message id="cli.retune.error.unknownSampleFormat">
        <source>unknown sample format '%1' (16, 24, 32, float, double, 8)</source>
        <translation>unbekanntes Sampleformat '%1' (16, 24, 32, float, double, 8)</translation>
    </message>
    <message id="cli.retune.error.noInput">
        <source>no input files</source>
        <translation>keine Eingabedateien</translation>
    </message>
    <message id="cli.retune.error.outputAndDir">
        <source>-o and --output-dir exclude each other</source>
        <translation>-o und --output-dir schließen einander aus</translation>
    </message>
    <message id="cli.retune.error.oneInput">
        <source>-o takes one input; use --output-dir for several</source>
        <translation>-o nimmt nur eine Eingabe; für mehrere --output-dir verwenden</translation>
    </message>
    <message id="cli.retune.error.presetAndA4">
        <source>--preset and --a4 exclude each other</source>
        <translation>--preset und --a4 schließen einander aus</translation>
    </message>
    <message id="cli.retune.error.unknownPreset">
        <source>unknown preset '%1' (%2)</source>
        <translation>unbekannte Voreinstellung '%1' (%2)</translation>
    </message>
    <message id="cli.retune.error.channels">
        <source>%1 channels; up to %2 are supported</source>
        <translation>%1 Kanäle; unterstützt werden bis zu %2</translation>
    </message>
    <message id="cli.retune.error.sampleRate">
        <source>invalid sample rate</source>
        <translation>ungültige Samplerate</translation>
    </message>
    <message id="cli.retune.error.formatCannotHold">
        <source>the requested format cannot hold this audio</source>
        <translation>das gewünschte Format kann dieses Audio nicht aufnehmen</translation>
    </message>
    <message id="cli.retune.error.readOnlyFormat">
        <source>this format can be read but not written; choose one with --format (e.g. flac)</source>
        <translation>dieses Format lässt sich lesen, aber nicht schreiben; mit --format ein anderes wählen (z. B. flac)</translation>
    </message>
    <message id="cli.retune.error.sharedOutput">
        <source>%1 is also the output for %2; skipped</source>
        <translation>%1 ist auch die Ausgabe für %2; übersprungen</translation>
    </message>
    <message id="cli.retune.error.outputIsInput">
        <source>output %1 is an input file; refusing to overwrite it</source>
        <translation>Ausgabe %1 ist eine Eingabedatei; sie wird nicht überschrieben</translation>
    </message>
    <message id="cli.retune.error.exists">
        <source>%1 exists (use --force to replace it)</source>
        <translation>%1 existiert bereits (--force ersetzt sie)</translation>
    </message>
    <message id="cli.retune.error.isDirectory">
        <source>%1 is a directory</source>
        <translation>%1 ist ein Ordner</translation>
    </message>
    <message id="cli.retune.error.makeDirectory">
        <source>cannot create directory %1</source>
        <translation>Ordner %1 kann nicht angelegt werden</translation>
    </message>
    <message id="cli.retune.error.writeIn">
        <source>cannot write in %1: %2</source>
        <translation>in %1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message id="cli.retune.error.open">
        <source>cannot write %1: %2</source>
        <translation>%1 kann nicht geschrieben werden: %2</translation>
    </message>
    <message id="cli.retune.error.engine">
        <source>cannot create the %1 engine</source>
        <translation>die Engine %1 kann nicht erzeugt werden</translation>
    </message>
    <message id="cli.retune.error.read">
        <source>read error: %1</source>
        <translation>Lesefehler: %1</translation>
    </message>
    <message id="cli.retune.error.write">
        <source>write error: %1</source>
        <translation>Schreibfehler: %1</translation>
    </message>
    <message id="cli.retune.error.finish">
        <source>cannot finish %1: %2</source>
        <translation>%1 kann nicht abgeschlossen werden: %2</translation>
    </message>
    <message id="cli.retune.error.rename">
        <source>cannot rename to %1: %2</source>
        <translation>Umbenennen in %1 fehlgeschlagen: %2</translation>
    </message>
    <message id="cli.retune.warning.clipped">
        <source>%1: %2 samples clipped at full scale</source>
        <translation>%1: %2 Samples an der Vollaussteuerung begrenzt</translation>
    </message>
    <message id="cli.retune.error.interrupted">
        <source>interrupted; no output written for %1</source>
        <translation>abgebrochen; für %1 wurde nichts geschrieben</translation>
    </message>
    <message id="cli.retune.error.failedCount">
        <source>%1 of %2 files failed</source>
        <translation>%1 von %2 Dateien fehlgeschlagen</translation>
    </message>
    <message id="cli.detect.usage">
        <source>Usage: velmora-cli detect FILE... [--method file|live] [--jobs N] [--json]
                                 [--timeline FILE.csv]

Estimates the reference pitch (A4) each recording is tuned to and how sure the
estimate is.

Methods:
  file (default)  listens to the whole recording, all channels mixed, and takes the
                  deviation most partials agree on; ignores mains hum, and is only
                  confident when several pitch classes agree
  live            the analysis the running program applies to what it hears (first
                  channel, 7 s memory): what 'velmora-cli live --auto' would follow

Reads every format libsndfile can read (WAV, FLAC, OGG, and MP3 where supported).
The file's own sample rate is used; nothing is resampled.

Output, one line per file, in the order given:
  song.flac: A4 = 432.1 Hz (−31.4 ct), confidence 0.82
An estimate is trusted from confidence %1 on; below that the program assumes 440 Hz.

Options:
  --method METHOD      file (default) or live
  -j, --jobs N         files analysed at once (default: the number of cores, %2)
  --json               print a JSON array, one object per file, instead of lines
  --timeline FILE.csv  write file,time,a4,cents,confidence for every frame of the
                       live analysis (its running estimate), whichever method
  -h, --help           show this help

Exit status: 0 when every file was analysed, 1 when a file could not be read,
2 on a usage error, 130 interrupted.</source>
        <translation>Aufruf: velmora-cli detect DATEI... [--method file|live] [--jobs N] [--json]
                                   [--timeline DATEI.csv]

Schätzt den Kammerton (A4), auf den jede Aufnahme gestimmt ist, und wie sicher die
Schätzung ist.

Verfahren:
  file (Standard)  hört die ganze Aufnahme, alle Kanäle gemischt, und nimmt die
                   Abweichung, auf die sich die meisten Teiltöne einigen; übergeht
                   Netzbrummen und ist nur sicher, wenn mehrere Tonklassen übereinstimmen
  live             die Analyse, die das laufende Programm auf das Gehörte anwendet (erster
                   Kanal, 7 s Gedächtnis): dem würde 'velmora-cli live --auto' folgen

Liest jedes Format, das libsndfile lesen kann (WAV, FLAC, OGG und, wo unterstützt, MP3).
Die Samplerate der Datei wird verwendet; nichts wird umgerechnet.

Ausgabe, eine Zeile je Datei, in der angegebenen Reihenfolge:
  song.flac: A4 = 432.1 Hz (−31.4 ct), Sicherheit 0.82
Einer Schätzung wird ab Sicherheit %1 vertraut; darunter nimmt das Programm 440 Hz an.

Optionen:
  --method VERFAHREN    file (Standard) oder live
  -j, --jobs N          Dateien, die gleichzeitig analysiert werden (Standard: die Zahl
                        der Kerne, %2)
  --json                statt Zeilen ein JSON-Array ausgeben, ein Objekt je Datei
  --timeline DATEI.csv  file,time,a4,cents,confidence für jeden Analyseblock der
                        Live-Analyse (ihre laufende Schätzung) schreiben, bei jedem Verfahren
  -h, --help            diese Hilfe zeigen

Rückgabewert: 0 wenn jede Datei analysiert wurde, 1 wenn eine Datei nicht lesbar war,
2 bei einem Aufruffehler, 130 abgebrochen.</translation>
    </message>
    <message id="cli.detect.error.method">
        <source>--method must be file or live</source>
        <translation>--method muss file oder live sein</translation>
    </message>
    <message id="cli.detect.error.noAudio">
        <source>no audio channels or no sample rate</source>
        <translation>keine Audiokanäle oder keine Samplerate</translation>
    </message>
    <message id="cli.detect.error.setup">
        <source>cannot set up the analysis</source>
        <translation>die Analyse lässt sich nicht einrichten</translation>
    </message>
    <message id="cli.detect.error.read">
        <source>read error after %1 s: %2</source>
        <translation>Lesefehler nach %1 s: %2</translation>
    </message>
    <message id="cli.detect.error.timeline">
        <source>cannot write the timeline '%1': %2</source>
        <translation>der Verlauf '%1' kann nicht geschrieben werden: %2</translation>
    </message>
    <message id="cli.detect.error.cannotRead">
        <source>cannot read '%1': %2</source>
        <translation>'%1' ist nicht lesbar: %2</translation>
    </message>
    <message id="cli.detect.warning.tooShort">
        <source>'%1' is shorter than one analysis frame (%2 s); nothing was heard</source>
        <translation>'%1' ist kürzer als ein Analyseblock (%2 s); es wurde nichts gehört</translation>
    </message>
    <message id="cli.detect.result">
        <source>%1: A4 = %2 Hz (%3), confidence %4</source>
        <translation>%1: A4 = %2 Hz (%3), Sicherheit %4</translation>
    </message>
    <message id="cli.detect.error.interrupted">
        <source>interrupted</source>
        <translation>abgebrochen</translation>
    </message>
    <message id="cli.status.summary">
        <source>show the running Velmora's state (--follow: every change)</source>
        <translation>den Zustand des laufenden Velmora zeigen (--follow: jede Änderung)</translation>
    </message>
    <message id="cli.on.summary">
        <source>switch retuning on in the running Velmora</source>
        <translation>Umstimmen im laufenden Velmora einschalten</translation>
    </message>
    <message id="cli.off.summary">
        <source>switch retuning off in the running Velmora</source>
        <translation>Umstimmen im laufenden Velmora ausschalten</translation>
    </message>
    <message id="cli.toggle.summary">
        <source>switch retuning on or off in the running Velmora</source>
        <translation>Umstimmen im laufenden Velmora ein- oder ausschalten</translation>
    </message>
    <message id="cli.set.summary">
        <source>change the running Velmora's tuning, engine or correction</source>
        <translation>Stimmung, Engine oder Korrektur des laufenden Velmora ändern</translation>
    </message>
    <message id="cli.status.usage">
        <source>Usage: velmora-cli status [--json] [--follow]

Shows the state of the running Velmora (the tray program or 'velmora-cli live').

Options:
  --json                one JSON object (fixed keys, as on the session bus)
  --follow              print the state again on every change until Ctrl-C
  -h, --help            show this help</source>
        <translation>Aufruf: velmora-cli status [--json] [--follow]

Zeigt den Zustand des laufenden Velmora (Tray-Programm oder 'velmora-cli live').

Optionen:
  --json                ein JSON-Objekt (feste Schlüssel wie auf dem Session-Bus)
  --follow              den Zustand bei jeder Änderung neu ausgeben, bis Strg-C
  -h, --help            diese Hilfe zeigen</translation>
    </message>
    <message id="cli.switch.usage">
        <source>Usage: velmora-cli %1

Switches retuning in the running Velmora (the tray program or 'velmora-cli live').</source>
        <translation>Aufruf: velmora-cli %1

Schaltet das Umstimmen im laufenden Velmora (Tray-Programm oder 'velmora-cli live').</translation>
    </message>
    <message id="cli.set.usage">
        <source>Usage: velmora-cli set [--preset ID | --a4 HZ] [--engine KIND] [--auto | --no-auto]

Changes the running Velmora's settings; they are saved as on the panel.

Options:
  --preset ID           a tuning preset (see 'velmora-cli presets')
  --a4 HZ               free reference A4 between 400 and 470 Hz
  --engine KIND         lowLatency, balanced or highQuality
  --auto, --no-auto     automatic correction of the music's own tuning on or off
  -h, --help            show this help</source>
        <translation>Aufruf: velmora-cli set [--preset ID | --a4 HZ] [--engine ART] [--auto | --no-auto]

Ändert die Einstellungen des laufenden Velmora; sie werden wie im Panel gespeichert.

Optionen:
  --preset ID           eine Voreinstellung (siehe 'velmora-cli presets')
  --a4 HZ               freier Kammerton A4 zwischen 400 und 470 Hz
  --engine ART          lowLatency, balanced oder highQuality
  --auto, --no-auto     automatische Korrektur der Stimmung der Musik ein oder aus
  -h, --help            diese Hilfe zeigen</translation>
    </message>
    <message id="cli.set.error.arguments">
        <source>give at least one of --preset, --a4, --engine, --auto, --no-auto; not --preset with --a4, nor --auto with --no-auto</source>
        <translation>mindestens eine von --preset, --a4, --engine, --auto, --no-auto angeben; nicht --preset zusammen mit --a4, nicht --auto zusammen mit --no-auto</translation>
    </message>
    <message id="cli.remote.error.extra">
        <source>unexpected argument '%1'</source>
        <translation>unerwartetes Argument '%1'</translation>
    </message>
    <message id="cli.remote.error.notRunning">
        <source>no Velmora is running (start it, or 'velmora-cli live')</source>
        <translation>es läuft kein Velmora (das Programm starten oder 'velmora-cli live')</translation>
    </message>
    <message id="cli.remote.error.noAnswer">
        <source>Velmora does not answer</source>
        <translation>Velmora antwortet nicht</translation>
    </message>
    <message id="cli.remote.error.ended">
        <source>Velmora has ended</source>
        <translation>Velmora wurde beendet</translation>
    </message>
    <message id="cli.status.on">
        <source>on</source>
        <translation>an</translation>
    </message>
    <message id="cli.status.off">
        <source>off</source>
        <translation>aus</translation>
    </message>
    <message id="cli.status.switch">
        <source>Retuning: %1 (%2)</source>
        <translation>Umstimmen: %1 (%2)</translation>
    </message>
    <message id="cli.status.target">
        <source>Target: A4 = %1 Hz, %2 (%3 cents)</source>
        <translation>Ziel: A4 = %1 Hz, %2 (%3 Cent)</translation>
    </message>
    <message id="cli.status.preset">
        <source>preset %1</source>
        <translation>Voreinstellung %1</translation>
    </message>
    <message id="cli.status.free">
        <source>free A4</source>
        <translation>freier Kammerton</translation>
    </message>
    <message id="cli.status.engine">
        <source>Engine: %1</source>
        <translation>Engine: %1</translation>
    </message>
    <message id="cli.status.auto">
        <source>Automatic correction: %1 (detected A4 = %2 Hz, confidence %3, correction %4 cents)</source>
        <translation>Automatische Korrektur: %1 (erkannt A4 = %2 Hz, Vertrauen %3, Korrektur %4 Cent)</translation>
    </message>
    <message id="cli.status.output">
        <source>Output: %1, %2 Hz, latency %3 ms, underruns %4, rebuilds %5</source>
        <translation>Ausgabe: %1, %2 Hz, Latenz %3 ms, Aussetzer %4, Neuaufbauten %5</translation>
    </message>
    <message id="cli.status.error">
        <source>Error: %1</source>
        <translation>Fehler: %1</translation>
    </message>
    <message id="cli.status.line">
        <source>%1 | A4 = %2 Hz | %3 | %4 | detected %5 Hz | underruns %6</source>
        <translation>%1 | A4 = %2 Hz | %3 | %4 | erkannt %5 Hz | Aussetzer %6</translation>
    </message>
    <message id="cli.live.hint.busTaken">
        <source>another Velmora answers on the session bus; 'velmora-cli status', 'on', 'off' and 'set' reach that one</source>
        <translation>ein anderes Velmora antwortet auf dem Session-Bus; 'velmora-cli status', 'on', 'off' und 'set' erreichen jenes</translation>
    </message>
</context>
</TS>
