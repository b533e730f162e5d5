#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# A stream that starts while live runs must not reach the speakers unprocessed before it is
# moved into the chain. Measured for pw-play and for a PulseAudio client (paplay through
# pipewire-pulse), each starting into a running and into an idle (paused) chain. A 4 kHz tone
# retuned to free A4 = 400 Hz lands at 3.64 kHz, far enough apart for 10 ms windows (5 ms
# steps), so every window with 4 kHz counts as unprocessed.
source "$(dirname "$0")/e2e_lib.sh"
command -v paplay >/dev/null || { echo "FAIL: paplay missing (Debian package pulseaudio-utils)"; exit 1; }
e2e_start --pulse
sox -n -r 48000 -c 2 -b 16 "$W/tone.wav" synth 0.5 sine 4000 vol 0.8

start_live "$W/live.log" --a4 400 --no-status-server || e2e_finish
for player in pw-play paplay; do
  record "$W/$player.wav" fake_speakers
  for pause in 0.4 0.4 3.5 3.5; do  # the last two start into a chain paused for idleness
    sleep "$pause"
    "$player" "$W/tone.wav"
  done
  stop_recordings
  leak=$("$WAVCHECK" tone "$W/$player.wav" --hz 4000 --window-ms 10 --above 0.1)
  good=$("$WAVCHECK" tone "$W/$player.wav" --hz 3636.4 --window-ms 10 --above 0.3)
  span=$(awk -v n="$(kv windows_above <<<"$leak")" 'BEGIN { printf "%.1f", n * 5 / 4 }')
  figure "$player: unprocessed about $span ms per stream start (4 starts) [$leak] retuned [$good]"
  expect "$player: retuned audio arrived" test "$(kv windows_above <<<"$good")" -gt 100
  expect "$player: at most one quantum (21.3 ms) unprocessed per start ($span ms)" fcmp "$span <= 21.3"
done
stop_live
e2e_finish
