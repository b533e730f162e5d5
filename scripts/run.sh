#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the dependencies, builds Velmora and starts it: the tray program when a display is
# there, otherwise `velmora-cli live` retuning everything this computer plays (arguments go to
# `velmora-cli live`, default --preset 432; stop with Ctrl-C).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target velmora-cli velmora

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  program=("$PWD/build/desktop/velmora")
else
  [ $# -gt 0 ] || set -- --preset 432
  program=("$PWD/build/cli/velmora-cli" live "$@")
fi
# PipeWire runs in the user's session, not root's: under sudo, run as the calling user.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  uid=$(id -u "$SUDO_USER")
  session=(XDG_RUNTIME_DIR="/run/user/$uid" DBUS_SESSION_BUS_ADDRESS="unix:path=/run/user/$uid/bus")
  for var in DISPLAY WAYLAND_DISPLAY XAUTHORITY; do
    [ -n "${!var:-}" ] && session+=("$var=${!var}")
  done
  exec sudo -u "$SUDO_USER" env "${session[@]}" "${program[@]}"
fi
exec "${program[@]}"
