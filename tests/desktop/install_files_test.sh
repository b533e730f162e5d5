#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `cmake --install` puts both programs, the desktop entry, the icon and the metainfo where
# desktops look for them, and the entry and the metainfo pass their validators.
set -u
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }

status=0
for f in bin/velmora bin/velmora-cli share/applications/org.velmora.Velmora.desktop \
         share/icons/hicolor/scalable/apps/org.velmora.Velmora.svg \
         share/metainfo/org.velmora.Velmora.metainfo.xml; do
  [[ -e "$prefix/$f" ]] || { echo "FAIL: $f not installed"; status=1; }
done
(cd "$prefix" && find . -type f | sort)

validated=0
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/org.velmora.Velmora.desktop" || status=1
  validated=1
else
  echo "desktop-file-validate missing (desktop-file-utils): entry not validated"
fi
if command -v appstreamcli >/dev/null; then
  appstreamcli validate --no-net "$prefix/share/metainfo/org.velmora.Velmora.metainfo.xml" || status=1
  validated=1
else
  echo "appstreamcli missing (appstream): metainfo not validated"
fi
((status == 0 && validated == 0)) && exit 77
exit $status
