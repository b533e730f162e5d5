#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The PipeWire layer alone (pass-through block with gain 0.5, so audio that bypassed the chain
# shows at full level): routing, idle pause and resume, streams that target another device,
# and clean removal.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
stack_add_sink fake_headphones "Fake Headphones"
sine "$W/sine.wav" 3 440

"$PW_PASSTHROUGH" --gain 0.5 --idle-ms 1500 --seconds 120 >"$W/pt.log" 2>&1 &
PT=$!
stack_wait log_has "$W/pt.log" ready || { bad "pass-through chain did not start"; e2e_finish; }
expect "tap node present" stack_node_present org.velmora.Velmora.tap
expect "default sink untouched" stack_default_is fake_speakers

record "$W/a.wav" fake_speakers
pw-play "$W/sine.wav"
stop_recordings
out=$("$WAVCHECK" peaks "$W/a.wav" --above 0.45)
echo "routed: $out"
expect "every window processed (peak 0.4, none above 0.45)" \
  fcmp "$(kv highest_peak <<<"$out") > 0.39 && $(kv highest_peak <<<"$out") < 0.41 && $(kv windows_above <<<"$out") == 0"

# Idle: nothing linked into the tap -> both streams paused; the next stream resumes them.
stack_wait log_has "$W/pt.log" "idle=1"
expect "paused while nothing plays" log_has "$W/pt.log" "idle=1"
record "$W/b.wav" fake_speakers
pw-play "$W/sine.wav"
stop_recordings
out=$("$WAVCHECK" peaks "$W/b.wav" --above 0.45)
echo "after idle: $out"
expect "resumed on the first link" log_has "$W/pt.log" "idle=0"
expect "resumed audio processed from the first window" \
  fcmp "$(kv highest_peak <<<"$out") > 0.39 && $(kv windows_above <<<"$out") == 0"

# A stream that asks for another device is left alone.
record "$W/c.wav" fake_headphones
pw-play --target fake_headphones "$W/sine.wav"
stop_recordings
out=$("$WAVCHECK" peaks "$W/c.wav" --above 0.45)
echo "explicit target: $out"
expect "stream with its own target not moved (full level on its device)" \
  fcmp "$(kv highest_peak <<<"$out") > 0.79"

kill -TERM $PT
wait $PT
expect "pass-through exits cleanly" test $? -eq 0
rt=$(kv rt_allocations <"$W/pt.log")
figure "heap allocations on the real-time thread (routing, idle pause, resume): ${rt:-?}"
expect "no allocation on the real-time thread" test "${rt:--1}" -eq 0
expect "no node of ours left" ours_are 0
expect "no routing left in the metadata" routing_is no
e2e_finish
