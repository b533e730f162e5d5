#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# CPU of velmora-cli live against EasyEffects' pitch plugin (Debian package easyeffects), side by side on one
# private PipeWire stack, each retuning the same playback 440 -> 432 Hz (the peer at -32 cents), at two
# quantums. Rounds alternate between the two, so a loaded machine weighs on both alike.
#   bench/peer_side_by_side.sh [[LABEL=]VELMORA_CLI...]   (env: SECONDS_PER_RUN=20 ROUNDS=2 QUANTUMS="256 2048")
# Several builds (e.g. before=old/velmora-cli after=new/velmora-cli) take turns in the same rounds.
# Per run: the process' CPU (user + system) over the playback, in % of one core, and the time its
# pitch node spends in its process call per cycle (pw-profiler), in % of the cycle's period.
set -u
here=$(cd "$(dirname "$0")" && pwd)
CLIS=("$@")
((${#CLIS[@]})) || CLIS=("velmora=$here/../build/cli/velmora-cli")
RUN_S=${SECONDS_PER_RUN:-20} ROUNDS=${ROUNDS:-2} QUANTUMS=${QUANTUMS:-"256 2048"}
for tool in easyeffects Xvfb sox pw-profiler; do
  command -v "$tool" >/dev/null || { echo "needs $tool (apt-get install easyeffects xvfb sox pipewire-bin)" >&2; exit 2; }
done
for i in "${!CLIS[@]}"; do  # absolute paths: the stack works in a folder of its own
  c=${CLIS[i]} path=${CLIS[i]#*=}
  [[ -x $path ]] || { echo "velmora-cli not found at $path" >&2; exit 2; }
  [[ $c == *=* ]] && CLIS[i]="${c%%=*}=$(realpath "$path")" || CLIS[i]=$(realpath "$path")
done
source "$here/../tests/e2e/pwstack.sh"
trap stack_stop EXIT
stack_start || exit 1
Xvfb :97 -nolisten tcp >/dev/null 2>&1 &
STACK_PIDS+=($!)
export DISPLAY=:97 GSETTINGS_BACKEND=memory
hz=$(getconf CLK_TCK)
music=$STACK_DIR/music.wav
# Three harmonics of 440 Hz and a chord under pink noise: steady work for any phase vocoder.
sox -n -r 48000 -c 2 -b 16 "$music" synth "$((RUN_S + 4))" sine 440 sine 880 sine 1320 sine 554.37 sine 659.26 pinknoise \
  remix 1,2,3,4,5,6 1,2,3,4,5,6 vol 0.12 2>/dev/null

ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# busy_pct NODE : time in the process call of the nodes whose name starts with NODE, summed, as a
# mean share of the cycle's period. pw-profiler names its followers in the order of their columns:
# column 1 is the period, a follower's duration is column 10 + 8 * its index (all in microseconds).
busy_pct() {
  local cols
  cols=$(grep -o 'logging follower [0-9]* ("[^"]*")' "$STACK_DIR/profiler.out" |
    awk -v node="$1" '{ name = $4; gsub(/[("")]/, "", name) } index(name, node) == 1 { printf "%d ", 10 + 8 * (NR - 1) }')
  [[ -n $cols ]] || { printf "n/a"; return; }
  awk -v cols="$cols" 'BEGIN { n = split(cols, c, " ") }
    $1 > 0 { p += $1; for (i = 1; i <= n; i++) if ($(c[i]) > 0) d += $(c[i]); k++ }
    END { if (k) printf "%.2f", 100 * d / p; else printf "n/a" }' "$STACK_DIR/profiler.log"
}
measure() {  # measure LABEL PID NODE : plays the music, prints one figure line
  local t0 s0 t1 s1 prof=$STACK_DIR/profiler.log
  rm -f "$prof"
  pw-play "$music" & local play=$!
  sleep 2
  (cd "$STACK_DIR" && exec pw-profiler -o "$prof" >"$STACK_DIR/profiler.out" 2>&1) & local profiler=$!
  t0=$(ticks "$2"); s0=$(date +%s.%N)
  sleep "$RUN_S"
  t1=$(ticks "$2"); s1=$(date +%s.%N)
  kill -INT "$profiler"; wait "$profiler" 2>/dev/null
  kill "$play" 2>/dev/null; wait "$play" 2>/dev/null
  printf "%-34s q=%-5s cpu=%6s %%  node busy=%6s %% of the period\n" "$1" "$q" \
    "$(awk -v a="$t0" -v b="$t1" -v s0="$s0" -v s1="$s1" -v hz="$hz" 'BEGIN { printf "%.1f", 100 * (b - a) / hz / (s1 - s0) }')" \
    "$(busy_pct "$3")"
}
ours() {  # ours LABEL=CLI ENGINE
  local log=$STACK_DIR/live.log label=${1%%=*}
  [[ $1 == *=* ]] || label=velmora
  "${1#*=}" live --preset 432 --engine "$2" --no-status-server >"$log" 2>&1 & local pid=$!
  for _ in $(seq 200); do grep -q "^Läuft:\|^Running:" "$log" && break; sleep 0.05; done
  kill -0 "$pid" 2>/dev/null || { echo "live did not start:" >&2; cat "$log" >&2; return; }
  sleep 3  # the other engines are built in the background
  measure "$label $2" "$pid" "org.velmora.Velmora"
  kill -TERM "$pid"; wait "$pid" 2>/dev/null
}
peer() {  # peer MODE
  mkdir -p "$XDG_CONFIG_HOME/easyeffects/output"
  cat >"$XDG_CONFIG_HOME/easyeffects/output/velmora-bench.json" <<J
{ "output": { "blocklist": [], "plugins_order": ["pitch#0"],
  "pitch#0": { "bypass": false, "input-gain": 0.0, "output-gain": 0.0, "cents": -32, "semitones": 0,
    "octaves": 0, "mode": "$1", "formant": "Shifted", "transients": "Crisp", "detector": "Compound",
    "phase": "Laminar" } } }
J
  easyeffects --gapplication-service >"$STACK_DIR/easyeffects.log" 2>&1 & local pid=$!
  stack_wait stack_node_present ee_soe_output_level || { echo "EasyEffects did not start" >&2; return; }
  easyeffects -l velmora-bench
  stack_wait stack_node_present ee_soe_pitch
  sleep 3
  measure "EasyEffects pitch $1" "$pid" "ee_soe_pitch"
  easyeffects -q; timeout 10 tail --pid="$pid" -f /dev/null; kill -KILL "$pid" 2>/dev/null; wait "$pid" 2>/dev/null
}
for q in $QUANTUMS; do
  pw-metadata -n settings 0 clock.force-quantum "$q" >/dev/null
  for _ in $(seq "$ROUNDS"); do
    for c in "${CLIS[@]}"; do ours "$c" balanced; done
    peer HighSpeed
    for c in "${CLIS[@]}"; do ours "$c" highQuality; done
    peer HighQuality
  done
done
