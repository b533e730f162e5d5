#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The PipeWire layer alone (pass-through block with gain 0.5, so audio that bypassed the chain
# shows at full level): routing, idle pause and resume, streams that target another device,
# and clean removal.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
stack_add_sink fake_headphones "Fake Headphones"
sine "$W/sine.wav" 3 440
level() {  # level NAME SINK [pw-play options] : plays the sine, prints the 440 Hz level per 100 ms
  record_play "$W/$1.wav" "$2" "${@:3}" "$W/sine.wav"
  out=$("$WAVCHECK" tone "$W/$1.wav" --hz 440 --above 0.45)
  echo "$1: $out"
  top=$(kv highest_level <<<"$out") over=$(kv windows_above <<<"$out")
}

start_chain "$W/pt.log" --gain 0.5 --idle-ms 1500 --seconds 120 || e2e_finish
expect "tap node present" stack_node_present org.velmora.Velmora.tap
expect "default sink untouched" stack_default_is fake_speakers
level routed fake_speakers
expect "every window processed (level 0.4, none above 0.45)" fcmp "$top > 0.39 && $top < 0.41 && $over == 0"

# Idle: nothing linked into the tap -> both streams paused; the next stream resumes them.
expect "paused while nothing plays" stack_wait log_has "$W/pt.log" "idle=1"
level resumed fake_speakers
expect "resumed on the first link" log_has "$W/pt.log" "idle=0"
expect "resumed audio processed from the first window" fcmp "$top > 0.39 && $over == 0"

# A stream that asks for another device is left alone.
level target fake_headphones --target fake_headphones
expect "stream with its own target not moved (full level on its device)" fcmp "$top > 0.79"

kill -TERM $CHAIN_PID
wait $CHAIN_PID
expect "pass-through exits cleanly" test $? -eq 0
rt=$(kv rt_allocations <"$W/pt.log")
figure "heap allocations on the real-time thread (routing, idle pause, resume): ${rt:-?}"
expect "no allocation on the real-time thread" test "${rt:--1}" -eq 0
expect "no node of ours left" ours_are 0
expect "no routing left in the metadata" routing_is no
e2e_finish
