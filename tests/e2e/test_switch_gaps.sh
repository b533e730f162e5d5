#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Gaps at the transitions users meet: a new default device while playing gets at most one
# short gap (the output moves, the rebuild keeps streams and DSP objects); switching off
# (SIGTERM, a final stop) returns the application to its device at once: at most 100 ms of
# silence each. A new graph rate needs new DSP objects: at most 150 ms with balanced selected.
# Free A4 = 400 Hz tells retuned from unprocessed audio.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
stack_add_sink fake_headphones "Fake Headphones"
sine "$W/sine.wav" 8 440

# -- default device change
start_live "$W/switch.log" --a4 400 --engine balanced --no-status-server || e2e_finish
record "$W/headphones.wav" fake_headphones
play_bg "$W/sine.wav"
sleep 2.5
pw-metadata -n default 0 default.configured.audio.sink '{ "name": "fake_headphones" }' Spa:String:JSON >/dev/null
STACK_WAIT_SEC=10 stack_wait log_has "$W/switch.log" "Neu aufgebaut (Ausgabegerät gewechselt)"
sleep 2
for pid in "${PLAY_PIDS[@]}"; do kill -TERM "$pid"; done
wait_plays
stop_recordings
stop_live
gaps=$("$WAVCHECK" gaps "$W/headphones.wav" --threshold 0.01 --min-ms 5)
leak=$("$WAVCHECK" tone "$W/headphones.wav" --hz 440 --above 0.1)
figure "device change, new device: silence [$gaps] unprocessed 440 Hz [$leak]"
expect "new device: at most one gap" test "$(kv gaps <<<"$gaps")" -le 1
expect "new device: gap at most 100 ms ($(kv longest_ms <<<"$gaps") ms)" fcmp "$(kv longest_ms <<<"$gaps") <= 100"
expect "new device: no unprocessed audio" test "$(kv windows_above <<<"$leak")" -eq 0
pw-metadata -n default 0 default.configured.audio.sink '{ "name": "fake_speakers" }' Spa:String:JSON >/dev/null
stack_wait stack_default_is fake_speakers

# -- new graph rate while playing
start_live "$W/rate.log" --a4 400 --engine balanced --no-status-server || e2e_finish
record "$W/rate.wav" fake_speakers
play_bg "$W/sine.wav"
sleep 2.5
pw-metadata -n settings 0 clock.force-rate 44100 >/dev/null
STACK_WAIT_SEC=10 stack_wait log_has "$W/rate.log" "Neu aufgebaut (Samplerate geändert).*Rate=44100"
sleep 1.5
for pid in "${PLAY_PIDS[@]}"; do kill -TERM "$pid"; done
wait_plays
stop_recordings
stop_live
pw-metadata -n settings 0 clock.force-rate 0 >/dev/null
gaps=$("$WAVCHECK" gaps "$W/rate.wav" --threshold 0.01 --min-ms 5)
figure "rate change 48000 -> 44100 (balanced): silence [$gaps]"
expect "rate change: gap at most 150 ms ($(kv longest_ms <<<"$gaps") ms)" fcmp "$(kv longest_ms <<<"$gaps") <= 150"

# -- switch-off while playing
start_live "$W/off.log" --a4 400 --engine balanced --no-status-server || e2e_finish
record "$W/off.wav" fake_speakers
play_bg "$W/sine.wav"
sleep 2.5
stop_live TERM
sleep 1.5
for pid in "${PLAY_PIDS[@]}"; do kill -TERM "$pid"; done
wait_plays
stop_recordings
gaps=$("$WAVCHECK" gaps "$W/off.wav" --threshold 0.01 --min-ms 5)
after=$("$WAVCHECK" tone "$W/off.wav" --hz 440 --above 0.3)
figure "switch-off (SIGTERM): silence [$gaps] unprocessed afterwards [$after]"
expect "switch-off: at most 100 ms without sound ($(kv longest_ms <<<"$gaps") ms)" fcmp "$(kv longest_ms <<<"$gaps") <= 100"
expect "switch-off: the application plays on to its device" test "$(kv windows_above <<<"$after")" -gt 5
e2e_finish
