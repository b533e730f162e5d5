#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Makes the detection evaluation set in OUT_DIR: about 40 tuned clips (soundfont renderings of
# generated compositions in many styles, some with reverb, mp3 round trips, intonation jitter
# and varispeed; additive, stiff-string, vibrato, just-intonation, ensemble and sparse clips)
# and 10 untuned ones (noise, mains hum, sweeps, drums, speech), with truth.csv beside them
# (file,cents,source: the offset from A4 = 440 Hz, empty for untuned clips; the soundfont or
# "synthesis"), and the soundfonts' measured tuning in calibration.csv and -summary.txt.
# Nothing generated is kept in the repository. The set is cached: it is only made again when
# this script or the generator's source changed.
#   make-eval-set.sh OUT_DIR GENERATOR
# Exit status 77 (a skip for ctest) when a tool is missing.
set -euo pipefail
out=$1
gen=$2
here=$(cd "$(dirname "$0")" && pwd)
key=$(cat "$0" "$here/eval_set_gen.cpp" | sha256sum | cut -c1-16)
if [ -f "$out/truth.csv" ] && [ "$(cat "$out/.key" 2>/dev/null)" = "$key" ]; then
  exit 0
fi

fonts=/usr/share/sounds/sf2
for tool in fluidsynth sox espeak-ng; do
  command -v "$tool" >/dev/null || { echo "make-eval-set: $tool is missing (scripts/install-deps.sh)" >&2; exit 77; }
done
for font in FluidR3_GM.sf2 TimGM6mb.sf2; do
  [ -f "$fonts/$font" ] || { echo "make-eval-set: $fonts/$font is missing" >&2; exit 77; }
done

work="$out.tmp"
rm -rf "$work"
mkdir -p "$work"
"$gen" "$work"

# The soundfonts' own tuning (see the generator): their notes alone, dry, then measured and
# added to the truths of the clips that play them.
for font in FluidR3_GM.sf2 TimGM6mb.sf2; do
  [ -f "$work/calibration-$font.mid" ] || continue
  fluidsynth -n -i -q -R 0 -C 0 -r 44100 -F "$work/calibration-$font.wav" "$fonts/$font" \
    "$work/calibration-$font.mid" >/dev/null 2>&1 &
done
wait
"$gen" --truths "$work"
rm -f "$work"/calibration-*.wav "$work"/calibration-*.mid "$work/calibration.txt" "$work/usage.txt"

# One clip: render (soundfont or speech), then effects and an optional mp3 round trip. Every
# clip ends normalised to -3 dBFS, like mastered music.
render() {
  local name=$1 kind=$2 options=$3
  cd "$work"
  case "$kind" in
    wav) sox -q "$name.wav" "$name.tmp.wav" gain -n -3 && mv "$name.tmp.wav" "$name.wav" ;;
    midi)
      read -r font rate mp3 fx <<<"$options"
      fluidsynth -n -i -q -g 0.6 -r "$rate" -F "$name.raw.wav" "$fonts/$font" "$name.mid" >/dev/null 2>&1
      if [ "$mp3" = 1 ]; then
        # shellcheck disable=SC2086
        sox -q "$name.raw.wav" -C 128 "$name.mp3" $fx gain -n -3
        sox -q "$name.mp3" "$name.wav"
        rm -f "$name.mp3"
      else
        # shellcheck disable=SC2086
        sox -q "$name.raw.wav" "$name.wav" $fx gain -n -3
      fi
      rm -f "$name.raw.wav" "$name.mid" ;;
    speech)
      read -r voice text <<<"$options"
      espeak-ng -v "$voice" -w "$name.raw.wav" "$text $text"
      sox -q "$name.raw.wav" "$name.wav" gain -n -3
      rm -f "$name.raw.wav" ;;
  esac
}

pids=()
echo "file,cents,source" >"$work/truth.csv"
while IFS=';' read -r name kind truth options; do
  source=synthesis
  [ "$kind" = midi ] && source=${options%%.sf2*}
  echo "$name.wav,$truth,$source" >>"$work/truth.csv"
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do sleep 0.05; done
  render "$name" "$kind" "$options" &
  pids+=($!)
done <"$work/plan.txt"
for pid in "${pids[@]}"; do wait "$pid"; done
rm -f "$work/plan.txt"

echo "$key" >"$work/.key"
rm -rf "$out"
mv "$work" "$out"
