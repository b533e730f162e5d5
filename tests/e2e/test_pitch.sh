#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A 440 Hz sine played with pw-play reaches the speakers at 432 Hz (preset "432") with every
# engine; 440 Hz is more than 40 dB down. Also measures the CPU use of velmora-cli live while
# retuning 20 s of playback per engine, and while idle.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
PLAY_SECONDS=${PLAY_SECONDS:-20}
sine "$W/sine.wav" "$PLAY_SECONDS" 440
hz=$(getconf CLK_TCK)
cpu_during() {  # cpu_during CMD... : runs CMD; prints live's CPU use meanwhile (per cent) and the seconds
  local t0 s0
  t0=$(cpu_ticks "$LIVE_PID"); s0=$(now)
  "$@" >&2
  awk -v a="$t0" -v b="$(cpu_ticks "$LIVE_PID")" -v s0="$s0" -v s1="$(now)" -v hz="$hz" \
    'BEGIN { printf "%.2f %.1f", 100 * (b - a) / hz / (s1 - s0), s1 - s0 }'
}

for engine in lowLatency balanced highQuality; do
  limit=1
  [[ $engine == lowLatency ]] && limit=2
  start_live "$W/live-$engine.log" --preset 432 --engine "$engine" --no-status-server || continue
  record "$W/$engine.wav" fake_speakers
  read -r cpu took < <(cpu_during pw-play "$W/sine.wav")
  stop_recordings
  stop_live
  steady_pitch "$W/$engine.wav" 3 4 4 432 "$limit"
  f=$PITCH_HZ; ref=$PITCH_REF_DB; err=$PITCH_CENTS
  figure "$engine pitch=${f} Hz error=${err} cents 440Hz=${ref} dB cpu=$(LC_ALL=C printf %.1f "$cpu")% over $took s"
  expect "$engine: 432 Hz within $limit cent(s) (measured $err)" fcmp "$(abs "$err") <= $limit"
  expect "$engine: 440 Hz more than 40 dB down ($ref dB)" fcmp "$ref < -40"
  expect "$engine: at most one window of 4 s off ($PITCH_OFF of 4)" test "$PITCH_OFF" -le 1
done

# Idle: nothing plays, the streams pause after 3 s without a link; the engines not selected are
# built in the background meanwhile (seconds on a loaded machine). Measured over 10 s once a
# 2 s stretch is quiet, at most 30 s after the start.
start_live "$W/live-idle.log" --preset 432 --no-status-server || e2e_finish
started=$SECONDS
sleep 3
until fcmp "$(cpu_during sleep 2 | cut -d' ' -f1) < 2" || ((SECONDS - started > 30)); do :; done
read -r idle _ < <(cpu_during sleep 10)
stop_live
figure "idle cpu=${idle}% over 10 s, from $((SECONDS - started - 10)) s after the start"
expect "idle uses (almost) no CPU" fcmp "$idle < 2"
e2e_finish
