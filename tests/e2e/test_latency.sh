#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Latency the route adds, in graph samples: 0 for the transport (pass-through block), and the
# engine's own latency for each engine (preset "off", so onsets stay sharp). The playing stream
# is told that latency, so players can keep pictures in step. The quantum is pinned so that
# runs are comparable.
source "$(dirname "$0")/e2e_lib.sh"
# engine_samples LOG : the engine's own latency in samples as live prints it; fails without it,
# so a changed log line cannot turn into an empty value that some comparison accepts.
engine_samples() { sed -n 's/.*(\([0-9]\+\) Samples).*/\1/p' "$1" | head -n1 | grep .; }
e2e_start
pw-metadata -n settings 0 clock.force-quantum 1024 >/dev/null

base=$("$PW_TOOL" latency | kv latency_samples)
figure "baseline pw-play -> speakers monitor: $base samples"
expect "baseline measured" test "${base:--1}" -gt 0

start_chain "$W/pt.log" --gain 1 --seconds 120
through=$("$PW_TOOL" latency | kv latency_samples)
kill -TERM $CHAIN_PID; wait $CHAIN_PID
figure "transport: $((through - base)) samples added"
expect "transport adds nothing ($((through - base)) samples)" test "$((through - base))" -eq 0

for engine in lowLatency balanced highQuality; do
  start_live "$W/live-$engine.log" --preset off --engine "$engine" --no-status-server || continue
  own=$(engine_samples "$W/live-$engine.log") || { bad "$engine: no latency line"; stop_live; continue; }
  out=$("$PW_TOOL" latency)
  measured=$(kv latency_samples <<<"$out"); told=$(kv reported_samples <<<"$out")
  stop_live
  added=$((measured - base))
  figure "$engine: route adds $added samples, engine reports $own, the player is told $told"
  # A few samples of slack: the onset is found by a level threshold after the engine.
  expect "$engine: added latency equals the engine's ($added vs $own)" test "$(abs $((added - own)))" -le 8
  expect "$engine: the player is told the engine's latency ($told vs $own)" test "${told:--1}" -eq "$own"
done

# A device with a latency of its own (960 frames, 20 ms, as headphones report theirs): the
# player is told the device's and the engine's together.
"$PW_TOOL" slow-sink slow_speakers 960 &
STACK_PIDS+=("$!")
stack_wait stack_node_present slow_speakers
stack_set_default slow_speakers
if start_live "$W/live-slow.log" --preset off --engine balanced --no-status-server; then
  own=$(engine_samples "$W/live-slow.log") || bad "slow_speakers: no latency line"
  told=$("$PW_TOOL" latency --sink slow_speakers | kv reported_samples)
  stop_live
  figure "balanced on a device with 960 frames of its own: the player is told $told"
  [[ -n $own ]] && expect "a device's own latency is passed on ($told = 960 + $own)" test "${told:--1}" -eq $((960 + own))
fi
e2e_finish
