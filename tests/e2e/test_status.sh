#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# `live` serves the status: a new origin is refused and its question printed together with the
# command that answers it; after `velmora-cli consent allow ORIGIN` the origin gets the document.
source "$(dirname "$0")/e2e_lib.sh"
e2e_start
ORIGIN=http://radio.example

listening() { (exec 3<>/dev/tcp/127.0.0.1/47432) 2>/dev/null; }

start_live "$W/live.log" --preset 432 || e2e_finish
stack_wait listening || bad "status service not listening on 127.0.0.1:47432"
first=$(get_status)
expect "unknown origin refused" grep -q "^HTTP/1.1 403" <<<"$first"
stack_wait log_has "$W/live.log" "Anfrage von $ORIGIN"
expect "question printed with its answer" \
  log_has "$W/live.log" "Anfrage von $ORIGIN: zum Erlauben 'velmora-cli consent allow $ORIGIN' ausführen."
"$VELMORA_CLI" consent allow "$ORIGIN"
expect "consent command succeeds" test $? -eq 0
second=
for _ in $(seq 60); do
  second=$(get_status)
  grep -q "^HTTP/1.1 200" <<<"$second" && break
  sleep 0.1
done
echo "$second" | tail -n1
expect "allowed origin gets the document" grep -q '"aktiv":true' <<<"$second"
expect "document names the target pitch" grep -q '"zielstimmung":432' <<<"$second"
stop_live
e2e_finish
