#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Session processes restarted under a running `live` while an application plays a 440 Hz sine
# (retuned: 432 Hz): pipewire-pulse once with a PulseAudio client playing, PipeWire 5 times,
# WirePlumber 5 times. Per fault the longest silence, the time until retuned and the
# crashes (fault_figures). A PipeWire restart ends every client, recorder and player alike, so
# it is measured from the session's return: server, session manager and speakers up, the
# application started again. A WirePlumber restart is measured from its return as well: real
# devices are made by its own monitors and come back with it (simulated below), and the
# application is started again. A PulseAudio client dies with its server and is started again
# the same way. Live says once per WirePlumber restart that it waits.
source "$(dirname "$0")/e2e_lib.sh"
command -v paplay >/dev/null || { echo "FAIL: paplay missing (Debian package pulseaudio-utils)"; exit 1; }
e2e_start --pulse
sine "$W/sine.wav" 120 440

paplay() { command paplay "$W/sine.wav" & PLAY_PIDS+=("$!"); }
fault_live || e2e_finish
rec_start "$W/rec0.wav"
rec_tap fake_speakers
paplay
STACK_WAIT_SEC=6 stack_wait chain_routed
fault_run pipewire-pulse 1 'fault_mark pipewire-pulse; stack_end "$STACK_PULSE_PID"; wait_plays
  stack_start_pulse; paplay'

restart_pipewire() {  # every client dies with the server: from here on pw-play plays
  stack_end "$STACK_WP_PID" "$STACK_PULSE_PID" "$STACK_PW_PID"
  wait_plays
  stack_start_pipewire && stack_start_wireplumber && stack_start_pulse
  stack_add_sink fake_speakers "Fake Speakers" && stack_wait stack_default_is fake_speakers
  rec_start "$W/rec$((++epoch)).wav"
  play_bg "$W/sine.wav"
  fault_mark pipewire
  rec_tap fake_speakers
}
epoch=0
fault_run pipewire 5 restart_pipewire
# Real ALSA/Bluetooth nodes belong to WirePlumber's monitors: they go with it and are made anew
# when it starts. The speakers here are a null sink made by pw-cli (object.linger): left in
# place, WirePlumber 0.4 keeps such a sink that was played on "pending" after its restart, and
# while anything is pending its policy links nothing, with or without us. So the speakers are
# removed and made again as a monitor would. A stream that outlived WirePlumber 0.4 is never
# linked again by the new one (its link stays "not activated", without us and without a recorder
# too), and the recorder would stay pending: both are started again after its return.
speakers_gone() { ! stack_node_present fake_speakers; }
restart_wireplumber() {
  stop_recordings
  kill "${PLAY_PIDS[@]}" 2>/dev/null; wait_plays
  stack_end "$STACK_WP_PID"
  pw-cli destroy "$(stack_node_id fake_speakers)" >/dev/null && stack_wait speakers_gone
  stack_start_wireplumber
  stack_add_sink fake_speakers "Fake Speakers" && stack_wait stack_default_is fake_speakers
  rec_start "$W/rec$((++epoch)).wav"
  play_bg "$W/sine.wav"
  fault_mark wireplumber
  rec_tap fake_speakers
}
waits() { grep -c '^Unbearbeitet: ' "$W/live$FAULT_LIVES.log"; }
before=$(waits)
fault_run wireplumber 5 restart_wireplumber
expect "said once per WirePlumber restart that it waits ($before, then $(waits))" test "$(waits)" -eq $((before + 5))
fault_finish
