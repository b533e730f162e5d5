#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package as a user gets it: `cpack -G DEB` builds velmora_<version>_amd64.deb,
# `apt-get install ./…deb` installs it with its dependencies, GIO accepts the menu entry and
# launches it, both programs start (the tray program on a private PipeWire stack), and the
# package is removed again. Needs root and apt-get; skipped otherwise.
set -u
build=$1
[[ $(id -u) -eq 0 ]] && command -v apt-get >/dev/null && command -v gio >/dev/null \
  || { echo "SKIP: needs root, apt-get and gio"; exit 77; }
dpkg-query -W velmora >/dev/null 2>&1 && { echo "SKIP: a velmora package is installed already"; exit 77; }
source "$(dirname "$0")/../e2e/e2e_lib.sh"
apt() { apt-get -y -qq -o DPkg::Lock::Timeout=120 "$@" >"$W/apt.log" 2>&1; }
removed() { apt remove --purge velmora; }
e2e_start
trap 'removed; e2e_cleanup' EXIT

(cd "$build" && rm -f velmora_*.deb && cpack -G DEB >"$W/cpack.log" 2>&1)
deb=$(ls "$build"/velmora_*_amd64.deb 2>/dev/null)
expect "cpack builds $(basename "${deb:-velmora_?_amd64.deb}")" test -f "$deb"
[[ -f $deb ]] || e2e_finish
expect "dependencies come from dpkg-shlibdeps" eval "dpkg-deb -f '$deb' Depends | grep -q 'libqt6core6 (>='"
expect "apt-get installs it" apt install "$deb"

entry=/usr/share/applications/org.velmora.Velmora.desktop
expect "the entry names the installed program" grep -qx 'Exec=/usr/bin/velmora' "$entry"
expect "velmora-cli starts" eval "velmora-cli presets | grep -q 432"
settings_dir=$XDG_CONFIG_HOME/Velmora
mkdir -p "$settings_dir"
printf '[General]\nstatusServer=false\n' >"$settings_dir/Velmora.conf"
# GIO loads the entry (it refuses one whose program it cannot find) and starts the program.
lock=$XDG_RUNTIME_DIR/org.velmora.Velmora.lock
QT_QPA_PLATFORM=offscreen gio launch "$entry"
STACK_WAIT_SEC=10 stack_wait test -s "$lock"
LIVE_PID=$(head -n1 "$lock" 2>/dev/null)
expect "gio launch starts the tray program from the entry" eval "[[ -n '$LIVE_PID' ]] && kill -0 $LIVE_PID"
kill -TERM "$LIVE_PID" 2>/dev/null
timeout 10 tail --pid="$LIVE_PID" -f /dev/null
LIVE_PID=
expect "apt-get removes it" removed
expect "nothing is left" test ! -e /usr/bin/velmora
trap e2e_cleanup EXIT
e2e_finish
