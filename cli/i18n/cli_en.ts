<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name></name>
    <message id="cli.usage">
        <source>Usage: velmora-cli COMMAND [OPTIONS...]

Commands:</source>
        <translation>Usage: velmora-cli COMMAND [OPTIONS...]

Commands:</translation>
    </message>
    <message id="cli.usage.more">
        <source>Run 'velmora-cli COMMAND --help' for the options of a command.</source>
        <translation>Run 'velmora-cli COMMAND --help' for the options of a command.</translation>
    </message>
    <message id="cli.error.unknownCommand">
        <source>unknown command '%1'</source>
        <translation>unknown command '%1'</translation>
    </message>
    <message id="cli.retune.summary">
        <source>retune audio files (e.g. to A4 = 432 Hz)</source>
        <translation>retune audio files (e.g. to A4 = 432 Hz)</translation>
    </message>
    <message id="cli.detect.summary">
        <source>estimate the A4 a recording is tuned to</source>
        <translation>estimate the A4 a recording is tuned to</translation>
    </message>
    <message id="cli.live.summary">
        <source>retune everything the computer plays, without a panel</source>
        <translation>retune everything the computer plays, without a panel</translation>
    </message>
    <message id="cli.consent.summary">
        <source>manage which web pages may read the status</source>
        <translation>manage which web pages may read the status</translation>
    </message>
    <message id="cli.presets.summary">
        <source>list the tuning presets</source>
        <translation>list the tuning presets</translation>
    </message>
    <message id="cli.error.needsValue">
        <source>%1 needs a value</source>
        <translation>%1 needs a value</translation>
    </message>
    <message id="cli.error.takesNoValue">
        <source>%1 takes no value</source>
        <translation>%1 takes no value</translation>
    </message>
    <message id="cli.error.unknownOption">
        <source>unknown option '%1'</source>
        <translation>unknown option '%1'</translation>
    </message>
    <message id="cli.error.jobs">
        <source>--jobs needs a number from 1 to 1024</source>
        <translation>--jobs needs a number from 1 to 1024</translation>
    </message>
    <message id="cli.hint.help">
        <source>Run 'velmora-cli %1 --help' for the options.</source>
        <translation>Run 'velmora-cli %1 --help' for the options.</translation>
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
        <translation>Usage: velmora-cli consent list
       velmora-cli consent allow ORIGIN
       velmora-cli consent deny ORIGIN
       velmora-cli consent revoke ORIGIN

Decides which web pages may read Velmora's status on 127.0.0.1:47432.
ORIGIN is what the browser sends: scheme://host[:port] without a path,
e.g. http://localhost:8000 (or the literal null).
Velmora reads the file when it starts; velmora-cli live also when it changes.</translation>
    </message>
    <message id="cli.consent.error.notSaved">
        <source>not saved: %1</source>
        <translation>not saved: %1</translation>
    </message>
    <message id="cli.consent.error.notAnOrigin">
        <source>'%1' is not an origin; expected scheme://host[:port] without a path, e.g. http://localhost:8000</source>
        <translation>'%1' is not an origin; expected scheme://host[:port] without a path, e.g. http://localhost:8000</translation>
    </message>
    <message id="cli.consent.error.setAside">
        <source>the consent file could not be read; it was moved to %1</source>
        <translation>the consent file could not be read; it was moved to %1</translation>
    </message>
    <message id="cli.consent.error.unknownOrigin">
        <source>no decision stored for '%1'</source>
        <translation>no decision stored for '%1'</translation>
    </message>
    <message id="cli.consent.result.empty">
        <source>No decisions stored (%1).</source>
        <translation>No decisions stored (%1).</translation>
    </message>
    <message id="cli.consent.result.allowed">
        <source>allowed %1 (%2)</source>
        <translation>allowed %1 (%2)</translation>
    </message>
    <message id="cli.consent.result.denied">
        <source>denied %1 (%2)</source>
        <translation>denied %1 (%2)</translation>
    </message>
    <message id="cli.consent.result.revoked">
        <source>revoked %1 (%2)</source>
        <translation>revoked %1 (%2)</translation>
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
        <translation>Usage: velmora-cli presets [--long] [--json] [--language LANG]

Lists the tuning presets: id, title, the frequency a preset is named after, its
processing factor and that factor in cents, and the equal-tempered note it moves
onto the named frequency.

Options:
  --long           add each preset's keyword and background text
  --json           print a JSON array with every field and both texts
  --language LANG  language of the texts (%1); default: the current locale
  -h, --help       show this help</translation>
    </message>
    <message id="cli.presets.error.language">
        <source>no texts in '%1'; available: %2</source>
        <translation>no texts in '%1'; available: %2</translation>
    </message>
    <message id="cli.presets.column.id">
        <source>ID</source>
        <translation>ID</translation>
    </message>
    <message id="cli.presets.column.title">
        <source>Title</source>
        <translation>Title</translation>
    </message>
    <message id="cli.presets.column.target">
        <source>Target</source>
        <translation>Target</translation>
    </message>
    <message id="cli.presets.column.factor">
        <source>Factor</source>
        <translation>Factor</translation>
    </message>
    <message id="cli.presets.column.cents">
        <source>Cents</source>
        <translation>Cents</translation>
    </message>
    <message id="cli.presets.column.reference">
        <source>Reference</source>
        <translation>Reference</translation>
    </message>
    <message id="cli.error.unknownEngine">
        <source>unknown engine '%1' (lowLatency, balanced, highQuality)</source>
        <translation>unknown engine '%1' (lowLatency, balanced, highQuality)</translation>
    </message>
    <message id="cli.live.error.arguments">
        <source>unexpected arguments, or --preset and --a4 together</source>
        <translation>unexpected arguments, or --preset and --a4 together</translation>
    </message>
    <message id="cli.live.error.unknownPreset">
        <source>unknown preset '%1' (see 'velmora-cli presets')</source>
        <translation>unknown preset '%1' (see 'velmora-cli presets')</translation>
    </message>
    <message id="cli.live.error.a4">
        <source>--a4 needs a frequency between 400 and 470 Hz</source>
        <translation>--a4 needs a frequency between 400 and 470 Hz</translation>
    </message>
    <message id="cli.live.error.setup">
        <source>audio layer or signal handling not available</source>
        <translation>audio layer or signal handling not available</translation>
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
        <translation>Usage: velmora-cli live [--preset ID | --a4 HZ] [--engine KIND] [--auto] [--exclude APP]... [--no-status-server]

Retunes everything the computer plays until Ctrl-C. The saved settings are the defaults;
the options count for this run only.

Options:
  --preset ID           a tuning preset (see 'velmora-cli presets')
  --a4 HZ               free reference A4 between 400 and 470 Hz
  --engine KIND         lowLatency, balanced or highQuality
  --auto                detect the music's A4 and correct it towards 440 Hz
  --exclude APP         leave an application (its binary or name) unprocessed; repeatable
  --no-status-server    do not serve the status on 127.0.0.1:47432
  -h, --help            show this help</translation>
    </message>
    <message id="cli.live.hint.noServer">
        <source>Hint: no reachable PipeWire server runs in this session (check XDG_RUNTIME_DIR).</source>
        <translation>Hint: no reachable PipeWire server runs in this session (check XDG_RUNTIME_DIR).</translation>
    </message>
    <message id="cli.live.hint.noSessionManager">
        <source>Hint: no session manager (WirePlumber) is running. Without it there is no default output device and nothing gets connected; please check the PipeWire session.</source>
        <translation>Hint: no session manager (WirePlumber) is running. Without it there is no default output device and nothing gets connected; please check the PipeWire session.</translation>
    </message>
    <message id="cli.live.hint.busy">
        <source>Hint: Velmora is already running in another process.</source>
        <translation>Hint: Velmora is already running in another process.</translation>
    </message>
    <message id="cli.live.status">
        <source>Output: %1 | %2 Hz | latency %3 ms | underruns %4 | detected A4 %5</source>
        <translation>Output: %1 | %2 Hz | latency %3 ms | underruns %4 | detected A4 %5</translation>
    </message>
    <message id="cli.live.status.callback">
        <source> | longest callback %1 ms</source>
        <translation> | longest callback %1 ms</translation>
    </message>
    <message id="cli.live.status.idle">
        <source> | paused (nothing plays)</source>
        <translation> | paused (nothing plays)</translation>
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
        <translation>Usage: velmora-cli retune IN... [-o OUT | --output-dir DIR] [--preset ID | --a4 HZ]
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
2 usage error, 130 interrupted.</translation>
    </message>
    <message id="cli.retune.error.a4Range">
        <source>--a4 must be a frequency from %1 to %2 Hz, not '%3'</source>
        <translation>--a4 must be a frequency from %1 to %2 Hz, not '%3'</translation>
    </message>
    <message id="cli.retune.error.unknownFormat">
        <source>unknown format '%1'</source>
        <translation>unknown format '%1'</translation>
    </message>
    <message id="cli.retune.error.unknownSampleFormat">
        <source>unknown sample format '%1' (16, 24, 32, float, double, 8)</source>
        <translation>unknown sample format '%1' (16, 24, 32, float, double, 8)</translation>
    </message>
    <message id="cli.retune.error.noInput">
        <source>no input files</source>
        <translation>no input files</translation>
    </message>
    <message id="cli.retune.error.outputAndDir">
        <source>-o and --output-dir exclude each other</source>
        <translation>-o and --output-dir exclude each other</translation>
    </message>
    <message id="cli.retune.error.oneInput">
        <source>-o takes one input; use --output-dir for several</source>
        <translation>-o takes one input; use --output-dir for several</translation>
    </message>
    <message id="cli.retune.error.presetAndA4">
        <source>--preset and --a4 exclude each other</source>
        <translation>--preset and --a4 exclude each other</translation>
    </message>
    <message id="cli.retune.error.unknownPreset">
        <source>unknown preset '%1' (%2)</source>
        <translation>unknown preset '%1' (%2)</translation>
    </message>
    <message id="cli.retune.error.channels">
        <source>%1 channels; up to %2 are supported</source>
        <translation>%1 channels; up to %2 are supported</translation>
    </message>
    <message id="cli.retune.error.sampleRate">
        <source>invalid sample rate</source>
        <translation>invalid sample rate</translation>
    </message>
    <message id="cli.retune.error.formatCannotHold">
        <source>the requested format cannot hold this audio</source>
        <translation>the requested format cannot hold this audio</translation>
    </message>
    <message id="cli.retune.error.readOnlyFormat">
        <source>this format can be read but not written; choose one with --format (e.g. flac)</source>
        <translation>this format can be read but not written; choose one with --format (e.g. flac)</translation>
    </message>
    <message id="cli.retune.error.sharedOutput">
        <source>%1 is also the output for %2; skipped</source>
        <translation>%1 is also the output for %2; skipped</translation>
    </message>
    <message id="cli.retune.error.outputIsInput">
        <source>output %1 is an input file; refusing to overwrite it</source>
        <translation>output %1 is an input file; refusing to overwrite it</translation>
    </message>
    <message id="cli.retune.error.exists">
        <source>%1 exists (use --force to replace it)</source>
        <translation>%1 exists (use --force to replace it)</translation>
    </message>
    <message id="cli.retune.error.isDirectory">
        <source>%1 is a directory</source>
        <translation>%1 is a directory</translation>
    </message>
    <message id="cli.retune.error.makeDirectory">
        <source>cannot create directory %1</source>
        <translation>cannot create directory %1</translation>
    </message>
    <message id="cli.retune.error.writeIn">
        <source>cannot write in %1: %2</source>
        <translation>cannot write in %1: %2</translation>
    </message>
    <message id="cli.retune.error.open">
        <source>cannot write %1: %2</source>
        <translation>cannot write %1: %2</translation>
    </message>
    <message id="cli.retune.error.engine">
        <source>cannot create the %1 engine</source>
        <translation>cannot create the %1 engine</translation>
    </message>
    <message id="cli.retune.error.read">
        <source>read error: %1</source>
        <translation>read error: %1</translation>
    </message>
    <message id="cli.retune.error.write">
        <source>write error: %1</source>
        <translation>write error: %1</translation>
    </message>
    <message id="cli.retune.error.finish">
        <source>cannot finish %1: %2</source>
        <translation>cannot finish %1: %2</translation>
    </message>
    <message id="cli.retune.error.rename">
        <source>cannot rename to %1: %2</source>
        <translation>cannot rename to %1: %2</translation>
    </message>
    <message id="cli.retune.warning.clipped">
        <source>%1: %2 samples clipped at full scale</source>
        <translation>%1: %2 samples clipped at full scale</translation>
    </message>
    <message id="cli.retune.error.interrupted">
        <source>interrupted; no output written for %1</source>
        <translation>interrupted; no output written for %1</translation>
    </message>
    <message id="cli.retune.error.failedCount">
        <source>%1 of %2 files failed</source>
        <translation>%1 of %2 files failed</translation>
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
        <translation>Usage: velmora-cli detect FILE... [--method file|live] [--jobs N] [--json]
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
2 on a usage error, 130 interrupted.</translation>
    </message>
    <message id="cli.detect.error.method">
        <source>--method must be file or live</source>
        <translation>--method must be file or live</translation>
    </message>
    <message id="cli.detect.error.noAudio">
        <source>no audio channels or no sample rate</source>
        <translation>no audio channels or no sample rate</translation>
    </message>
    <message id="cli.detect.error.setup">
        <source>cannot set up the analysis</source>
        <translation>cannot set up the analysis</translation>
    </message>
    <message id="cli.detect.error.read">
        <source>read error after %1 s: %2</source>
        <translation>read error after %1 s: %2</translation>
    </message>
    <message id="cli.detect.error.timeline">
        <source>cannot write the timeline '%1': %2</source>
        <translation>cannot write the timeline '%1': %2</translation>
    </message>
    <message id="cli.detect.error.cannotRead">
        <source>cannot read '%1': %2</source>
        <translation>cannot read '%1': %2</translation>
    </message>
    <message id="cli.detect.warning.tooShort">
        <source>'%1' is shorter than one analysis frame (%2 s); nothing was heard</source>
        <translation>'%1' is shorter than one analysis frame (%2 s); nothing was heard</translation>
    </message>
    <message id="cli.detect.result">
        <source>%1: A4 = %2 Hz (%3), confidence %4</source>
        <translation>%1: A4 = %2 Hz (%3), confidence %4</translation>
    </message>
    <message id="cli.detect.error.interrupted">
        <source>interrupted</source>
        <translation>interrupted</translation>
    </message>
    <message id="cli.status.summary">
        <source>show the running Velmora's state (--follow: every change)</source>
        <translation>show the running Velmora's state (--follow: every change)</translation>
    </message>
    <message id="cli.on.summary">
        <source>switch retuning on in the running Velmora</source>
        <translation>switch retuning on in the running Velmora</translation>
    </message>
    <message id="cli.off.summary">
        <source>switch retuning off in the running Velmora</source>
        <translation>switch retuning off in the running Velmora</translation>
    </message>
    <message id="cli.toggle.summary">
        <source>switch retuning on or off in the running Velmora</source>
        <translation>switch retuning on or off in the running Velmora</translation>
    </message>
    <message id="cli.set.summary">
        <source>change the running Velmora's tuning, engine or correction</source>
        <translation>change the running Velmora's tuning, engine or correction</translation>
    </message>
    <message id="cli.status.usage">
        <source>Usage: velmora-cli status [--json] [--follow]

Shows the state of the running Velmora (the tray program or 'velmora-cli live').

Options:
  --json                one JSON object (fixed keys, as on the session bus)
  --follow              print the state again on every change until Ctrl-C
  -h, --help            show this help</source>
        <translation>Usage: velmora-cli status [--json] [--follow]

Shows the state of the running Velmora (the tray program or 'velmora-cli live').

Options:
  --json                one JSON object (fixed keys, as on the session bus)
  --follow              print the state again on every change until Ctrl-C
  -h, --help            show this help</translation>
    </message>
    <message id="cli.switch.usage">
        <source>Usage: velmora-cli %1

Switches retuning in the running Velmora (the tray program or 'velmora-cli live').</source>
        <translation>Usage: velmora-cli %1

Switches retuning in the running Velmora (the tray program or 'velmora-cli live').</translation>
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
        <translation>Usage: velmora-cli set [--preset ID | --a4 HZ] [--engine KIND] [--auto | --no-auto]

Changes the running Velmora's settings; they are saved as on the panel.

Options:
  --preset ID           a tuning preset (see 'velmora-cli presets')
  --a4 HZ               free reference A4 between 400 and 470 Hz
  --engine KIND         lowLatency, balanced or highQuality
  --auto, --no-auto     automatic correction of the music's own tuning on or off
  -h, --help            show this help</translation>
    </message>
    <message id="cli.set.error.arguments">
        <source>give at least one of --preset, --a4, --engine, --auto, --no-auto; not --preset with --a4, nor --auto with --no-auto</source>
        <translation>give at least one of --preset, --a4, --engine, --auto, --no-auto; not --preset with --a4, nor --auto with --no-auto</translation>
    </message>
    <message id="cli.remote.error.extra">
        <source>unexpected argument '%1'</source>
        <translation>unexpected argument '%1'</translation>
    </message>
    <message id="cli.remote.error.notRunning">
        <source>no Velmora is running (start it, or 'velmora-cli live')</source>
        <translation>no Velmora is running (start it, or 'velmora-cli live')</translation>
    </message>
    <message id="cli.remote.error.noAnswer">
        <source>Velmora does not answer</source>
        <translation>Velmora does not answer</translation>
    </message>
    <message id="cli.remote.error.ended">
        <source>Velmora has ended</source>
        <translation>Velmora has ended</translation>
    </message>
    <message id="cli.status.on">
        <source>on</source>
        <translation>on</translation>
    </message>
    <message id="cli.status.off">
        <source>off</source>
        <translation>off</translation>
    </message>
    <message id="cli.status.switch">
        <source>Retuning: %1 (%2)</source>
        <translation>Retuning: %1 (%2)</translation>
    </message>
    <message id="cli.status.target">
        <source>Target: A4 = %1 Hz, %2 (%3 cents)</source>
        <translation>Target: A4 = %1 Hz, %2 (%3 cents)</translation>
    </message>
    <message id="cli.status.preset">
        <source>preset %1</source>
        <translation>preset %1</translation>
    </message>
    <message id="cli.status.free">
        <source>free A4</source>
        <translation>free A4</translation>
    </message>
    <message id="cli.status.engine">
        <source>Engine: %1</source>
        <translation>Engine: %1</translation>
    </message>
    <message id="cli.status.auto">
        <source>Automatic correction: %1 (detected A4 = %2 Hz, confidence %3, correction %4 cents)</source>
        <translation>Automatic correction: %1 (detected A4 = %2 Hz, confidence %3, correction %4 cents)</translation>
    </message>
    <message id="cli.status.output">
        <source>Output: %1, %2 Hz, latency %3 ms, underruns %4, rebuilds %5</source>
        <translation>Output: %1, %2 Hz, latency %3 ms, underruns %4, rebuilds %5</translation>
    </message>
    <message id="cli.status.error">
        <source>Error: %1</source>
        <translation>Error: %1</translation>
    </message>
    <message id="cli.status.line">
        <source>%1 | A4 = %2 Hz | %3 | %4 | detected %5 Hz | underruns %6</source>
        <translation>%1 | A4 = %2 Hz | %3 | %4 | detected %5 Hz | underruns %6</translation>
    </message>
    <message id="cli.live.hint.busTaken">
        <source>another Velmora answers on the session bus; 'velmora-cli status', 'on', 'off' and 'set' reach that one</source>
        <translation>another Velmora answers on the session bus; 'velmora-cli status', 'on', 'off' and 'set' reach that one</translation>
    </message>
</context>
</TS>
