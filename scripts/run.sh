#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the dependencies, builds Velmora and starts it retuning everything this computer
# plays. Arguments go to `velmora-cli live` (default: --preset 432). Stop with Ctrl-C.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target velmora-cli velmora

[ $# -gt 0 ] || set -- --preset 432
cli="$PWD/build/cli/velmora-cli"
# PipeWire runs in the user's session, not root's: under sudo, play as the calling user.
if [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ]; then
  uid=$(id -u "$SUDO_USER")
  exec sudo -u "$SUDO_USER" env XDG_RUNTIME_DIR="/run/user/$uid" \
       DBUS_SESSION_BUS_ADDRESS="unix:path=/run/user/$uid/bus" "$cli" live "$@"
fi
exec "$cli" live "$@"
