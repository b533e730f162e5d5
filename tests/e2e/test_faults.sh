#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The fault matrix, one group per argument, while an application plays a 440 Hz sine through
# `live --preset 432`: per fault the longest silence, the time until retuned and the crashes
# (fault_figures), and nothing of ours left after the final stop.
#   server   pipewire-pulse restarted once (a PulseAudio client playing), PipeWire 5 times,
#            WirePlumber 5 times. Both end the application's stream (real devices come and go
#            with WirePlumber's monitors: simulated here), so they are measured from the
#            session's return with the application started again.
#   devices  the default device fake_hp re-plugged 5 times, suspended, removed for good;
#            re-plugged 5 times before `live` starts; the only device removed, another added
#            3 s later (measured from its arrival). Under `live` our output follows the default.
#   kill     `live` SIGKILLed 10 times, a new `live` at once after each, which clears what the
#            killed one left and says so.
source "$(dirname "$0")/e2e_lib.sh"
command -v paplay >/dev/null || { echo "FAIL: paplay missing (Debian package pulseaudio-utils)"; exit 1; }
e2e_start --pulse
sine "$W/sine.wav" 180 440
# begin PLAYER DEVICE... : live, the recording tapping DEVICE..., PLAYER playing, routed
begin() {
  fault_live || e2e_finish
  rec_start "$W/rec0.wav"
  for d in "${@:2}"; do rec_tap "$d"; done
  $1
  STACK_WAIT_SEC=6 stack_wait chain_routed
}
paplay() { command paplay "$W/sine.wav" & PLAY_PIDS+=("$!"); }
sine_bg() { play_bg "$W/sine.wav"; }
epoch=0
speakers_back() {  # the speakers made again, a new recording, the application again: the session is back
  stack_add_sink fake_speakers "Fake Speakers" && stack_wait stack_default_is fake_speakers
  rec_start "$W/rec$((++epoch)).wav"
  sine_bg
  fault_mark "$1"
  rec_tap fake_speakers
}
waits() { grep -c '^Unbearbeitet: ' "$W/live$FAULT_LIVES.log"; }

group_server() {
  begin paplay fake_speakers
  fault_run pipewire-pulse 1 'fault_mark pipewire-pulse; stack_end "$STACK_PULSE_PID"; wait_plays
    stack_start_pulse; paplay'
  restart_pipewire() {  # every client dies with the server: from here on pw-play plays
    stack_end "$STACK_WP_PID" "$STACK_PULSE_PID" "$STACK_PW_PID"
    wait_plays
    stack_start_pipewire && stack_start_wireplumber && stack_start_pulse
    speakers_back pipewire
  }
  fault_run pipewire 5 restart_pipewire
  # Real ALSA/Bluetooth nodes belong to WirePlumber's monitors: they go with it and are made
  # anew when it starts. The speakers here are a null sink made by pw-cli (object.linger): left
  # in place, WirePlumber 0.4 keeps such a sink that was played on "pending" after its restart,
  # and while anything is pending its policy links nothing, with or without us. So the speakers
  # are removed and made again as a monitor would. A stream that outlived WirePlumber 0.4 is
  # never linked again by the new one (its link stays "not activated", without us and without a
  # recorder too), and the recorder would stay pending: both are started again after its return.
  restart_wireplumber() {
    stop_recordings
    stop_plays
    stack_end "$STACK_WP_PID"
    unplug fake_speakers
    stack_start_wireplumber
    speakers_back wireplumber
  }
  local before
  before=$(waits)
  fault_run wireplumber 5 restart_wireplumber
  expect "said once per WirePlumber restart that it waits ($before, then $(waits))" test "$(waits)" -eq $((before + 5))
}

stack_node_absent() { ! stack_node_present "$1"; }
unplug() {  # unplug NAME [FAULT] : the fault is marked as the node goes, not before its look-up
  local id
  id=$(stack_node_id "$1")
  [[ -z "$2" ]] || fault_mark "$2"
  pw-cli destroy "$id" >/dev/null && stack_wait stack_node_absent "$1"
}
plays_to() { pw-link -l 2>/dev/null | grep -A1 "Velmora.output:output_FL" | grep -q "$1:playback_FL"; }
follows() {  # follows DEVICE : under live, our output plays to DEVICE within 5 s
  [[ -z $LIVE_PID ]] || STACK_WAIT_SEC=5 expect "our output follows to $1" stack_wait plays_to "$1"
}
replug() {  # replug [FAULT] : fake_hp removed, the speakers take over, fake_hp back as default
  unplug fake_hp "$1" && stack_wait stack_default_is fake_speakers && follows fake_speakers
  stack_add_sink fake_hp "Fake Headphones" && stack_set_default fake_hp && follows fake_hp
  rec_tap fake_hp
}

group_devices() {
  stack_add_sink fake_hp "Fake Headphones" && stack_set_default fake_hp
  begin sine_bg fake_speakers fake_hp
  fault_run replug 5 'replug replug'
  fault_run suspend 1 'fault_mark suspend; pactl suspend-sink fake_hp 1; pactl suspend-sink fake_hp 0'
  fault_run removed 1 'unplug fake_hp removed'

  stop_live
  stack_add_sink fake_hp "Fake Headphones" && stack_set_default fake_hp
  for i in 1 2 3 4 5; do replug; done
  fault_run replug-live-after 1 'fault_mark replug-live-after; fault_live'

  unplug fake_hp
  # Three seconds without any device, as when the only headset is unplugged and another found.
  local before
  before=$(waits)
  fault_run only-device 1 'unplug fake_speakers; sleep 3; rec_start "$W/rec-only.wav";
    stack_add_sink fake_new "Fake New"; fault_mark only-device; rec_tap fake_new'
  expect "no device: live says that it waits" test "$(waits)" -gt "$before"
  # Meanwhile the session may have offered its dummy output: live then runs on that first and
  # follows the new device as it becomes the default, without a rebuild.
  follows fake_new
}

group_kill() {
  begin sine_bg fake_speakers
  fault_run live-sigkill 10 'fault_mark live-sigkill; stop_live KILL; fault_live'
  expect "the first start after a kill clears the stale routing and says so" \
    log_has "$W/live2.log" "Velmora: 1 verwaiste Umleitungen entfernt."
}

"group_$1"
fault_finish
