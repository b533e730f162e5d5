#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Helpers shared by the end-to-end scripts. Expects VELMORA_CLI, WAVCHECK, PW_LATENCY,
# PW_PASSTHROUGH, PW_SLOW_SINK, PW_REBUILD_LOOP in the environment (set by CMake).
source "$(dirname "${BASH_SOURCE[0]}")/pwstack.sh"

E2E_FAILED=0
LIVE_PID=
REC_PIDS=()
PLAY_PIDS=()

ok() { echo "PASS: $*"; }
bad() { echo "FAIL: $*"; E2E_FAILED=1; }
figure() { echo "FIGURE: $*"; }
# expect DESCRIPTION CMD... : PASS/FAIL on the command's status
expect() { local what=$1; shift; if "$@"; then ok "$what"; else bad "$what"; fi; }
# Floating-point comparison through awk: fcmp "A < B"
fcmp() { awk "BEGIN { exit !($1) }"; }
kv() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p" | head -n1; }  # kv KEY < text

e2e_cleanup() {
  local pid
  [[ -n "$LIVE_PID" ]] && kill -TERM "$LIVE_PID" 2>/dev/null
  for pid in "${PLAY_PIDS[@]}" "${REC_PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  [[ -n "$LIVE_PID" ]] && { timeout 5 tail --pid="$LIVE_PID" -f /dev/null 2>/dev/null; kill -KILL "$LIVE_PID" 2>/dev/null; }
  stack_stop
}

e2e_start() {  # e2e_start [stack options]
  trap e2e_cleanup EXIT
  stack_start "$@" || { echo "FAIL: private PipeWire stack did not come up"; exit 1; }
  W=$STACK_DIR/work
  mkdir -p "$W"
}

e2e_finish() {
  if ((E2E_FAILED)); then
    echo "== logs"; tail -n 30 "$W"/*.log 2>/dev/null
    exit 1
  fi
  exit 0
}

sine() {  # sine FILE SECONDS HZ
  [[ -f "$1" ]] || sox -n -r 48000 -c 2 -b 16 "$1" synth "$2" sine "$3" vol 0.8
}

# The two queries below fail when the tool cannot reach the server, so that "nothing left" is
# only ever concluded from an answer.
ours_are() {  # ours_are N : the server lists exactly N nodes of ours
  local list
  list=$(pw-cli ls Node 2>/dev/null) || { echo "pw-cli cannot reach the server" >&2; return 2; }
  (($(grep -c 'node.name = "org.velmora.Velmora' <<<"$list") == $1))
}
routing_is() {  # routing_is yes|no : whether a stream still carries target.object
  local md
  md=$(pw-metadata -n default 2>/dev/null) || { echo "pw-metadata cannot reach the server" >&2; return 2; }
  if grep -q target.object <<<"$md"; then [[ $1 == yes ]]; else [[ $1 == no ]]; fi
}
node_present() { pw-cli ls Node 2>/dev/null | grep -q "node.name = \"$1\""; }
log_has() { grep -q -- "$2" "$1" 2>/dev/null; }

get_status() {  # get_status : prints the HTTP response of GET /status from $ORIGIN
  local req
  printf -v req 'GET /status HTTP/1.1\r\nHost: 127.0.0.1:47432\r\nOrigin: %s\r\nConnection: close\r\n\r\n' "$ORIGIN"
  exec 3<>/dev/tcp/127.0.0.1/47432 || return 1
  # One write: the server judges a request by its first segment.
  cat <<<"$req" >&3
  timeout 5 cat <&3
  exec 3<&-
}
start_live() {  # start_live LOG ARGS... : runs velmora-cli live, waits until it runs; a failed start fails the test
  local log=$1; shift
  : >"$log"
  "$VELMORA_CLI" live "$@" >>"$log" 2>&1 &
  LIVE_PID=$!
  local deadline=$((SECONDS + 20))
  while ! grep -q "Läuft" "$log"; do
    if ! kill -0 "$LIVE_PID" 2>/dev/null || ((SECONDS >= deadline)); then
      bad "velmora-cli live $* did not start:"; cat "$log"; LIVE_PID=; return 1
    fi
    sleep 0.05
  done
}

stop_live() {  # stop_live [SIGNAL] : returns the exit status; anything but SIGKILL must end in status 0
  local sig=${1:-TERM} rc
  kill -"$sig" "$LIVE_PID"
  if ! timeout 10 tail --pid="$LIVE_PID" -f /dev/null; then
    echo "velmora-cli live did not exit after SIG$sig" >&2
    kill -KILL "$LIVE_PID"
  fi
  wait "$LIVE_PID"; rc=$?
  LIVE_PID=
  [[ $sig == KILL ]] || expect "velmora-cli live exits 0 on SIG$sig (status $rc)" test "$rc" -eq 0
  return $rc
}

record() {  # record FILE TARGET : records a sink's monitor in the background
  pw-record --target "$2" -P '{ stream.capture.sink=true node.dont-reconnect=true node.name=e2e-rec }' "$1" &
  REC_PIDS+=("$!")
  local deadline=$((SECONDS + 10))
  until pw-link -l 2>/dev/null | grep -q "e2e-rec"; do
    ((SECONDS >= deadline)) && { echo "recorder not linked" >&2; return 1; }
    sleep 0.05
  done
}

stop_recordings() {
  local pid
  for pid in "${REC_PIDS[@]}"; do kill -INT "$pid" 2>/dev/null; wait "$pid" 2>/dev/null; done
  REC_PIDS=()
}

play_bg() {  # play_bg FILE [pw-play options] : plays in the background
  pw-play "$@" &
  PLAY_PIDS+=("$!")
}

wait_plays() {
  local pid
  for pid in "${PLAY_PIDS[@]}"; do timeout 120 tail --pid="$pid" -f /dev/null; wait "$pid" 2>/dev/null; done
  PLAY_PIDS=()
}

cpu_ticks() {  # cpu_ticks PID : user+system clock ticks so far
  awk '{ print $14 + $15 }' "/proc/$1/stat"
}

cents() {  # cents MEASURED TARGET
  awk -v m="$1" -v t="$2" 'BEGIN { printf "%.3f", 1200 * log(m / t) / log(2) }'
}

abs() { awk -v v="$1" 'BEGIN { printf "%s", (v < 0 ? -v : v) }'; }

# steady_pitch FILE FROM COUNT SECONDS TARGET_HZ LIMIT_CENTS : measures the pitch in COUNT
# windows of SECONDS each from FROM on. One dropout or phase jump on a loaded machine spoils the
# window it falls in but says nothing about the chain, so the verdict uses the median window; a
# fault of the chain (wrong factor, unprocessed audio) shows in every window. Sets PITCH_HZ,
# PITCH_CENTS and PITCH_REF_DB (median window: its frequency, its error, the level at 440 Hz)
# and PITCH_OFF (how many windows miss LIMIT_CENTS or have 440 Hz less than 40 dB down).
steady_pitch() {
  local file=$1 from=$2 count=$3 seconds=$4 target=$5 limit=$6 i out f err ref rows=()
  PITCH_OFF=0
  for ((i = 0; i < count; i++)); do
    out=$("$WAVCHECK" pitch "$file" --from "$(awk -v a="$from" -v i="$i" -v s="$seconds" 'BEGIN { print a + i * s }')" \
      --length "$seconds" --ref 440)
    f=$(kv frequency <<<"$out"); ref=$(kv ref_db <<<"$out"); err=$(cents "${f:-1}" "$target")
    rows+=("$err $f ${ref:-0}")
    fcmp "$(abs "$err") <= $limit && ${ref:-0} < -40" || PITCH_OFF=$((PITCH_OFF + 1))
  done
  read -r PITCH_CENTS PITCH_HZ PITCH_REF_DB < <(printf '%s\n' "${rows[@]}" | sort -g | sed -n "$(((count + 1) / 2))p")
  figure "$(basename "$file") per window of $seconds s (cents Hz 440Hz-dB): $(printf '[%s] ' "${rows[@]}")"
}
