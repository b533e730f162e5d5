#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `live` SIGKILLed 10 times while an application plays a 440 Hz sine, a new `live` started at
# once after each: the application is heard again within 2 s (unprocessed while no `live`
# runs) and retuned (432 Hz) within 5 s; the new start clears what the killed one left, says
# so, and never crashes; nothing of ours is left after the final stop.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
sine "$W/sine.wav" 120 440

rec_start "$W/rec.wav"
rec_tap fake_speakers
play_bg "$W/sine.wav"
fault_live || e2e_finish
STACK_WAIT_SEC=6 stack_wait chain_routed
fault_run live-sigkill 10 'fault_mark live-sigkill; stop_live KILL; fault_live'
expect "the first start after a kill clears the stale routing and says so" \
  log_has "$W/live2.log" "Velmora: 1 verwaiste Umleitungen entfernt."
fault_finish
