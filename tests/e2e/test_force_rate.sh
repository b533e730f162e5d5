#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Forcing a new graph rate while playing: the chain is rebuilt for 44100 Hz and the pitch is
# still right afterwards.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
sine "$W/sine.wav" 14 440

start_live "$W/live.log" --preset 432 --engine balanced --no-status-server || e2e_finish
expect "starts at 48000 Hz" log_has "$W/live.log" "Rate=48000"
play_bg "$W/sine.wav"
sleep 2
pw-metadata -n settings 0 clock.force-rate 44100 >/dev/null
STACK_WAIT_SEC=10 stack_wait log_has "$W/live.log" "Neu aufgebaut (Samplerate geändert).*Rate=44100"
expect "rebuilt for 44100 Hz" log_has "$W/live.log" "Neu aufgebaut (Samplerate geändert).*Rate=44100"
sleep 1
record "$W/after.wav" fake_speakers
sleep 5
stop_recordings
wait_plays
stop_live
pw-metadata -n settings 0 clock.force-rate 0 >/dev/null

steady_pitch "$W/after.wav" 0.5 4 1 432 1
figure "after clock.force-rate 44100: ${PITCH_HZ} Hz (${PITCH_CENTS} cents), 440 Hz at ${PITCH_REF_DB} dB"
expect "pitch still right at 44100 Hz ($PITCH_CENTS cents)" fcmp "$(abs "$PITCH_CENTS") <= 1"
expect "440 Hz more than 40 dB down ($PITCH_REF_DB dB)" fcmp "$PITCH_REF_DB < -40"
expect "at most one second off ($PITCH_OFF of 4)" test "$PITCH_OFF" -le 1
e2e_finish
