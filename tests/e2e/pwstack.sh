#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A private PipeWire stack for end-to-end tests: D-Bus session bus, pipewire, wireplumber and a
# null sink "fake_speakers", all under a fresh private runtime/state/config folder.
# Source this file, then call `stack_start [--no-wireplumber] [--no-pipewire] [--pulse]`;
# `stack_stop` runs from an EXIT trap whatever happens. Every helper that changes the graph
# waits (stack_wait, STACK_WAIT_SEC seconds) until the change shows.

STACK_WAIT_SEC=${STACK_WAIT_SEC:-15}
STACK_PIDS=()

stack_log() { echo "[pwstack] $*" >&2; }

stack_wait() {  # stack_wait CMD... : poll every 50 ms until CMD succeeds or time runs out
  local deadline=$((SECONDS + STACK_WAIT_SEC))
  while ! "$@" >/dev/null 2>&1; do
    if ((SECONDS >= deadline)); then
      stack_log "time-out waiting for: $*"
      return 1
    fi
    sleep 0.05
  done
}

stack_default_sink() {  # the current default.audio.sink's node name
  pw-metadata -n default 0 default.audio.sink 2>/dev/null |
    sed -n "s/.*key:'default.audio.sink' value:'{ *\"name\": *\"\([^\"]*\)\".*/\1/p" | head -n1
}

stack_default_is() { [[ "$(stack_default_sink)" == "$1" ]]; }

stack_node_present() { pw-cli ls Node 2>/dev/null | grep -q "node.name = \"$1\""; }
stack_node_id() {  # stack_node_id NAME : the registry id of the node named NAME
  pw-cli ls Node 2>/dev/null |
    awk -v n="node.name = \"$1\"" '/^\tid /{ id = $2 + 0 } index($0, n) { print id; exit }'
}

stack_add_sink() {  # stack_add_sink NAME DESCRIPTION [POSITIONS] : a null sink, [FL FR] by default
  pw-cli create-node adapter "{ factory.name=support.null-audio-sink node.name=$1 \
      node.description=\"$2\" media.class=Audio/Sink object.linger=true \
      audio.position=${3:-[FL FR]} monitor.channel-volumes=true }" >/dev/null || return 1
  stack_wait stack_node_present "$1"
}
stack_set_default() {  # stack_set_default NAME : the user's choice of default sink
  pw-metadata -n default 0 default.configured.audio.sink "{ \"name\": \"$1\" }" Spa:String:JSON >/dev/null
  stack_wait stack_default_is "$1"
}

stack_spawn() {  # stack_spawn VAR PROGRAM : runs PROGRAM in the background, its pid in VAR
  "$2" >>"$STACK_DIR/$2.log" 2>&1 &
  printf -v "$1" %s "$!"
  STACK_PIDS+=("$!")
}
# (Re)start one session process (pid in STACK_PW_PID, STACK_WP_PID, STACK_PULSE_PID) and wait
# until it serves: the server answering, not its socket file (a killed one may leave it behind).
stack_start_pipewire() { stack_spawn STACK_PW_PID pipewire && stack_wait pw-cli info 0; }
stack_start_wireplumber() { stack_spawn STACK_WP_PID wireplumber && stack_wait pw-metadata -n default 0; }
stack_start_pulse() { stack_spawn STACK_PULSE_PID pipewire-pulse && stack_wait pactl info; }

stack_end() {  # stack_end PID... : SIGTERM, then waits until each has exited
  kill -TERM "$@" 2>/dev/null
  for pid in "$@"; do timeout 10 tail --pid="$pid" -f /dev/null; done
}

stack_stop() {
  local pid
  for ((i = ${#STACK_PIDS[@]} - 1; i >= 0; i--)); do
    pid=${STACK_PIDS[i]}
    kill -TERM "$pid" 2>/dev/null
  done
  for pid in "${STACK_PIDS[@]}"; do
    for _ in $(seq 40); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  STACK_PIDS=()
  if [[ -n "${STACK_DIR:-}" && -d "$STACK_DIR" && -z "${STACK_KEEP:-}" ]]; then
    cd / && rm -rf "$STACK_DIR"
  fi
}

stack_start() {
  local with_wp=1 with_pw=1 with_pulse=0
  for a in "$@"; do
    case $a in
      --no-wireplumber) with_wp=0 ;;
      --no-pipewire) with_pw=0; with_wp=0 ;;
      --pulse) with_pulse=1 ;;
    esac
  done
  STACK_DIR=$(mktemp -d "${TMPDIR:-/tmp}/velmora-e2e.XXXXXX")
  export XDG_RUNTIME_DIR=$STACK_DIR/rt XDG_STATE_HOME=$STACK_DIR/state
  export XDG_CONFIG_HOME=$STACK_DIR/config XDG_DATA_HOME=$STACK_DIR/data
  export DBUS_SESSION_BUS_ADDRESS=unix:path=$XDG_RUNTIME_DIR/bus
  export PIPEWIRE_RUNTIME_DIR=$XDG_RUNTIME_DIR
  unset PIPEWIRE_REMOTE PULSE_SERVER
  mkdir -p "$XDG_RUNTIME_DIR" "$XDG_STATE_HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME"
  chmod 700 "$XDG_RUNTIME_DIR"
  # Core dumps land in the working folder ("core" pattern): keep them with the stack's logs.
  cd "$STACK_DIR" || return 1

  local dbus_pid
  dbus_pid=$(dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --fork --print-pid) || {
    stack_log "dbus-daemon did not start"; return 1; }
  STACK_PIDS+=("$dbus_pid")
  ((with_pw)) || return 0

  stack_start_pipewire || return 1
  ((with_wp)) || return 0
  stack_start_wireplumber || return 1
  if ((with_pulse)); then stack_start_pulse || return 1; fi
  stack_add_sink fake_speakers "Fake Speakers" || return 1
  stack_wait stack_default_is fake_speakers || return 1
  stack_log "stack up in $STACK_DIR"
}
