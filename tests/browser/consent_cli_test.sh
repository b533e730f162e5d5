#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# velmora-cli consent against a private data folder: decisions are kept between runs, bad input
# is refused, a failed write is not reported as success, messages follow the user's language. What the file holds, and how an
# unreadable one is set aside, is the consent store's own test.
set -u
cli=$1
export XDG_DATA_HOME
XDG_DATA_HOME=$(mktemp -d)
trap 'rm -rf "$XDG_DATA_HOME"' EXIT
file=$XDG_DATA_HOME/Velmora/einwilligungen.json
fails=0
expect() {  # expect <wanted rc> <description> <command...>
  local want=$1 what=$2; shift 2
  "$@" >"$XDG_DATA_HOME/out" 2>&1; local rc=$?
  if [ "$rc" = "$want" ]; then echo "ok   $what"; else
    echo "FAIL $what (exit $rc, wanted $want)"; cat "$XDG_DATA_HOME/out"; fails=$((fails + 1)); fi
}

expect 0 "list on a fresh system" "$cli" consent list
expect 0 "allow an origin" "$cli" consent allow http://localhost:8000
expect 0 "deny an origin" "$cli" consent deny https://example.test
expect 0 "decisions stored in the user's data folder" test -f "$file"
expect 0 "list shows decisions" "$cli" consent list
grep -q '^allowed .*http://localhost:8000$' "$XDG_DATA_HOME/out" && echo "ok   list line" \
  || { echo "FAIL list line"; cat "$XDG_DATA_HOME/out"; fails=$((fails + 1)); }
# Which origins are malformed is the consent store's table; one proves the command asks it.
expect 2 "an origin with a path is refused" "$cli" consent allow http://localhost:8000/
expect 2 "missing origin is a usage error" "$cli" consent allow
expect 1 "revoking an unknown origin fails" "$cli" consent revoke http://nowhere.test
expect 0 "revoke" "$cli" consent revoke http://localhost:8000

for said in "de:keine Entscheidung gespeichert" "en:no decision stored" "fr:no decision stored"; do
  LANGUAGE=${said%%:*} "$cli" consent revoke http://nowhere.test 2>&1 | grep -q "${said#*:}" \
    && echo "ok   message in LANGUAGE=${said%%:*}" || { echo "FAIL message in LANGUAGE=${said%%:*}"; fails=$((fails + 1)); }
done

echo '{ broken' >"$file"
expect 0 "an unreadable file does not stop the command" "$cli" consent list

rm -rf "$XDG_DATA_HOME/Velmora" && touch "$XDG_DATA_HOME/Velmora"   # folder cannot be made
expect 1 "a failed write is reported" "$cli" consent allow http://localhost:8000

[ "$fails" = 0 ] && echo PASS || echo FAILED
[ "$fails" = 0 ]
