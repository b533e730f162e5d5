#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Session processes restarted under a running `live` while an application plays a 440 Hz sine
# (retuned: 432 Hz): pipewire-pulse once with a PulseAudio client playing, PipeWire 5 times,
# WirePlumber 5 times. Per fault the longest silence, the time until retuned and the
# crashes (fault_figures). A PipeWire restart ends every client, recorder and player alike, so
# it is measured from the session's return: server, session manager and speakers up, the
# application started again. The recorder's own links survive a WirePlumber restart, so that
# fault is measured from the moment it is killed. A PulseAudio client dies with its server and
# is started again the same way.
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
fault_run wireplumber 5 'fault_mark wireplumber; stack_end "$STACK_WP_PID"; stack_start_wireplumber'
fault_finish
