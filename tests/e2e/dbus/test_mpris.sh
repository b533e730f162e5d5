#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Fresh detection per track: with automatic correction on, a media player on the private bus
# moves from a recording tuned to 440 Hz to one tuned to 432 Hz and says so over MPRIS. The
# detected A4 reaches 432 Hz within the new track's first seconds. The same change without the
# announcement is measured too, for comparison (FIGURE lines). Also counts PropertiesChanged.
source "$(dirname "$0")/../e2e_lib.sh"
e2e_start
# A major chord over three octaves (A, C#, E), tuned to A4 = $2.
chord() {  # chord FILE A4 SECONDS
  local f=$(awk -v a="$2" 'BEGIN { for (s = -12; s <= 12; s += 12) for (i = 0; i < 3; i++)
    printf "sine %.3f ", a * 2 ^ ((s + (i == 0 ? 0 : i == 1 ? 4 : 7)) / 12) }')
  [[ -f "$1" ]] || sox -n -r 48000 -c 2 -b 16 "$1" synth "$3" $f vol 0.12
}
chord "$W/a440.wav" 440 40
chord "$W/a432.wav" 432 40
detected() { "$VELMORA_CLI" status --json | python3 -c '
import json, sys; s = json.load(sys.stdin); print("%.2f %.2f" % (s["DetectedA4"], s["Confidence"]))'; }
# near HZ : the detection is confident and within 1 Hz of HZ
near() { read -r a4 conf < <(detected); fcmp "$conf >= 0.35 && $a4 > $1 - 1 && $a4 < $1 + 1"; }

coproc PLAYER { "$FAKE_MPRIS_PLAYER"; }
read -r -t 10 line <&"${PLAYER[0]}"; [[ $line == ready ]] || { bad "fake player did not start"; e2e_finish; }
start_live "$W/live.log" --a4 440 --auto --no-status-server || e2e_finish

# switch ANNOUNCE : plays 440 until detected, then 432 (announced as a new track when ANNOUNCE
# is yes); sets TOOK to the milliseconds until 432 Hz is detected (0: not within 20 s).
switch() {
  play_bg "$W/a440.wav"
  STACK_WAIT_SEC=30 stack_wait near 440 || { bad "440 Hz not detected"; return 1; }
  if [[ $1 == yes ]]; then # meanwhile: the fast readouts reach the bus at most ten times a second
    timeout 5 gdbus monitor --session --dest org.velmora.Velmora >"$W/monitor.log" 2>&1
    local n=$(grep -c 'PropertiesChanged' "$W/monitor.log")
    figure "PropertiesChanged signals in 5 s of detection: $n"
    expect "PropertiesChanged at most ten a second ($n in 5 s)" test "$n" -ge 5 -a "$n" -le 51
  else
    sleep 5 # a long first track: the running estimate is settled
  fi
  [[ $1 == yes ]] && { echo "1 Kammerton 432" >&"${PLAYER[1]}"; read -r -t 5 line <&"${PLAYER[0]}"; }
  stop_plays
  local t0=$(now_ms)
  play_bg "$W/a432.wav"
  if STACK_WAIT_SEC=20 stack_wait near 432; then TOOK=$(($(now_ms) - t0)); else TOOK=0; fi
  stop_plays
}

echo "0 Kammerton 440" >&"${PLAYER[1]}"; read -r -t 5 line <&"${PLAYER[0]}"
switch yes
announced=$TOOK
figure "announced track change: 432 Hz detected after ${announced} ms (0: not within 20 s)"
expect "announced: the detection follows within 8 s" test "$announced" -gt 0 -a "$announced" -le 8000
expect "the followed player is named in the log" log_has "$W/live.log" "velmora_e2e"
switch no
figure "unannounced change: 432 Hz detected after ${TOOK} ms (0: not within 20 s)"
stop_live
e2e_finish
