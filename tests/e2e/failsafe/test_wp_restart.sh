#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# WirePlumber restarted 3 times under a running `live`. Its device nodes are re-created the way
# its ALSA monitor does (a null sink that outlives WirePlumber after it ran stays pending in the
# new one's policy, with or without us). Each time live says once that it waits, a stream
# started afterwards is linked within 2 s and routed through the chain within 5 s.
source "$(dirname "$0")/../e2e_lib.sh"
e2e_start
sine "$W/sine.wav" 30 440
start_live "$W/live.log" --preset 432 --engine balanced --no-status-server || e2e_finish
node_id() { pw-cli ls Node | awk -v n="\"$1\"" '/^\tid/{id=$2} $3==n{print id}' | tr -d ,; }
linked() { pw-link -l 2>/dev/null | grep -A1 "pw-play:output_FL" | grep -q "fake_speakers\|Velmora.tap"; }
retuned() {
  local l; l=$(pw-link -l 2>/dev/null)
  grep -A1 "pw-play:output_FL" <<<"$l" | grep -q "Velmora.tap" &&
    grep -A1 "Velmora.output:output_FL" <<<"$l" | grep -q "fake_speakers"
}
now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }

for round in 1 2 3; do
  wp=${STACK_PIDS[2]}
  kill -TERM "$wp"; timeout 5 tail --pid="$wp" -f /dev/null
  pw-cli destroy "$(node_id fake_speakers)" >/dev/null
  wireplumber >"$STACK_DIR/wireplumber$round.log" 2>&1 &
  STACK_PIDS[2]=$!
  stack_wait pw-metadata -n default 0
  stack_add_sink fake_speakers "Fake Speakers"
  t0=$(now)
  play_bg "$W/sine.wav"
  STACK_WAIT_SEC=2 stack_wait linked; heard=$(since "$t0")
  STACK_WAIT_SEC=5 stack_wait retuned; back=$(since "$t0")
  figure "WirePlumber restart $round: stream linked after $heard s, retuned after $back s"
  expect "restart $round: a new stream is linked within 2 s" linked
  expect "restart $round: and routed through the chain within 5 s" retuned
  kill "${PLAY_PIDS[@]}" 2>/dev/null; PLAY_PIDS=()
done
expect "said once per restart that it waits" test "$(grep -c '^Unbearbeitet: ' "$W/live.log")" -eq 3
stop_live
expect "nothing of ours left" ours_are 0
e2e_finish
