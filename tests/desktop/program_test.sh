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
# WirePlumber is restarted and retuning must come back. Screenshots land in $SHOTS.
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
  need sway waybar grim swaymsg && scenarios+=(sway)
fi
e2e_start
export QT_QUICK_BACKEND=software QT_QUICK_CONTROLS_STYLE=Fusion
SHOTS=${SHOTS:-$W/screenshots}
mkdir -p "$SHOTS"
ENV_PIDS=()

# Every run starts retuning to 432 Hz from the saved settings.
settings() {
  mkdir -p "$XDG_CONFIG_HOME/Velmora"
  printf '[General]\nenabled=true\neverStarted=true\nmode=preset\npresetID=432\nstatusServer=false\n' \
    >"$XDG_CONFIG_HOME/Velmora/Velmora.conf"
}
start_velmora() {  # start_velmora NAME
  settings
  "$VELMORA" >"$W/$1.log" 2>&1 &
  LIVE_PID=$!
  SNI=org.kde.StatusNotifierItem-$LIVE_PID-1
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
tooltip() {
  gdbus call --session -d "$SNI" -o /StatusNotifierItem -m org.freedesktop.DBus.Properties.Get \
    org.kde.StatusNotifierItem ToolTip 2>/dev/null
}
tooltip_says() { tooltip | grep -q -- "$1"; }
watcher_up() {
  gdbus call --session -d org.freedesktop.DBus -o / -m org.freedesktop.DBus.NameHasOwner \
    org.kde.StatusNotifierWatcher 2>/dev/null | grep -q true
}
registered() {
  gdbus call --session -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
    -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher RegisteredStatusNotifierItems \
    2>/dev/null | grep -q "$SNI"
}
# While the panel is open the tray must tell the truth: off, then on again (middle click).
check_tooltip_truth() {
  expect "$SCN: tooltip while the panel is open says retuning" tooltip_says "retuning to 432"
  sni SecondaryActivate 0 0
  STACK_WAIT_SEC=5 stack_wait tooltip_says "Velmora: off"
  expect "$SCN: retuning switched off with the panel open: tooltip says off, no node of ours" \
         eval 'tooltip_says "Velmora: off" && ours_are 0'
  sni SecondaryActivate 0 0
  STACK_WAIT_SEC=10 stack_wait ours_are 2
  expect "$SCN: and on again: tooltip says retuning" tooltip_says "retuning to 432"
}

# ---- X11 -------------------------------------------------------------------------------
start_x() {  # start_x : a fresh Xvfb, exported as DISPLAY
  local fd=$W/display
  : >"$fd"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fd" 2>/dev/null &
  ENV_PIDS+=("$!")
  stack_wait test -s "$fd" || return 1
  export DISPLAY=:$(head -n1 "$fd")
  export QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY
}
panel_window() {  # the id of our visible panel (the only window titled Velmora, 320 px wide)
  local id
  for id in $(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null); do
    xdotool getwindowgeometry "$id" | grep -q 'Geometry: 320x' && { echo "$id"; return 0; }
  done
  return 1
}
panel_visible() { panel_window >/dev/null; }
panel_hidden() { ! panel_visible; }
# Inside the screen and below a bar of $1 px at the top.
panel_inside_x() {
  local id x y w h
  id=$(panel_window) || return 1
  eval "$(xdotool getwindowgeometry --shell "$id")"
  x=$X y=$Y w=$WIDTH h=$HEIGHT
  PANEL_AT="${w}x${h}+${x}+${y}"
  ((x >= 0 && y >= $1 && x + w <= 1024 && y + h <= 768))
}
click_outside() {  # a click on the empty screen, away from the panel
  local id
  id=$(panel_window) || return 0
  eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove $((X > 500 ? 100 : 900)) 600 click 1
}
shot() { "$GRAB" "$SHOTS/$1.png" 2>/dev/null; }
second_launch_shows() {
  timeout 20 "$VELMORA" >"$W/$SCN-second.log" 2>&1; local rc=$?
  expect "$SCN: a second launch exits 0 (got $rc)" test "$rc" -eq 0
  STACK_WAIT_SEC=5 stack_wait panel_visible
  expect "$SCN: and shows the first one's panel" panel_visible
  expect "$SCN: the first one still runs" kill -0 "$LIVE_PID"
}

scenario_trayer() {
  trayer --edge top --align right --widthtype request --height 32 --SetDockType true \
         --transparent true --alpha 0 --tint 0x303030 >/dev/null 2>&1 &
  ENV_PIDS+=("$!")
  stack_wait xdotool search --class trayer || { bad "$SCN: tray host starts"; return; }
  start_velmora "$SCN"
  icon_geometry() {
    xwininfo -root -tree | awk '/\("velmora" "Velmora"\)/ { split($(NF-1), size, "+"); print size[1] $NF; exit }'
  }
  stack_wait eval '[[ -n "$(icon_geometry)" ]]'
  local g w h x y
  g=$(icon_geometry); IFS='x+' read -r w h x y <<<"$g"
  expect "$SCN: the tray icon appears ($g)" test -n "$g"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
  STACK_WAIT_SEC=5 stack_wait panel_visible
  panel_inside_x 32
  expect "$SCN: a click on the icon opens the panel below the bar ($PANEL_AT)" panel_inside_x 32
  STACK_WAIT_SEC=10 stack_wait ours_are 2
  check_tooltip_truth
  shot "$SCN-panel"
  click_outside
  STACK_WAIT_SEC=5 stack_wait panel_hidden
  expect "$SCN: a click elsewhere closes it" panel_hidden
  second_launch_shows
  stop_velmora
}

scenario_xfce() {
  # One panel at the top holding only the tray (StatusNotifierItem and XEmbed), no WM.
  local conf=$XDG_CONFIG_HOME/xfce4/xfconf/xfce-perchannel-xml
  mkdir -p "$conf"
  cat >"$conf/xfce4-panel.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="30"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray"/>
  </property>
</channel>
EOF
  xfce4-panel --disable-wm-check >"$W/xfce4-panel.log" 2>&1 &
  ENV_PIDS+=("$!")
  STACK_WAIT_SEC=15 stack_wait watcher_up
  start_velmora "$SCN"
  STACK_WAIT_SEC=15 stack_wait registered
  expect "$SCN: xfce4-panel shows our StatusNotifierItem" registered
  STACK_WAIT_SEC=10 stack_wait ours_are 2
  shot "$SCN-icon"
  # The tray is the only plugin, so our icon is the panel's first.
  local id
  id=$(xdotool search --onlyvisible --class xfce4-panel | head -n1)
  eval "$(xdotool getwindowgeometry --shell "$id")"
  xdotool mousemove $((X + 12)) $((Y + HEIGHT / 2)) click 1
  STACK_WAIT_SEC=5 stack_wait panel_visible
  panel_inside_x 30
  expect "$SCN: a click on the icon opens the panel below the bar ($PANEL_AT)" panel_inside_x 30
  check_tooltip_truth
  shot "$SCN-panel"
  click_outside
  STACK_WAIT_SEC=5 stack_wait panel_hidden
  expect "$SCN: a click elsewhere closes it" panel_hidden
  second_launch_shows
  stop_velmora
}

# WirePlumber restarts (an update, a crash): retuning must come back by itself.
check_wireplumber_restart() {
  local i wp=
  for i in "${!STACK_PIDS[@]}"; do  # our stack's own wireplumber, never another one
    [[ $(cat "/proc/${STACK_PIDS[i]}/comm" 2>/dev/null) == wireplumber ]] && { wp=${STACK_PIDS[i]}; unset 'STACK_PIDS[i]'; }
  done
  [[ -n $wp ]] || { bad "$SCN: the stack's wireplumber is running"; return; }
  kill -TERM "$wp"; timeout 5 tail --pid="$wp" -f /dev/null
  # The device nodes a session manager made go with it and come back with the new one.
  pw-cli destroy fake_speakers >/dev/null 2>&1
  wireplumber >"$W/wireplumber2.log" 2>&1 &
  STACK_PIDS+=("$!")
  stack_wait pw-metadata -n default 0
  stack_add_sink fake_speakers "Fake Speakers"
  STACK_WAIT_SEC=15 stack_wait stack_default_is fake_speakers
  STACK_WAIT_SEC=15 stack_wait ours_are 2
  record "$W/after_wp.wav" fake_speakers
  timeout 15 pw-play "$W/sine.wav"
  stop_recordings
  steady_pitch "$W/after_wp.wav" 1 2 1 432 3
  expect "$SCN: after a WirePlumber restart retuning is back (440 Hz sine at $PITCH_HZ Hz)" test "$PITCH_OFF" -le 0
}

scenario_openbox() {
  openbox >"$W/openbox.log" 2>&1 &
  ENV_PIDS+=("$!")
  stack_wait xprop -root _NET_SUPPORTING_WM_CHECK
  dbus-monitor "interface='org.freedesktop.Notifications'" >"$W/notify.log" 2>&1 &
  ENV_PIDS+=("$!")
  start_velmora "$SCN"
  STACK_WAIT_SEC=10 stack_wait panel_visible
  expect "$SCN: without a tray the window opens" panel_visible
  STACK_WAIT_SEC=10 stack_wait ours_are 2
  local id
  id=$(panel_window)
  expect "$SCN: the window has our icon" eval "xprop -id $id _NET_WM_ICON | grep -q 'Icon ('"
  shot "$SCN-window"
  xdotool windowactivate --sync "$id" key --clearmodifiers alt+F4
  STACK_WAIT_SEC=5 stack_wait panel_hidden
  expect "$SCN: the title bar's × closes the window" panel_hidden
  expect "$SCN: the program keeps running" kill -0 "$LIVE_PID"
  STACK_WAIT_SEC=5 stack_wait grep -q 'keeps retuning' "$W/notify.log"
  expect "$SCN: and says so in a desktop notification" grep -q 'keeps retuning' "$W/notify.log"
  sine "$W/sine.wav" 4 440
  record "$W/closed.wav" fake_speakers
  timeout 15 pw-play "$W/sine.wav"
  stop_recordings
  steady_pitch "$W/closed.wav" 1 2 1 432 3
  expect "$SCN: retuning goes on with the window closed (440 Hz sine at $PITCH_HZ Hz)" test "$PITCH_OFF" -le 0
  second_launch_shows
  id=$(panel_window)
  xdotool windowminimize --sync "$id"
  second_launch_shows
  expect "$SCN: un-minimised" eval "! xprop -id $id _NET_WM_STATE | grep -q HIDDEN"
  shot "$SCN-back"

  check_wireplumber_restart
  stop_velmora
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
  export WAYLAND_DISPLAY=$rt/wayland-1 SWAYSOCK
  SWAYSOCK=$(ls "$rt"/sway-ipc.*.sock)
  unset DISPLAY QT_QPA_PLATFORM
  mkdir -p "$XDG_CONFIG_HOME/waybar"
  echo '{ "position": "top", "height": 30, "modules-right": ["tray"], "tray": { "icon-size": 22 } }' \
    >"$XDG_CONFIG_HOME/waybar/config"
  waybar >"$W/waybar.log" 2>&1 &
  ENV_PIDS+=("$!")
  STACK_WAIT_SEC=15 stack_wait watcher_up
  start_velmora "$SCN"
  STACK_WAIT_SEC=15 stack_wait registered
  expect "$SCN: waybar shows our StatusNotifierItem" registered
  STACK_WAIT_SEC=10 stack_wait ours_are 2
  panel_node() { swaymsg -t get_tree | python3 -c '
import json, sys
def walk(n, floating=False):
    if n.get("app_id") == "org.velmora.Velmora" and n.get("visible"):
        r = n["rect"]; print(int(floating), r["x"], r["y"], n["window_rect"]["width"], r["height"]); sys.exit(0)
    for k in ("nodes", "floating_nodes"):
        for c in n.get(k, []): walk(c, floating or k == "floating_nodes")
walk(json.load(sys.stdin)); sys.exit(1)'; }
  sway_panel_visible() { panel_node >/dev/null; }
  sway_panel_hidden() { ! panel_node >/dev/null; }
  sni Activate 0 0
  STACK_WAIT_SEC=5 stack_wait sway_panel_visible
  swaymsg -t get_tree >"$W/sway-tree.json"
  local f x y w h
  read -r f x y w h < <(panel_node)
  expect "$SCN: activating the icon opens the panel floating, fully below the bar (${w}x${h}+$x+$y)" \
         eval "((f == 1 && w == 320 && x >= 0 && y >= 30 && x + w <= 1280 && y + h <= 720))"
  check_tooltip_truth
  WAYLAND_DISPLAY=$rt/wayland-1 grim "$SHOTS/$SCN-panel.png"
  swaymsg workspace 2 >/dev/null
  STACK_WAIT_SEC=5 stack_wait sway_panel_hidden
  expect "$SCN: losing the focus closes it" sway_panel_hidden
  swaymsg workspace 1 >/dev/null
  timeout 20 "$VELMORA" >"$W/$SCN-second.log" 2>&1; local rc=$?
  STACK_WAIT_SEC=5 stack_wait sway_panel_visible
  expect "$SCN: a second launch exits 0 (got $rc) and shows the panel" eval "((rc == 0)) && sway_panel_visible"
  stop_velmora
  unset WAYLAND_DISPLAY SWAYSOCK
  stop_env
  rm -rf "$rt"
}

for SCN in "${scenarios[@]}"; do
  echo "== $SCN"
  [[ $SCN == sway ]] || start_x || { bad "$SCN: Xvfb starts"; continue; }
  "scenario_$SCN"
  [[ -n "$LIVE_PID" ]] && { kill -TERM "$LIVE_PID"; wait "$LIVE_PID"; LIVE_PID=; }
  stop_env
  rm -rf "$XDG_CONFIG_HOME/Velmora"
done
echo "screenshots in $SHOTS"
e2e_finish
