#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Output devices coming and going under `live` while an application plays a 440 Hz sine
# (retuned: 432 Hz), the speakers staying: the default device fake_hp re-plugged (removed,
# created again under its name, made default again) 5 times; suspended and resumed; removed
# for good; re-plugged 5 times without `live`, which then starts; finally the speakers become
# the only device and are removed, then another device is added 3 s later. Both devices'
# monitors feed one recording, so sound moving between them stays on one timeline. With no
# device at all nothing can be heard or recorded: that fault is measured from the new device's
# arrival. Under `live` our output follows the default device each time.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start --pulse
sine "$W/sine.wav" 180 440
stack_node_absent() { ! stack_node_present "$1"; }
unplug() {  # unplug NAME [FAULT] : the fault is marked as the node goes, not before its look-up
  local id
  id=$(stack_node_id "$1")
  [[ -z "$2" ]] || fault_mark "$2"
  pw-cli destroy "$id" >/dev/null && stack_wait stack_node_absent "$1"
}
plays_to() { pw-link -l 2>/dev/null | grep -A1 "Velmora.output:output_FL" | grep -q "$1:playback_FL"; }
follows() {  # follows DEVICE : under live, our output plays to DEVICE within 5 s
  [[ -z $LIVE_PID ]] || { STACK_WAIT_SEC=5 stack_wait plays_to "$1"; expect "our output follows to $1" plays_to "$1"; }
}
replug() {  # replug [FAULT] : fake_hp removed, the speakers take over, fake_hp back as default
  unplug fake_hp "$1" && stack_wait stack_default_is fake_speakers && follows fake_speakers
  stack_add_sink fake_hp "Fake Headphones" && stack_set_default fake_hp && follows fake_hp
  rec_tap fake_hp
}

stack_add_sink fake_hp "Fake Headphones" && stack_set_default fake_hp
fault_live || e2e_finish
rec_start "$W/rec.wav"
rec_tap fake_speakers && rec_tap fake_hp
play_bg "$W/sine.wav"
STACK_WAIT_SEC=6 stack_wait chain_routed
fault_run replug 5 'replug replug'
fault_run suspend 1 'fault_mark suspend; pactl suspend-sink fake_hp 1; pactl suspend-sink fake_hp 0'
fault_run removed 1 'unplug fake_hp removed'

stop_live
stack_add_sink fake_hp "Fake Headphones" && stack_set_default fake_hp
for i in 1 2 3 4 5; do replug; done
fault_run replug-live-after 1 'fault_mark replug-live-after; fault_live'

unplug fake_hp
# Three seconds without any device, as when the only headset is unplugged and another found.
fault_run only-device 1 'unplug fake_speakers; sleep 3; rec_start "$W/rec-only.wav";
  stack_add_sink fake_new "Fake New"; fault_mark only-device; rec_tap fake_new'
fault_finish
