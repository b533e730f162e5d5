#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Without a PipeWire server, and with PipeWire but no WirePlumber, `live` exits non-zero with a
# clear German error and never hangs.
source "$(dirname "$0")/e2e_lib.sh"

run_live() {  # run_live LOG : bounded run, prints status and seconds
  local t0=$SECONDS rc
  LANGUAGE=de timeout 30 "$VELMORA_CLI" live --no-status-server >"$1" 2>&1; rc=$?
  echo "$rc $((SECONDS - t0))"
}

# -- no PipeWire at all (only a session bus)
e2e_start --no-pipewire
read -r rc took < <(run_live "$W/none.log")
cat "$W/none.log"
expect "no PipeWire: non-zero exit, no hang (status $rc after $took s)" test "$rc" -ne 0 -a "$rc" -ne 124
expect "no PipeWire: German error text" log_has "$W/none.log" "Verbindung zu PipeWire herstellen fehlgeschlagen ("
stack_stop

# -- PipeWire without a session manager
e2e_start --no-wireplumber
read -r rc took < <(run_live "$W/nowp.log")
cat "$W/nowp.log"
expect "no WirePlumber: non-zero exit, no hang (status $rc after $took s)" test "$rc" -ne 0 -a "$rc" -ne 124
expect "no WirePlumber: German error text" \
  log_has "$W/nowp.log" "Kein Standard-Ausgabegeraet vorhanden fehlgeschlagen (-19: No such device)"
expect "no WirePlumber: hint about the session manager" log_has "$W/nowp.log" "Sitzungsmanager"
expect "no WirePlumber: nothing of ours left" ours_are 0
stack_stop

# -- a server that accepts the connection but never answers (stopped process)
e2e_start --no-wireplumber
frozen=${STACK_PW_PID:-}
if [[ -n "${frozen:-}" ]]; then
  kill -STOP "$frozen"
  read -r rc took < <(run_live "$W/frozen.log")
  kill -CONT "$frozen"
  cat "$W/frozen.log"
  expect "silent server: gives up by itself (status $rc after $took s)" test "$rc" -ne 0 -a "$rc" -ne 124 -a "$took" -le 15
  expect "silent server: German error text with the time-out" \
    log_has "$W/frozen.log" "Verbindung zu PipeWire herstellen fehlgeschlagen (-110: Connection timed out)"
else
  bad "could not find the private pipewire process"
fi
e2e_finish
