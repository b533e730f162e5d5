#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Without a PipeWire server, with PipeWire but no WirePlumber, and with a server that accepts
# the connection but never answers (a stopped process), `live` exits non-zero with a clear
# German error and never hangs.
source "$(dirname "$0")/e2e_lib.sh"

# no_stack NAME STACK-OPTION [SETUP] : a bounded run of live on that stack; RC, TOOK (seconds), LOG
no_stack() {
  e2e_start "$2"
  eval "${3:-}"
  local t0=$SECONDS
  LOG=$W/$1.log
  LANGUAGE=de timeout 30 "$VELMORA_CLI" live --no-status-server >"$LOG" 2>&1; RC=$?
  TOOK=$((SECONDS - t0))
  cat "$LOG"
  expect "$1: non-zero exit, no hang (status $RC after $TOOK s)" test "$RC" -ne 0 -a "$RC" -ne 124
}

no_stack "no PipeWire" --no-pipewire
expect "no PipeWire: German error text" log_has "$LOG" "Verbindung zu PipeWire herstellen fehlgeschlagen ("
stack_stop

no_stack "no WirePlumber" --no-wireplumber
expect "no WirePlumber: German error text" \
  log_has "$LOG" "Kein Standard-Ausgabegeraet vorhanden fehlgeschlagen (-19: No such device)"
expect "no WirePlumber: hint about the session manager" log_has "$LOG" "Sitzungsmanager"
expect "no WirePlumber: nothing of ours left" ours_are 0
stack_stop

no_stack "silent server" --no-wireplumber 'kill -STOP "$STACK_PW_PID"'
kill -CONT "$STACK_PW_PID"
expect "silent server: gives up by itself within 15 s ($TOOK s)" test "$TOOK" -le 15
expect "silent server: German error text with the time-out" \
  log_has "$LOG" "Verbindung zu PipeWire herstellen fehlgeschlagen (-110: Connection timed out)"
e2e_finish
