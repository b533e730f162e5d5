#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Which applications are retuned, and tuning kept per output device (free A4 = 400 Hz: 4 kHz
# lands at 3636 Hz, 2 kHz at 1818 Hz, 3 kHz at 2727 Hz, told apart in 10 ms windows).
# 1. Two players at once, each on one channel: "e2e-plain" (left, 4 kHz), left out by
#    --exclude and started after live, must never be heard retuned, not even its first cycle;
#    "e2e-tuned" (right, 2 kHz) is retuned, left out over D-Bus while both play and taken
#    back (gaps measured on its channel); a call (media.role Phone, left, 3 kHz) plays unprocessed.
# 2. Per-device settings: speakers at 400 Hz, headphones "off"; switching the default plays
#    each at its own pitch, the new device never at the old one's.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
stack_add_sink fake_headphones "Fake Headphones"
sox -n -r 48000 -c 1 -b 16 "$W/plain.wav" synth 6.5 sine 4000 vol 0.8 remix 1 0
sox -n -r 48000 -c 1 -b 16 "$W/tuned.wav" synth 9 sine 2000 vol 0.8 remix 0 1
sox -n -r 48000 -c 1 -b 16 "$W/call.wav" synth 1.5 sine 3000 vol 0.8 remix 1 0
sox -n -r 48000 -c 1 -b 16 "$W/tone.wav" synth 9 sine 4000 vol 0.8 remix 1 1
exclude() {  # exclude APP... : the saved list, over D-Bus
  local list; list=$(printf "'%s'," "$@"); list="[${list%,}]"
  gdbus call --session --dest org.velmora.Velmora --object-path /org/velmora/Velmora \
    --method org.freedesktop.DBus.Properties.Set org.velmora.Velmora1 ExcludedApps "<@as $list>" >/dev/null
}
tone() { "$WAVCHECK" tone "$@" --window-ms 10; }  # tone FILE --hz HZ [...]
at_s() { awk -v t="$1" -v r="$REC0" -v m="${2:-0}" 'BEGIN { printf "%.3f", t - r + m }'; }  # at_s TIME [MARGIN]

# ---- 1. applications ----
start_live "$W/live1.log" --a4 400 --exclude e2e-plain --no-status-server || e2e_finish
record "$W/apps.wav" fake_speakers
REC0=$(now)
play_bg -P '{ application.name = e2e-tuned }' "$W/tuned.wav"
sleep 1.5  # claimed: the session manager now remembers the tap for pw-play's role
play_bg -P '{ application.name = e2e-plain }' "$W/plain.wav"
sleep 2
t_out=$(now); exclude e2e-tuned
sleep 1.5
t_in=$(now); exclude
sleep 1.5
pw-play --media-role Phone -P '{ application.name = e2e-call }' "$W/call.wav"
wait_plays
stop_recordings

leak=$(tone "$W/apps.wav" --hz 3636.4 --above 0.1)
plain=$(tone "$W/apps.wav" --hz 4000 --above 0.3)
figure "excluded app: retuned [$leak] unprocessed [$plain]"
expect "excluded app started after live never retuned" test "$(kv windows_above <<<"$leak")" -eq 0
expect "excluded app heard unprocessed" test "$(kv windows_above <<<"$plain")" -gt 500
call=$(tone "$W/apps.wav" --hz 2727.3 --above 0.1)
callplain=$(tone "$W/apps.wav" --hz 3000 --above 0.3)
figure "call: retuned [$call] unprocessed [$callplain]"
expect "call never retuned" test "$(kv windows_above <<<"$call")" -eq 0
expect "call heard unprocessed" test "$(kv windows_above <<<"$callplain")" -gt 200
# The right channel: retuned, then unprocessed while left out, then retuned again.
out=$(at_s "$t_out") in=$(at_s "$t_in")
during=$(tone "$W/apps.wav" --channel 1 --hz 2000 --above 0.3 --from "$(at_s "$t_out" 0.3)" --to "$in")
after=$(tone "$W/apps.wav" --channel 1 --hz 1818.2 --above 0.3 --from "$in")
before=$(tone "$W/apps.wav" --channel 1 --hz 1818.2 --above 0.3 --to "$out")
figure "toggled app: retuned before [$before] unprocessed while left out [$during] retuned after [$after]"
expect "toggled app retuned before" test "$(kv windows_above <<<"$before")" -gt 200
expect "toggled app unprocessed while left out" test "$(kv windows_above <<<"$during")" -gt 150
expect "toggled app retuned again" test "$(kv windows_above <<<"$after")" -gt 200
for ch in 0 1; do
  g=$("$WAVCHECK" gaps "$W/apps.wav" --channel $ch --min-ms 5)
  figure "channel $ch (toggle at ${out}s and ${in}s): $g"
  expect "channel $ch: no gap over 100 ms" fcmp "$(kv longest_ms <<<"$g") <= 100"
done
stop_live

# ---- 2. per device ----
device() {  # device MODE PRESET A4 : one device's tuning as JSON
  printf '\\"%s\\":{\\"mode\\":\\"%s\\",\\"presetID\\":\\"%s\\",\\"freeA4\\":%s,\\"engine\\":0,\\"automatic\\":false,\\"enabled\\":true}' "$@"
}
mkdir -p "$XDG_CONFIG_HOME/Velmora"
printf '[General]\nrememberPerDevice=true\ndeviceChoices="{%s,%s}"\n' \
  "$(device fake_speakers freeA4 432 400)" "$(device fake_headphones preset off 440)" >"$XDG_CONFIG_HOME/Velmora/Velmora.conf"
start_live "$W/live2.log" --no-status-server || e2e_finish
rec_start "$W/devices.wav"  # both devices in one recording: the gap at each switch
rec_tap fake_speakers && rec_tap fake_headphones
record "$W/speakers.wav" fake_speakers
record "$W/headphones.wav" fake_headphones
REC0=$(now)
play_bg "$W/tone.wav"
sleep 4  # the engines not selected are usually built by now: a switch waits behind that work
t_hp=$(now)
pw-metadata -n default 0 default.configured.audio.sink '{ "name": "fake_headphones" }' Spa:String:JSON >/dev/null
sleep 2.5
t_sp=$(now)
pw-metadata -n default 0 default.configured.audio.sink '{ "name": "fake_speakers" }' Spa:String:JSON >/dev/null
wait_plays
stop_recordings
stop_live
# Until the switch back: from then on the headphones, now the old device, may hear the new
# tuning for the moment until the output has moved.
hp_old=$(tone "$W/headphones.wav" --hz 3636.4 --above 0.1 --to "$(at_s "$t_sp")")
hp_own=$(tone "$W/headphones.wav" --hz 4000 --above 0.3)
sp_own=$(tone "$W/speakers.wav" --hz 3636.4 --above 0.3 --from "$(at_s "$t_sp")")
sp_old=$(tone "$W/speakers.wav" --hz 4000 --above 0.1 --from "$(at_s "$t_sp")")
figure "headphones (off): old pitch [$hp_old] own [$hp_own]"
figure "speakers (400 Hz) after the switch back: own [$sp_own] old pitch [$sp_old]"
expect "headphones never at the speakers' pitch" test "$(kv windows_above <<<"$hp_old")" -eq 0
expect "headphones at their own pitch" test "$(kv windows_above <<<"$hp_own")" -gt 200
expect "speakers at their own pitch again" test "$(kv windows_above <<<"$sp_own")" -gt 100
expect "speakers never at the headphones' pitch after the switch back" test "$(kv windows_above <<<"$sp_old")" -eq 0
first=$(kv first_s <<<"$hp_own")
figure "headphones' own pitch $(awk -v f="$first" -v t="$t_hp" -v r="$REC0" 'BEGIN { printf "%.3f", f - (t - r) }') s after the switch"
g=$("$WAVCHECK" gaps "$W/devices.wav" --min-ms 5)
figure "both devices, two switches: $g"
expect "no gap over 100 ms at the switches" fcmp "$(kv longest_ms <<<"$g") <= 100"
e2e_finish
