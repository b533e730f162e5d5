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
stack_add_sink fake_mix "Both Sinks"
sine "$W/sine.wav" 8 440
# Both sinks' monitors into one mix, so that one recording shows the switch on one timeline.
for sink in fake_speakers fake_headphones; do
  pw-loopback -n "e2e-mix-$sink" -C "$sink" -P fake_mix --capture-props='{ stream.capture.sink=true node.dont-reconnect=true }' \
    --playback-props='{ node.dont-reconnect=true }' >/dev/null 2>&1 &
  STACK_PIDS+=("$!")
done
stack_wait bash -c "pw-link -l | grep -q e2e-mix-fake_headphones"

# transition NAME SINK CHANGE WAIT : plays through live (balanced), runs CHANGE after 2.5 s,
# waits for the log line WAIT (none: live was stopped), records SINK; sets GAPS.
transition() {
  start_live "$W/$1.log" --a4 400 --engine balanced --no-status-server || return 1
  record "$W/$1.wav" "$2"
  play_bg "$W/sine.wav"
  sleep 2.5
  eval "$3"
  [[ -z "$4" ]] || STACK_WAIT_SEC=10 stack_wait log_has "$W/$1.log" "$4"
  sleep 1.5
  for pid in "${PLAY_PIDS[@]}"; do kill -TERM "$pid"; done
  wait_plays
  stop_recordings
  [[ -z "$LIVE_PID" ]] || stop_live
  GAPS=$("$WAVCHECK" gaps "$W/$1.wav" --threshold 0.01 --min-ms 5)
}
gap_ms() { kv longest_ms <<<"$GAPS"; }

transition device fake_mix \
  "pw-metadata -n default 0 default.configured.audio.sink '{ \"name\": \"fake_headphones\" }' Spa:String:JSON" \
  "Neu aufgebaut (Ausgabegerät gewechselt)"
leak=$("$WAVCHECK" tone "$W/device.wav" --hz 440 --above 0.1 --beside 400)
good=$("$WAVCHECK" tone "$W/device.wav" --hz 400 --above 0.3)
figure "device change, both sinks mixed: silence [$GAPS] unprocessed 440 Hz [$leak] retuned [$good]"
expect "device change: retuned audio before and after" fcmp "$(kv first_s <<<"$good") < 1 && $(kv last_s <<<"$good") > 3.5"
expect "device change: at most one gap, at most 100 ms ($(gap_ms) ms)" fcmp "$(kv gaps <<<"$GAPS") <= 1 && $(gap_ms) <= 100"
expect "device change: no unprocessed audio" test "$(kv windows_above <<<"$leak")" -eq 0
pw-metadata -n default 0 default.configured.audio.sink '{ "name": "fake_speakers" }' Spa:String:JSON >/dev/null
stack_wait stack_default_is fake_speakers

transition rate fake_speakers "pw-metadata -n settings 0 clock.force-rate 44100 >/dev/null" \
  "Neu aufgebaut (Samplerate geändert).*Rate=44100"
pw-metadata -n settings 0 clock.force-rate 0 >/dev/null
figure "rate change 48000 -> 44100 (balanced): silence [$GAPS]"
expect "rate change: gap at most 150 ms ($(gap_ms) ms)" fcmp "$(gap_ms) <= 150"

transition off fake_speakers "stop_live TERM" ""
after=$("$WAVCHECK" tone "$W/off.wav" --hz 440 --above 0.3)
figure "switch-off (SIGTERM): silence [$GAPS] unprocessed afterwards [$after]"
expect "switch-off: at most 100 ms without sound ($(gap_ms) ms)" fcmp "$(gap_ms) <= 100"
expect "switch-off: the application plays on to its device" test "$(kv windows_above <<<"$after")" -gt 5
e2e_finish
