#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `live` started right after a headset was unplugged and plugged in again (a null sink destroyed
# and created under the same name): WirePlumber survives. Then, under a running live, the
# headset and the only device left go: `live` waits and says so, and retunes on the next device.
# (Re-plugs under a running live are test_faults_devices.sh's.)
source "$(dirname "$0")/../e2e_lib.sh"
e2e_start
sine "$W/sine.wav" 60 440
sine "$W/short.wav" 1 440
WP_PID=${STACK_PIDS[2]}

unplug() { pw-cli destroy "$(stack_node_id "$1")" >/dev/null; }
routed() { pw-link -l 2>/dev/null | grep -A1 "pw-play:output_FL" | grep -q "Velmora.tap"; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }

# -- live started right after a device went away and came back (3 times). WirePlumber 0.4.13
# itself crashes when a sink is destroyed within 5 s of going idle (its suspend timer fires on
# the dead node, with or without us), so the headset goes once it is suspended.
suspended() { pw-cli info "$(stack_node_id "$1")" 2>/dev/null | grep -q 'state: "suspended"'; }
for try in 1 2 3; do
  stack_add_sink fake_hp "Fake HP"; stack_set_default fake_hp
  pw-play "$W/short.wav"
  STACK_WAIT_SEC=10 stack_wait suspended fake_hp
  unplug fake_hp; stack_wait stack_default_is fake_speakers
  pw-play "$W/short.wav"
  stack_add_sink fake_hp "Fake HP"; stack_set_default fake_hp
  start_live "$W/start$try.log" --preset 432 --engine balanced --no-status-server || e2e_finish
  sleep 6 # past WirePlumber's suspend timeout
  expect "start after a re-plug ($try): WirePlumber lives" kill -0 "$WP_PID" || e2e_finish
  stop_live
  STACK_WAIT_SEC=10 stack_wait suspended fake_hp
  unplug fake_hp; stack_wait stack_default_is fake_speakers
done

# -- live running on the headset (its re-plugs under live are the fault matrix's)
stack_add_sink fake_hp "Fake HP"; stack_set_default fake_hp
start_live "$W/live.log" --preset 432 --engine balanced --no-status-server || e2e_finish
play_bg "$W/sine.wav"
stack_wait routed
# -- the only device goes, then a new one comes
unplug fake_hp; stack_wait stack_default_is fake_speakers; unplug fake_speakers
STACK_WAIT_SEC=5 stack_wait log_has "$W/live.log" "Unbearbeitet: "
expect "no device: live says it waits" log_has "$W/live.log" "Unbearbeitet: "
expect "no device: live keeps running" kill -0 "$LIVE_PID"
stack_add_sink fake_new "Fake New"; t0=$(now)
STACK_WAIT_SEC=10 stack_wait log_has "$W/live.log" "Neu aufgebaut (Sitzung wieder bereit).*Fake New"
figure "new device: retuning again after $(since "$t0") s"
expect "new device: rebuilt onto it" log_has "$W/live.log" "Neu aufgebaut (Sitzung wieder bereit).*Fake New"
stack_wait routed
record "$W/after.wav" fake_new
sleep 3
stop_recordings
steady_pitch "$W/after.wav" 0.5 2 1 432 1
expect "new device: retuned ($PITCH_CENTS cents)" fcmp "$(abs "$PITCH_CENTS") <= 1"
stop_live
expect "nothing of ours left" ours_are 0
e2e_finish
