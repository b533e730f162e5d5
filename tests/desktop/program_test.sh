#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The whole tray program under Xvfb with an XEmbed tray host (trayer) on a private PipeWire
# stack: the icon appears, a click opens the panel and a click elsewhere closes it, a second
# launch exits 0 and shows the first one's panel, the settings of a retuning run resume it
# (a played 440 Hz sine reaches the speakers at 432 Hz), and SIGTERM ends the program with
# status 0 and no node of ours left.
for tool in xvfb-run trayer xdotool xwininfo pipewire wireplumber sox; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
if [[ -z "${VELMORA_UNDER_XVFB:-}" ]]; then
  exec env VELMORA_UNDER_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" "$@"
fi
source "$(dirname "$0")/../e2e/e2e_lib.sh"
e2e_start
export QT_QPA_PLATFORM=xcb QT_QUICK_BACKEND=software QT_QUICK_CONTROLS_STYLE=Fusion

# "WxH+X+Y" of our icon inside the tray host.
icon_geometry() {
  xwininfo -root -tree | awk '/\("velmora" "Velmora"\)/ { split($(NF-1), size, "+"); print size[1] $NF; exit }'
}
icon_present() { [[ -n "$(icon_geometry)" ]]; }
panel_visible() {
  local id
  for id in $(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null); do
    xdotool getwindowgeometry "$id" | grep -q 'Geometry: 320x' && return 0
  done
  return 1
}
panel_hidden() { ! panel_visible; }
click_icon() {
  local g w h x y
  g=$(icon_geometry); IFS='x+' read -r w h x y <<<"$g"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
}

# A run that had retuned: the program resumes it at start.
mkdir -p "$XDG_CONFIG_HOME/Velmora"
printf '[General]\nenabled=true\neverStarted=true\nmode=preset\npresetID=432\n' >"$XDG_CONFIG_HOME/Velmora/Velmora.conf"

trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
       --transparent true --alpha 0 --tint 0x303030 >/dev/null 2>&1 &
PLAY_PIDS+=("$!")
stack_wait xdotool search --class trayer || { bad "tray host starts"; e2e_finish; }

"$VELMORA" >"$W/velmora.log" 2>&1 &
LIVE_PID=$!
stack_wait icon_present
expect "the tray icon appears ($(icon_geometry))" icon_present

click_icon
STACK_WAIT_SEC=5 stack_wait panel_visible
expect "a click on the icon opens the panel" panel_visible
xdotool mousemove 300 500 click 1
STACK_WAIT_SEC=5 stack_wait panel_hidden
expect "a click elsewhere closes it" panel_hidden

timeout 20 "$VELMORA" >"$W/second.log" 2>&1; rc=$?
expect "a second launch exits 0 (got $rc)" test "$rc" -eq 0
STACK_WAIT_SEC=5 stack_wait panel_visible
expect "and shows the first one's panel" panel_visible
expect "the first one still runs" kill -0 "$LIVE_PID"

STACK_WAIT_SEC=10 stack_wait ours_are 2
expect "retuning resumes at start" ours_are 2
sine "$W/sine.wav" 5 440
record "$W/speakers.wav" fake_speakers
pw-play "$W/sine.wav"
stop_recordings
steady_pitch "$W/speakers.wav" 1 3 1 432 3
expect "a 440 Hz sine reaches the speakers at 432 Hz ($PITCH_HZ Hz, 440 Hz at $PITCH_REF_DB dB)" \
       test "$PITCH_OFF" -le 1

kill -TERM "$LIVE_PID"; wait "$LIVE_PID"; rc=$?
LIVE_PID=
expect "SIGTERM: exit status 0 (got $rc)" test "$rc" -eq 0
expect "SIGTERM: no node of ours left" ours_are 0
e2e_finish
