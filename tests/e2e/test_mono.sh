#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A mono default device gets both channels at full level: a 440 Hz sine at -6 dBFS on both
# inputs arrives retuned (432 Hz) at the level it has when played straight to it (+- 1 dB).
# (PipeWire's own stereo-to-mono downmix keeps the power: both measure about -3 dBFS.)
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
stack_add_sink mono_speakers "Mono Speakers" "[MONO]" && stack_set_default mono_speakers
[[ -f "$W/sine.wav" ]] || sox -n -r 48000 -c 2 -b 16 "$W/sine.wav" synth 4 sine 440 vol 0.5

level_db() {  # level_db FILE HZ : level of HZ in dBFS over a steady second
  local out
  out=$("$WAVCHECK" pitch "$1" --from 1 --length 1 --ref "$2")
  awk -v l="$(kv level <<<"$out")" 'BEGIN { printf "%.2f", 20 * log(l) / log(10) }'
}

record_play "$W/straight.wav" mono_speakers "$W/sine.wav"
straight=$(level_db "$W/straight.wav" 440)

start_live "$W/live.log" --preset 432 --engine balanced --no-status-server || e2e_finish
record_play "$W/retuned.wav" mono_speakers "$W/sine.wav"
stop_live
retuned=$(level_db "$W/retuned.wav" 432)
steady_pitch "$W/retuned.wav" 1 2 1 432 1
figure "mono device: straight ${straight} dBFS, retuned ${retuned} dBFS at ${PITCH_HZ} Hz"
expect "retuned at the straight level +- 1 dB ($retuned vs $straight)" fcmp "$retuned - $straight > -1 && $retuned - $straight < 1"
expect "retuned to 432 Hz ($PITCH_CENTS cents)" fcmp "$(abs "$PITCH_CENTS") <= 1"
e2e_finish
