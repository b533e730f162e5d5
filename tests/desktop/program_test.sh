#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The whole tray program on real desktop components nobody here wrote, on one private
# PipeWire stack, the way a new user meets it:
#   trayer   Xvfb + trayer (XEmbed tray)
#   xfce     Xvfb + xfce4-panel (StatusNotifierItem on X11, no window manager)
#   openbox  Xvfb + openbox alone: no tray, like GNOME without its AppIndicator extension
#   sway     headless sway + waybar (Wayland, StatusNotifierItem); sway refuses to run as
#            root, so it runs as an unprivileged user and we connect to its socket
# In each the icon appears (or the window does), the panel opens fully inside the screen's
# free area and closes on a click elsewhere or focus loss, the tooltip read over D-Bus tells
# the true state while the panel is open, and a second launch shows the first one's panel.
# Without a tray, the window's × keeps retuning (a 440 Hz sine measured at 432 Hz); then
# WirePlumber is restarted and retuning must come back; started by the login autostart it
# opens no window.
# Arguments: the scenarios to run (default: every one whose programs are installed).
for tool in Xvfb xdotool xwininfo xprop gdbus dbus-monitor pipewire wireplumber sox; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
source "$(dirname "$0")/../e2e/e2e_lib.sh"
need() { local t; for t; do command -v "$t" >/dev/null || return 1; done; }
scenarios=("$@")
if ((${#scenarios[@]} == 0)); then
  need trayer && scenarios+=(trayer)
  need xfce4-panel && scenarios+=(xfce)
  need openbox && scenarios+=(openbox)
  need sway waybar swaymsg && scenarios+=(sway)
fi
e2e_start
export QT_QUICK_BACKEND=software QT_QUICK_CONTROLS_STYLE=Fusion
ENV_PIDS=()

start_velmora() {  # start_velmora NAME : retuning to 432 Hz from the saved settings
  mkdir -p "$XDG_CONFIG_HOME/Velmora"
  printf '[General]\nenabled=true\neverStarted=true\nmode=preset\npresetID=432\nfreeA4=432\nstatusServer=false\n' \
    >"$XDG_CONFIG_HOME/Velmora/Velmora.conf"
  "$VELMORA" ${VELMORA_ARGS:-} >"$W/$1.log" 2>&1 &
  LIVE_PID=$!
  # Once in a CI run Qt found no X server at the start, although the window manager had just
  # connected and later clients did too: that says nothing about Velmora, so it starts once
  # more (the server's own messages go to xvfb.log).
  if [[ -n ${DISPLAY:-} ]] && ! wait_x_client "$1"; then
    echo "note: $SCN: Velmora could not connect to $DISPLAY; started again" >&2
    "$VELMORA" ${VELMORA_ARGS:-} >"$W/$1.log" 2>&1 &
    LIVE_PID=$!
  fi
  SNI=org.kde.StatusNotifierItem-$LIVE_PID-1
}
wait_x_client() {  # wait_x_client NAME : false if Velmora ended because it found no X server
  local _
  for _ in $(seq 40); do
    kill -0 "$LIVE_PID" 2>/dev/null && ! grep -q . "$W/$1.log" || break
    sleep 0.05
  done
  grep -q 'could not connect to display' "$W/$1.log" || return 0
  wait "$LIVE_PID"
  rm -f "$STACK_DIR/core"  # Qt's own abort without a display, not a crash of ours
  return 1
}
stop_velmora() {
  kill -TERM "$LIVE_PID"; wait "$LIVE_PID"; local rc=$?
  LIVE_PID=
  expect "$SCN: SIGTERM ends with status 0 (got $rc) and no node of ours left" \
         eval "test $rc -eq 0 && ours_are 0"
}
stop_env() {
  local pid
  for pid in "${ENV_PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "${ENV_PIDS[@]}"; do timeout 5 tail --pid="$pid" -f /dev/null 2>/dev/null; kill -KILL "$pid" 2>/dev/null; done
  ENV_PIDS=()
}
trap 'stop_env; e2e_cleanup' EXIT

# ---- D-Bus: our StatusNotifierItem -------------------------------------------------------
sni() {  # sni METHOD ARGS... : calls a method of our item
  gdbus call --session -d "$SNI" -o /StatusNotifierItem -m "org.kde.StatusNotifierItem.$1" "${@:2}" >/dev/null
}
tooltip_says() {
  gdbus call --session -d "$SNI" -o /StatusNotifierItem -m org.freedesktop.DBus.Properties.Get \
    org.kde.StatusNotifierItem ToolTip 2>/dev/null | grep -q -- "$1"
}
watcher_up() { gdbus introspect --session -d org.kde.StatusNotifierWatcher -o / >/dev/null 2>&1; }
registered() {
  gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems \
    2>/dev/null | grep -q "$SNI"
}
# While the panel is open the tray must tell the truth: off, then on again (middle click).
check_tooltip_truth() {
  expect "$SCN: tooltip while the panel is open says retuning" tooltip_says "retuning to 432"
  sni SecondaryActivate 0 0
  STACK_WAIT_SEC=15 stack_wait tooltip_says "Velmora: off"
  expect "$SCN: retuning switched off with the panel open: tooltip says off, no node of ours" \
         eval 'tooltip_says "Velmora: off" && ours_are 0'
  sni SecondaryActivate 0 0
  STACK_WAIT_SEC=20 stack_wait ours_are 2
  expect "$SCN: and on again: tooltip says retuning" tooltip_says "retuning to 432"
}

# ---- the panel, on X11 (xdotool) or on sway (its tree) -----------------------------------
start_x() {  # start_x : a fresh Xvfb, exported as DISPLAY
  local fd=$W/display
  : >"$fd"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fd" 2>>"$W/xvfb.log" &
  ENV_PIDS+=("$!")
  stack_wait test -s "$fd" || return 1
  export DISPLAY=:$(head -n1 "$fd") QT_QPA_PLATFORM=xcb SCREEN_SIZE="1024 768"
}
panel_window() {  # the id of our visible panel (the only window titled Velmora, 320 px wide)
  local id
  for id in $(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null); do
    xdotool getwindowgeometry "$id" | grep -q 'Geometry: 320x' && { echo "$id"; return 0; }
  done
  return 1
}
panel_geometry() {  # "X Y WIDTH HEIGHT FLOATING" of the visible panel
  if [[ -n ${WAYLAND_DISPLAY:-} ]]; then
    swaymsg -t get_tree | python3 -c 'import json, sys
def walk(n, fl):
    if n.get("app_id") == "org.velmora.Velmora" and n.get("visible"):
        r = n["rect"]; print(r["x"], r["y"], n["window_rect"]["width"], r["height"], fl); sys.exit(0)
    for k in ("nodes", "floating_nodes"):
        for c in n.get(k, []): walk(c, int(fl or k == "floating_nodes"))
walk(json.load(sys.stdin), 0); sys.exit(1)'
  else
    local id
    id=$(panel_window) || return 1
    eval "$(xdotool getwindowgeometry --shell "$id")"
    echo "$X $Y $WIDTH $HEIGHT 1"
  fi
}
panel_visible() { panel_geometry >/dev/null; }
panel_hidden() { ! panel_visible; }
panel_inside() {  # panel_inside BAR : a floating 320 px panel inside the screen, below a BAR px bar
  local x y w h f sw sh
  read -r x y w h f < <(panel_geometry) || return 1
  read -r sw sh <<<"$SCREEN_SIZE"
  PANEL_AT="${w}x${h}+${x}+${y}"
  ((f == 1 && w == 320 && x >= 0 && y >= $1 && x + w <= sw && y + h <= sh))
}
click_outside() {  # a click on the empty screen, away from the panel
  local x rest
  read -r x rest < <(panel_geometry) || return 0
  xdotool mousemove $((x > 500 ? 100 : 900)) 600 click 1
}
second_launch_shows() {
  timeout 20 "$VELMORA" >"$W/$SCN-second.log" 2>&1; local rc=$?
  STACK_WAIT_SEC=15 stack_wait panel_visible
  expect "$SCN: a second launch exits 0 (got $rc), the first one runs on and shows its panel" \
         eval "((rc == 0)) && kill -0 $LIVE_PID && panel_visible"
}
# After the icon was activated: the panel inside the free area, the tooltip's truth,
# closing by the command CLOSE..., and a second launch.
tray_checks() {  # tray_checks BAR CLOSE...
  STACK_WAIT_SEC=15 stack_wait panel_visible
  STACK_WAIT_SEC=20 stack_wait ours_are 2
  panel_inside "$1"
  expect "$SCN: activating the icon opens the panel fully below the bar ($PANEL_AT)" panel_inside "$1"
  check_tooltip_truth
  sni Scroll 240 vertical  # two wheel notches up: the free A4 from 432 to 433 Hz
  STACK_WAIT_SEC=10 expect "$SCN: the wheel on the icon steps the free A4 by 0.5 Hz" stack_wait tooltip_says "retuning to 433"
  "${@:2}"
  STACK_WAIT_SEC=15 expect "$SCN: ${*:2} closes it" stack_wait panel_hidden
  [[ -n ${WAYLAND_DISPLAY:-} ]] && swaymsg workspace 1 >/dev/null
  second_launch_shows
  stop_velmora
}

scenario_trayer() {
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
         --transparent true --alpha 0 --tint 0x303030 >/dev/null 2>&1 &
  ENV_PIDS+=("$!")
  stack_wait xdotool search --class trayer
  start_velmora "$SCN"
  icon_geometry() {
    xwininfo -root -tree | awk '/\("velmora" "Velmora"\)/ { split($(NF-1), size, "+"); print size[1] $NF; exit }'
  }
  stack_wait eval '[[ -n "$(icon_geometry)" ]]'
  local g w h x y
  g=$(icon_geometry); IFS='x+' read -r w h x y <<<"$g"
  expect "$SCN: the tray icon appears ($g)" test -n "$g"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
  tray_checks 32 click_outside
}

scenario_xfce() {
  # One 30 px panel at the top holding only the tray (StatusNotifierItem and XEmbed), no WM.
  local conf=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
  mkdir -p "$conf"
  cp "$(dirname "$0")/xfce4-panel.xml" "$conf/"
  xfce4-panel --disable-wm-check >"$W/xfce4-panel.log" 2>&1 &
  ENV_PIDS+=("$!")
  STACK_WAIT_SEC=15 stack_wait watcher_up
  start_velmora "$SCN"
  STACK_WAIT_SEC=15 expect "$SCN: xfce4-panel shows our StatusNotifierItem" stack_wait registered
  # The tray is the only plugin, so our icon is the panel's first.
  eval "$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --class xfce4-panel | head -n1)")"
  # The panel draws the icon a moment after it registered: click until it answers.
  local try
  for try in 1 2 3 4 5; do
    xdotool mousemove $((X + 12)) $((Y + HEIGHT / 2)) click 1
    STACK_WAIT_SEC=3 stack_wait panel_visible 2>/dev/null && break
  done
  tray_checks 30 click_outside
}

scenario_sway() {
  local user=velmora-desktop-test rt
  id "$user" >/dev/null 2>&1 || useradd --system --create-home "$user" 2>/dev/null \
    || { bad "$SCN: no unprivileged user for sway (run as root or create $user)"; return; }
  rt=$(mktemp -d "${TMPDIR:-/tmp}/velmora-sway.XXXXXX")
  chown "$user" "$rt"; chmod 700 "$rt"
  printf 'output HEADLESS-1 resolution 1280x720\nxwayland disable\n' >"$rt/config"
  su "$user" -s /bin/sh -c "exec env -i HOME=$rt XDG_RUNTIME_DIR=$rt WLR_BACKENDS=headless \
      WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman PATH=/usr/bin:/bin sway -c $rt/config" \
      >"$W/sway.log" 2>&1 &
  ENV_PIDS+=("$!")
  STACK_WAIT_SEC=15 stack_wait test -S "$rt/wayland-1" || { bad "$SCN: sway starts"; return; }
  export WAYLAND_DISPLAY=$rt/wayland-1 SWAYSOCK SCREEN_SIZE="1280 720"
  SWAYSOCK=$(ls "$rt"/sway-ipc.*.sock)
  unset DISPLAY QT_QPA_PLATFORM
  mkdir -p "$XDG_CONFIG_HOME/waybar"
  echo '{ "position": "top", "height": 30, "modules-right": ["tray"], "tray": { "icon-size": 22 } }' \
    >"$XDG_CONFIG_HOME/waybar/config"
  waybar >"$W/waybar.log" 2>&1 &
  ENV_PIDS+=("$!")
  STACK_WAIT_SEC=15 stack_wait watcher_up
  start_velmora "$SCN"
  STACK_WAIT_SEC=15 expect "$SCN: waybar shows our StatusNotifierItem" stack_wait registered
  sni Activate 0 0  # what waybar sends on a click (a headless sway has no pointer)
  tray_checks 30 swaymsg workspace 2
  stop_env
  unset WAYLAND_DISPLAY SWAYSOCK
  rm -rf "$rt"
}

plays_at_432() {  # plays_at_432 WHAT : a 440 Hz sine reaches the speakers at 432 Hz
  sine "$W/sine.wav" 4 440
  record_play "$W/rec.wav" fake_speakers "$W/sine.wav"
  steady_pitch "$W/rec.wav" 1 2 1 432 3
  expect "$SCN: $1 (440 Hz sine at $PITCH_HZ Hz)" test "$PITCH_OFF" -le 0
}
# WirePlumber restarts (an update, a crash): retuning must come back by itself. The device
# nodes a session manager made go with it and come back with the new one.
check_wireplumber_restart() {
  stack_end "$STACK_WP_PID"
  pw-cli destroy fake_speakers >/dev/null 2>&1
  stack_start_wireplumber
  stack_add_sink fake_speakers "Fake Speakers"
  STACK_WAIT_SEC=15 stack_wait ours_are 2
  plays_at_432 "after a WirePlumber restart retuning is back"
}

scenario_openbox() {
  openbox >"$W/wm.log" 2>&1 &
  ENV_PIDS+=("$!")
  dbus-monitor "interface='org.freedesktop.Notifications'" >"$W/notify.log" 2>&1 &
  ENV_PIDS+=("$!")
  stack_wait xprop -root _NET_SUPPORTING_WM_CHECK
  start_velmora "$SCN"
  STACK_WAIT_SEC=10 stack_wait panel_visible
  STACK_WAIT_SEC=20 stack_wait ours_are 2
  local id
  id=$(panel_window)
  expect "$SCN: without a tray the window opens, with our icon and the entry's StartupWMClass" \
         eval "xprop -id '$id' _NET_WM_ICON | grep -q 'Icon (' && xprop -id '$id' WM_CLASS | grep -q '\"Velmora\"'"
  local try
  for try in 1 2 3; do  # Alt+F4 is openbox's close, as the title bar's × is
    xdotool windowactivate --sync "$id" key --clearmodifiers alt+F4
    STACK_WAIT_SEC=5 stack_wait panel_hidden 2>/dev/null && break
  done
  STACK_WAIT_SEC=15 stack_wait grep -q 'keeps retuning' "$W/notify.log"
  expect "$SCN: the title bar's × closes the window; the program runs on and says so in a notification" \
         eval "panel_hidden && kill -0 $LIVE_PID && grep -q 'keeps retuning' '$W/notify.log'"
  plays_at_432 "retuning goes on with the window closed"
  second_launch_shows
  xdotool windowminimize --sync "$id"
  second_launch_shows
  expect "$SCN: un-minimised" eval "! xprop -id $id _NET_WM_STATE | grep -q HIDDEN"
  check_wireplumber_restart
  stop_velmora
  # Started by the login autostart: retuning resumes, no window opens.
  VELMORA_ARGS=--autostart start_velmora "$SCN-autostart"
  STACK_WAIT_SEC=20 stack_wait ours_are 2
  expect "$SCN: launched at login it retunes without opening a window" eval "ours_are 2 && panel_hidden"
  stop_velmora
}

for SCN in "${scenarios[@]}"; do
  echo "== $SCN"
  [[ $SCN == sway ]] || start_x || { bad "$SCN: Xvfb starts"; continue; }
  "scenario_$SCN"
  [[ -n "$LIVE_PID" ]] && { kill -TERM "$LIVE_PID"; wait "$LIVE_PID"; LIVE_PID=; }
  stop_env
  rm -rf "$XDG_CONFIG_HOME/Velmora"
done
e2e_finish
