#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `cmake --install` puts both programs, the desktop entry, the icons and the metainfo where
# desktops look for them, the entry and the metainfo pass their validators, and GIO accepts
# the entry of a prefix whose bin folder is not on PATH (~/.local).
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }

status=0
for f in bin/velmora bin/velmora-cli share/applications/org.velmora.Velmora.desktop \
         share/icons/hicolor/scalable/apps/org.velmora.Velmora.svg \
         share/icons/hicolor/22x22/apps/org.velmora.Velmora.png \
         share/metainfo/org.velmora.Velmora.metainfo.xml; do
  [[ -e "$prefix/$f" ]] || { echo "FAIL: $f not installed"; status=1; }
done
(cd "$prefix" && find . -type f | sort)

validated=0
validate() {  # validate TOOL PACKAGE ARGS... : TOOL ARGS, where the tool is installed
  command -v "$1" >/dev/null || { echo "$1 missing ($2): not validated"; return; }
  "$1" "${@:3}" || status=1
  validated=1
}
validate desktop-file-validate desktop-file-utils "$prefix/share/applications/org.velmora.Velmora.desktop"
validate appstreamcli appstream validate --no-net "$prefix/share/metainfo/org.velmora.Velmora.metainfo.xml"
if command -v gio >/dev/null; then
  # No sound server in reach: the launched program only shows that it starts and ends.
  rt=$(mktemp -d)
  env -i PATH=/usr/bin:/bin HOME="$prefix" XDG_RUNTIME_DIR="$rt" QT_QPA_PLATFORM=offscreen \
    gio launch "$prefix/share/applications/org.velmora.Velmora.desktop" \
    || { echo "FAIL: gio does not launch the entry with $prefix/bin off PATH"; status=1; }
  rm -rf "$rt"
fi
((status == 0 && validated == 0)) && exit 77
exit $status
