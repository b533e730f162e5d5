#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `live` started right after a headset was unplugged and plugged in again (a null sink destroyed
# and created under the same name): WirePlumber survives. (Re-plugs under a running live, and
# the last device going, are the fault matrix's: test_faults.sh devices.)
source "$(dirname "$0")/../e2e_lib.sh"
e2e_start
sine "$W/short.wav" 1 440
WP_PID=${STACK_PIDS[2]}

# WirePlumber 0.4.13 itself crashes when a sink is destroyed within 5 s of going idle (its
# suspend timer fires on the dead node, with or without us), so the headset goes once it is
# suspended.
suspended() { pw-cli info "$(stack_node_id "$1")" 2>/dev/null | grep -q 'state: "suspended"'; }
unplug_suspended() {
  STACK_WAIT_SEC=10 stack_wait suspended fake_hp
  pw-cli destroy "$(stack_node_id fake_hp)" >/dev/null; stack_wait stack_default_is fake_speakers
}
for try in 1 2 3; do
  stack_add_sink fake_hp "Fake HP"; stack_set_default fake_hp
  pw-play "$W/short.wav"
  unplug_suspended
  pw-play "$W/short.wav"
  stack_add_sink fake_hp "Fake HP"; stack_set_default fake_hp
  start_live "$W/start$try.log" --preset 432 --engine balanced --no-status-server || e2e_finish
  sleep 6 # past WirePlumber's suspend timeout
  expect "start after a re-plug ($try): WirePlumber lives" kill -0 "$WP_PID" || e2e_finish
  stop_live
  unplug_suspended
done
expect "nothing of ours left" ours_are 0
e2e_finish
