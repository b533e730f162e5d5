#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Switching the default sink while playing: the chain follows within a second and only retuned
# audio reaches either sink (free A4 = 400 Hz, so retuned 400 Hz and unprocessed 440 Hz are told
# apart per 100 ms window).
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
stack_add_sink fake_headphones "Fake Headphones"
sine "$W/sine.wav" 8 440

start_live "$W/live.log" --a4 400 --no-status-server || e2e_finish
record "$W/speakers.wav" fake_speakers
record "$W/headphones.wav" fake_headphones
rec_h=$(date +%s.%N)  # about when the headphones recording began
play_bg "$W/sine.wav"
sleep 2.5
t0=$(date +%s.%N)
pw-metadata -n default 0 default.configured.audio.sink '{ "name": "fake_headphones" }' Spa:String:JSON >/dev/null
STACK_WAIT_SEC=10 stack_wait log_has "$W/live.log" "Neu aufgebaut"
t1=$(date +%s.%N)
figure "rebuild line after $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }') s"
expect "rebuilt onto the new default" log_has "$W/live.log" "Neu aufgebaut (Ausgabegerät gewechselt): Ausgabe=Fake Headphones"
wait_plays
stop_recordings
stop_live
expect "default sink is the user's choice, not ours" stack_default_is fake_headphones

for sink in speakers headphones; do
  leak=$("$WAVCHECK" tone "$W/$sink.wav" --hz 440 --above 0.1 --beside 400)
  good=$("$WAVCHECK" tone "$W/$sink.wav" --hz 400 --above 0.3)
  figure "$sink: 440 Hz [$leak] 400 Hz [$good]"
  expect "$sink: no unprocessed audio" test "$(kv windows_above <<<"$leak")" -eq 0
  expect "$sink: retuned audio arrived" test "$(kv windows_above <<<"$good")" -gt 5
done
# Retuned audio on the new sink: first 100 ms window with 400 Hz, against the switch time.
first=$("$WAVCHECK" tone "$W/headphones.wav" --hz 400 --above 0.3 | kv first_s)
arrival=$(awk -v f="$first" -v t="$t0" -v r="$rec_h" 'BEGIN { printf "%.3f", f - (t - r) }')
figure "retuned audio on the new sink ${arrival} s after the switch (100 ms windows, 50 ms steps)"
expect "new sink gets retuned audio within one second ($arrival s)" fcmp "$first >= 0 && $arrival <= 1.0"
e2e_finish
