#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A second instance changes nothing of the first one: it fails and says why, the first one's
# nodes stay and it still retunes (free A4 = 400 Hz tells retuned from unprocessed audio).
# SIGTERM is test_switch_gaps.sh's switch-off, SIGKILL the fault matrix's.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
sine "$W/sine.wav" 3 440

start_live "$W/first.log" --a4 400 --no-status-server || e2e_finish
first=$LIVE_PID
LANGUAGE=de timeout 20 "$VELMORA_CLI" live --a4 400 --no-status-server >"$W/second.log" 2>&1; rc=$?
cat "$W/second.log"
expect "second instance fails (exit $rc)" test "$rc" -ne 0 -a "$rc" -ne 124
expect "second instance says why" log_has "$W/second.log" "Aufnahme-Senke anlegen fehlgeschlagen (-16: Device or resource busy)"
expect "first instance's nodes are still there" ours_are 2
record_play "$W/first.wav" fake_speakers "$W/sine.wav"
leak=$("$WAVCHECK" tone "$W/first.wav" --hz 440 --above 0.1 --beside 400)
good=$("$WAVCHECK" tone "$W/first.wav" --hz 400 --above 0.3)
expect "first instance still retunes" test "$(kv windows_above <<<"$good")" -gt 5 -a "$(kv windows_above <<<"$leak")" -eq 0
LIVE_PID=$first
stop_live
e2e_finish
