#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A chain that stops delivering (its real-time block hangs for 4 s) while a stream plays through
# it: the stream is handed back to its device and heard unprocessed (full level, not the
# chain's half) within 2 s of the hang, never left silent.
source "$(dirname "$0")/../e2e_lib.sh"
e2e_start
sine "$W/sine.wav" 12 440
record "$W/rec.wav" fake_speakers
t0=$(now)
start_chain "$W/stall.log" --seconds 10 --stall-at 2 --stall-ms 4000 || e2e_finish
play_bg "$W/sine.wav"
STACK_WAIT_SEC=10 stack_wait log_has "$W/stall.log" stall
stall_at=$(at "$(now)" "$t0")
STACK_WAIT_SEC=5 expect "the hanging chain hands the streams back" stack_wait log_has "$W/stall.log" "health=3"
sleep 3
stop_recordings
kill "$CHAIN_PID" 2>/dev/null; wait "$CHAIN_PID" 2>/dev/null
full=$("$WAVCHECK" tone "$W/rec.wav" --hz 440 --above 0.6 --from "$stall_at")
first=$(kv first_s <<<"$full")
figure "stall at ${stall_at} s; full-level (unprocessed) audio from ${first} s [$full]"
expect "unprocessed within 2 s of the hang (first at $first s)" fcmp "$first >= 0 && $first - $stall_at <= 2"
e2e_finish
