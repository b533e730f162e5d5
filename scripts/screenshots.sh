#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Renders the panel offscreen in German and English (off, retuning with detection, consent
# prompt, error) and copies the pictures to docs/screenshots/ (or the folder given).
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/screenshots}
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target panel_screenshots
QT_QUICK_CONTROLS_STYLE=Fusion build/tests/desktop/panel_screenshots "$out"
ls "$out"/panel_*.png
