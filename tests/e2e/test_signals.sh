#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# SIGTERM: exit 0, our nodes gone, the application plays on to its device. SIGKILL: the next
# start clears the routing left behind and says so. A second instance changes nothing of the
# first one. Free A4 = 400 Hz tells retuned from unprocessed audio.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
sine "$W/sine.wav" 8 440
sine "$W/sine3.wav" 3 440

# -- SIGTERM
start_live "$W/term.log" --a4 400 --no-status-server || e2e_finish
record "$W/term.wav" fake_speakers
play_bg "$W/sine.wav"
sleep 2.5
stop_live TERM
expect "SIGTERM: prints Beendet" log_has "$W/term.log" "Beendet."
expect "SIGTERM: our nodes are gone" ours_are 0
expect "SIGTERM: no routing left" routing_is no
sleep 2
wait_plays
stop_recordings
before=$("$WAVCHECK" tone "$W/term.wav" --hz 400 --above 0.3 --to 2)
after=$("$WAVCHECK" tone "$W/term.wav" --hz 440 --above 0.3 --from 3.5)
figure "SIGTERM: retuned before [$before], unprocessed after [$after]"
expect "SIGTERM: retuned while running" test "$(kv windows_above <<<"$before")" -gt 5
expect "SIGTERM: the stream plays on to the device" test "$(kv windows_above <<<"$after")" -gt 5

# -- SIGKILL, then a new start cleans up
start_live "$W/kill.log" --a4 400 --no-status-server || e2e_finish
play_bg "$W/sine.wav"
stack_wait routing_is yes
sleep 1
stop_live KILL
STACK_WAIT_SEC=5 stack_wait ours_are 0
expect "SIGKILL: the server removed our nodes" ours_are 0
expect "SIGKILL: stale routing stays on the playing stream" routing_is yes
start_live "$W/restart.log" --a4 400 --no-status-server || e2e_finish
expect "next start reports the clean-up" log_has "$W/restart.log" "Velmora: 1 verwaiste Umleitungen entfernt."
stop_live
wait_plays

# -- A second instance leaves the first alone
start_live "$W/first.log" --a4 400 --no-status-server || e2e_finish
first=$LIVE_PID
LANGUAGE=de timeout 20 "$VELMORA_CLI" live --a4 400 --no-status-server >"$W/second.log" 2>&1; rc=$?
cat "$W/second.log"
expect "second instance fails (exit $rc)" test "$rc" -ne 0 -a "$rc" -ne 124
expect "second instance says why" log_has "$W/second.log" "Aufnahme-Senke anlegen fehlgeschlagen (-16: Device or resource busy)"
expect "first instance's nodes are still there" ours_are 2
record "$W/first.wav" fake_speakers
pw-play "$W/sine3.wav"
stop_recordings
leak=$("$WAVCHECK" tone "$W/first.wav" --hz 440 --above 0.1 --beside 400)
good=$("$WAVCHECK" tone "$W/first.wav" --hz 400 --above 0.3)
expect "first instance still retunes" test "$(kv windows_above <<<"$good")" -gt 5 -a "$(kv windows_above <<<"$leak")" -eq 0
LIVE_PID=$first
stop_live
e2e_finish
