#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Round trip of velmora-cli commands to the running Velmora on the session bus in
# $DBUS_SESSION_BUS_ADDRESS, process start included (what a shortcut or status bar pays):
#   dbus_roundtrip.sh [COUNT] [COMMAND...]     default: 200 × velmora-cli toggle
# An even count of toggles leaves the switch as it was. Prints one FIGURE line; fails when a
# command fails. VELMORA_CLI names the program (default: velmora-cli on PATH).
set -u
count=${1:-200}
shift $(($# > 0 ? 1 : 0))
cli=${VELMORA_CLI:-velmora-cli}
(($# > 0)) || set -- toggle
times=()
for ((i = 0; i < count; i++)); do
  t0=$(date +%s%N)
  "$cli" "$@" >/dev/null || { echo "dbus_roundtrip: '$cli $*' failed at call $((i + 1))" >&2; exit 1; }
  t1=$(date +%s%N)
  times+=($(((t1 - t0) / 1000)))
done
printf '%s\n' "${times[@]}" | sort -n | awk -v n="$count" -v what="$*" '
  { v[NR] = $1 / 1000; sum += v[NR] }
  END { printf "FIGURE: velmora-cli %s round trip over %d calls: mean=%.1f ms median=%.1f ms p95=%.1f ms max=%.1f ms\n",
        what, n, sum / n, v[int((n + 1) / 2)], v[int(n * 0.95 + 0.5)], v[n] }'
