#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `live` serves the status: a new origin is refused and its question printed together with the
# command that answers it; after `velmora-cli consent allow ORIGIN` the origin gets the document.
# Then PipeWire and WirePlumber are stopped and started again under the running `live`: while
# the server is gone, live says so once and the document reports "aktiv": false; once it is
# back, retuned audio (432 Hz, 440 Hz more than 40 dB down) reaches the speakers within 5 s,
# with no user action and no process restart.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
ORIGIN=http://radio.example
sine "$W/sine.wav" 6 440

status_says() { get_status 2>/dev/null | grep -q "\"aktiv\":$1"; }

start_live "$W/live.log" --preset 432 --engine balanced || e2e_finish
# Another program on 127.0.0.1:47432 (a parallel test run) would answer in our place.
stack_wait log_has "$W/live.log" "Statusdienst"
log_has "$W/live.log" "Statusdienst nicht" && { bad "status port 47432 busy: run again"; e2e_finish; }
expect "unknown origin refused" grep -q "^HTTP/1.1 403" <<<"$(get_status)"
expect "question printed with its answer" \
  stack_wait log_has "$W/live.log" "Anfrage von $ORIGIN: zum Erlauben 'velmora-cli consent allow $ORIGIN' ausführen."
expect "consent command succeeds" "$VELMORA_CLI" consent allow "$ORIGIN"
stack_wait status_says true
expect "allowed origin gets the active document naming the target pitch" \
  eval 'get_status | grep -q "\"aktiv\":true,.*\"zielstimmung\":432"'
play_bg "$W/sine.wav"
sleep 2

# Stop the server while the sine plays (wireplumber first, as systemd does).
stack_end "$STACK_WP_PID" "$STACK_PW_PID"
wait_plays
STACK_WAIT_SEC=10 expect "live says the server is gone" stack_wait log_has "$W/live.log" "PipeWire-Verbindung verloren"
expect "status document reports aktiv: false" stack_wait status_says false

# Start it again, with the same speakers.
stack_start_pipewire && stack_start_wireplumber
stack_add_sink fake_speakers "Fake Speakers" && stack_wait stack_default_is fake_speakers
back=$(now)
# The same live rebuilds by itself (one that had died would never say so).
STACK_WAIT_SEC=10 stack_wait log_has "$W/live.log" "Neu aufgebaut (PipeWire wieder erreichbar)"
recovery=$(at "$(now)" "$back")
figure "server restart: chain rebuilt ${recovery} s after the server was back"
expect "rebuilt by itself within 5 s ($recovery s)" fcmp "$recovery <= 5"
expect "said once that the server was gone" test "$(grep -c "PipeWire-Verbindung verloren" "$W/live.log")" -eq 1
expect "status document active again" stack_wait status_says true

record_play "$W/after.wav" fake_speakers "$W/sine.wav"
steady_pitch "$W/after.wav" 0.5 4 1 432 1
figure "after the restart: ${PITCH_HZ} Hz (${PITCH_CENTS} cents), 440 Hz at ${PITCH_REF_DB} dB"
expect "retuned after the restart ($PITCH_CENTS cents)" fcmp "$(abs "$PITCH_CENTS") <= 1"
expect "440 Hz more than 40 dB down ($PITCH_REF_DB dB)" fcmp "$PITCH_REF_DB < -40"
stop_live
e2e_finish
