#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs every build, run and test dependency from Debian's packages.
# Idempotent: does nothing (and prints nothing) when everything is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git clang
  libpipewire-0.3-dev pipewire pipewire-bin pipewire-pulse wireplumber dbus dbus-daemon dbus-bin
  librubberband-dev libfftw3-dev libsndfile1-dev
  qt6-base-dev qt6-declarative-dev qt6-svg-dev qt6-l10n-tools qt6-tools-dev
  qml6-module-qtquick qml6-module-qtquick-controls qml6-module-qtquick-templates
  qml6-module-qtquick-layouts qml6-module-qtquick-window qml6-module-qtqml-workerscript
  qml6-module-qttest
  fonts-dejavu-core xvfb xauth
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  sox python3 curl pulseaudio-utils
  fluidsynth fluid-soundfont-gm timgm6mb-soundfont espeak-ng libsox-fmt-mp3
  chromium chromium-driver
  desktop-file-utils appstream trayer xdotool x11-utils
  qt6-wayland dpkg-dev libglib2.0-bin
  sway waybar grim xfce4-panel openbox
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q '^install ok installed$'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# chromium is only needed by the browser test, which skips without it: never let it block the rest.
core=()
for p in "${missing[@]}"; do case "$p" in chromium|chromium-driver) ;; *) core+=("$p");; esac; done
if [ ${#core[@]} -gt 0 ]; then
  $sudo apt-get install -y -qq --no-install-recommends "${core[@]}" >/dev/null
fi
$sudo apt-get install -y -qq --no-install-recommends chromium chromium-driver >/dev/null 2>&1 \
  || echo "install-deps: chromium could not be installed; the browser test will be skipped" >&2
