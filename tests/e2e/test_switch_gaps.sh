#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The transitions users meet, free A4 = 400 Hz telling retuned from unprocessed audio. A new
# default device while playing: at most one short gap (the rebuild keeps streams and DSP
# objects), only retuned audio on either sink, the new one within a second, the default left
# as the user chose it. A new graph rate (clock.force-rate 44100): rebuilt, at most 150 ms of
# silence with balanced selected, the pitch still right. Switching off (SIGTERM) leaves nothing
# of ours and returns the application to its device at once: at most 100 ms of silence.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
stack_add_sink fake_headphones "Fake Headphones"
stack_add_sink fake_mix "Both Sinks"
sine "$W/sine.wav" 10 440
# Both sinks' monitors into one mix, so that one recording shows the switch on one timeline.
for sink in fake_speakers fake_headphones; do
  pw-loopback -n "e2e-mix-$sink" -C "$sink" -P fake_mix --capture-props='{ stream.capture.sink=true node.dont-reconnect=true }' \
    --playback-props='{ node.dont-reconnect=true }' >/dev/null 2>&1 &
  STACK_PIDS+=("$!")
done
stack_wait bash -c "pw-link -l | grep -q e2e-mix-fake_headphones"

# transition NAME SINK CHANGE WAIT [HOLD] : plays through live (balanced), records SINK (and
# the headphones alone for a device change), runs CHANGE after 2.5 s (at T_CHANGE), expects the
# log line WAIT (none: live was stopped), plays on for HOLD s (1.5); sets GAPS.
transition() {
  start_live "$W/$1.log" --a4 400 --engine balanced --no-status-server || return 1
  record "$W/$1.wav" "$2"
  [[ $1 != device ]] || { record "$W/headphones.wav" fake_headphones; REC_H=$(now); }
  play_bg "$W/sine.wav"
  sleep 2.5
  T_CHANGE=$(now)
  eval "$3"
  [[ -z "$4" ]] || STACK_WAIT_SEC=10 expect "$1: live says $4" stack_wait log_has "$W/$1.log" "$4"
  sleep "${5:-1.5}"
  stop_plays
  stop_recordings
  [[ -z "$LIVE_PID" ]] || stop_live
  GAPS=$("$WAVCHECK" gaps "$W/$1.wav" --threshold 0.01 --min-ms 5)
}
gap_ms() { kv longest_ms <<<"$GAPS"; }

transition device fake_mix "stack_set_default fake_headphones" \
  "Neu aufgebaut (Ausgabegerät gewechselt): Ausgabe=Fake Headphones"
expect "device change: the default is the user's choice, not ours" stack_default_is fake_headphones
leak=$("$WAVCHECK" tone "$W/device.wav" --hz 440 --above 0.1 --beside 400)
good=$("$WAVCHECK" tone "$W/device.wav" --hz 400 --above 0.3)
figure "device change, both sinks mixed: silence [$GAPS] unprocessed 440 Hz [$leak] retuned [$good]"
expect "device change: retuned audio before and after" fcmp "$(kv first_s <<<"$good") < 1 && $(kv last_s <<<"$good") > 3.5"
expect "device change: at most one gap, at most 100 ms ($(gap_ms) ms)" fcmp "$(kv gaps <<<"$GAPS") <= 1 && $(gap_ms) <= 100"
expect "device change: no unprocessed audio" test "$(kv windows_above <<<"$leak")" -eq 0
# The first 100 ms window of retuned audio on the new sink, against the switch time.
first=$("$WAVCHECK" tone "$W/headphones.wav" --hz 400 --above 0.3 | kv first_s)
arrival=$(awk -v f="$first" -v t="$T_CHANGE" -v r="$REC_H" 'BEGIN { printf "%.3f", f - (t - r) }')
figure "retuned audio on the new sink ${arrival} s after the switch (100 ms windows, 50 ms steps)"
expect "device change: the new sink gets retuned audio within one second ($arrival s)" fcmp "$first >= 0 && $arrival <= 1.0"
stack_set_default fake_speakers

transition rate fake_speakers "pw-metadata -n settings 0 clock.force-rate 44100 >/dev/null" \
  "Neu aufgebaut (Samplerate geändert).*Rate=44100" 5
pw-metadata -n settings 0 clock.force-rate 0 >/dev/null
expect "rate change: started at 48000 Hz" log_has "$W/rate.log" "Läuft: .*Rate=48000"
figure "rate change 48000 -> 44100 (balanced): silence [$GAPS]"
expect "rate change: gap at most 150 ms ($(gap_ms) ms)" fcmp "$(gap_ms) <= 150"
steady_pitch "$W/rate.wav" 4.5 3 1 400 1
figure "after clock.force-rate 44100: ${PITCH_HZ} Hz (${PITCH_CENTS} cents), 440 Hz at ${PITCH_REF_DB} dB"
expect "rate change: pitch still right ($PITCH_CENTS cents, 440 Hz at $PITCH_REF_DB dB)" \
  fcmp "$(abs "$PITCH_CENTS") <= 1 && $PITCH_REF_DB < -40"
expect "rate change: at most one second off ($PITCH_OFF of 3)" test "$PITCH_OFF" -le 1

transition off fake_speakers "stop_live TERM" ""
after=$("$WAVCHECK" tone "$W/off.wav" --hz 440 --above 0.3)
figure "switch-off (SIGTERM): silence [$GAPS] unprocessed afterwards [$after]"
expect "switch-off: at most 100 ms without sound ($(gap_ms) ms)" fcmp "$(gap_ms) <= 100"
expect "switch-off: live said Beendet., left no node and no routing" eval 'log_has "$W/off.log" "Beendet." && ours_are 0 && routing_is no'
expect "switch-off: the application plays on to its device" test "$(kv windows_above <<<"$after")" -gt 5
e2e_finish
