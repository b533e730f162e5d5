#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# velmora-cli status/on/off/toggle/set drive `velmora-cli live` over the private stack's session
# bus: the state reads back as JSON, `set --a4 435` moves the measured pitch of a played sine and
# two toggles bring it back, refused values change nothing, --follow sees a change at once, and
# without an instance every command says so. Prints the round-trip figures.
source "$(dirname "$0")/../e2e_lib.sh"
export LANGUAGE=en LC_ALL=C.UTF-8
e2e_start
sine "$W/sine.wav" 6 440
state() { "$VELMORA_CLI" status --json; }
# field KEY < json : the value as JSON, numbers in one form (432.0 for 432)
field() { python3 -c 'import json,sys; v=json.loads(sys.stdin.read())[sys.argv[1]]; print(json.dumps(float(v) if type(v) is int else v))' "$1"; }
running() { [[ $(state | field ChainState) == '"running"' ]]; }
pitch_is() {  # pitch_is NAME HZ : plays the sine, measures the speakers, expects HZ within 3 cents
  # (the delay line's grains move a 1 s window by up to about 2 cents; 435 against 440 Hz is 20)
  record_play "$W/$1.wav" fake_speakers "$W/sine.wav" || return 1
  steady_pitch "$W/$1.wav" 2 3 1 "$2" 3
  expect "$1: sine heard at $2 Hz (measured $PITCH_HZ Hz, $PITCH_CENTS cents)" fcmp "$(abs "$PITCH_CENTS") <= 3"
}

# No instance yet: one clear line, exit 1.
out=$("$VELMORA_CLI" status 2>&1); rc=$?
expect "no instance: exit 1 (got $rc)" test "$rc" -eq 1
expect "no instance: one line ($out)" test "$(wc -l <<<"$out")" -eq 1
expect "no instance: says so" grep -q 'no Velmora is running' <<<"$out"
"$VELMORA_CLI" toggle --bogus 2>/dev/null
expect "usage error: exit 2" test $? -eq 2

start_live "$W/live.log" --preset 432 --no-status-server || e2e_finish
stack_wait "$VELMORA_CLI" status || bad "live not on the session bus"

json=$(state)
echo "$json"
expect "status --json: running on preset 432" \
  test "$(field Enabled <<<"$json")$(field Active <<<"$json")$(field PresetID <<<"$json")$(field TargetA4 <<<"$json")" \
  = 'truetrue"432"432.0'
expect "status --json: all 23 keys" test "$(python3 -c 'import json,sys; print(len(json.load(sys.stdin)))' <<<"$json")" -eq 23
expect "status --json: version as the program's" \
  test "$(field Version <<<"$json")" = "\"$("$VELMORA_CLI" --version | cut -d' ' -f2)\""

stack_wait running || bad "chain not running"
"$VELMORA_CLI" set --a4 435
expect "set --a4 435: exit 0" test $? -eq 0
expect "set --a4 435: free A4 in effect" test "$(state | field TargetA4)" = 435.0
conf=$XDG_CONFIG_HOME/Velmora/Velmora.conf
expect "set --a4 435: saved" grep -q '^freeA4=435$' "$conf"
expect "live's own --no-status-server: not saved" grep -q '^statusServer=true$' "$conf"
pitch_is set-435 435
"$VELMORA_CLI" toggle && expect "toggle: off" test "$(state | field Enabled)$(state | field Active)" = falsefalse
pitch_is off 440
"$VELMORA_CLI" toggle && expect "toggle again: on" test "$(state | field Enabled)" = true
# Switched on again in the same process: the streams that played meanwhile are retuned too.
t0=$(now_ms)
STACK_WAIT_SEC=20 stack_wait running || bad "chain not running again after the second toggle"
stack_wait stack_node_present org.velmora.Velmora.tap
figure "chain running again $(($(now_ms) - t0)) ms after the second toggle"
pitch_is toggled-back 435

# Refused values change nothing, on the command line and straight on the bus.
before=$(state)
out=$("$VELMORA_CLI" set --engine balanced --a4 1000 2>&1); rc=$?
expect "set --a4 1000 refused: exit 2, says why ($out)" test "$rc" -eq 2 -a -n "$(grep '400 to 470 Hz' <<<"$out")"
out=$(gdbus call --session -d org.velmora.Velmora -o /org/velmora/Velmora \
  -m org.freedesktop.DBus.Properties.Set org.velmora.Velmora1 FreeA4 '<1000.0>' 2>&1)
expect "bus write of 1000 Hz refused with InvalidValue ($out)" grep -q 'org.velmora.Velmora.Error.InvalidValue' <<<"$out"
out=$(gdbus call --session -d org.velmora.Velmora -o /org/velmora/Velmora \
  -m org.freedesktop.DBus.Properties.Set org.velmora.Velmora1 Engine '<"fastest">' 2>&1)
expect "bus write of an unknown engine refused ($out)" grep -q 'InvalidValue' <<<"$out"
expect "refusals changed nothing" test "$(state | field FreeA4)$(state | field Engine)" \
  = "$(field FreeA4 <<<"$before")$(field Engine <<<"$before")"

# --follow: a change shows within 200 ms.
"$VELMORA_CLI" status --follow --json >"$W/follow.log" 2>&1 &
follow=$!
stack_wait test -s "$W/follow.log" || bad "--follow printed no first state"
t0=$(now_ms)
"$VELMORA_CLI" set --engine balanced
until grep -q '"Engine":"balanced"' "$W/follow.log" || (($(now_ms) - t0 > 5000)); do sleep 0.005; done
delay=$(($(now_ms) - t0))
figure "--follow printed the engine change ${delay} ms after 'set' was started"
expect "--follow shows a change within 200 ms (took $delay ms)" test "$delay" -le 200

figure "$(bash "$(dirname "$0")/../../../bench/dbus_roundtrip.sh" 200 toggle | sed 's/^FIGURE: //')"
figure "$(bash "$(dirname "$0")/../../../bench/dbus_roundtrip.sh" 50 status --json | sed 's/^FIGURE: //')"
expect "200 toggles leave it on" test "$(state | field Enabled)" = true

# Quit ends live cleanly; then nobody answers and --follow says the instance ended.
gdbus call --session -d org.velmora.Velmora -o /org/velmora/Velmora -m org.velmora.Velmora1.Quit >/dev/null
timeout 10 tail --pid="$LIVE_PID" -f /dev/null
wait "$LIVE_PID"; rc=$?; LIVE_PID=
expect "Quit: live exits 0 (status $rc)" test "$rc" -eq 0
timeout 5 tail --pid="$follow" -f /dev/null
wait "$follow"; rc=$?
expect "--follow ends with 1 when the instance goes (status $rc)" test "$rc" -eq 1
"$VELMORA_CLI" on 2>/dev/null
expect "after Quit: on exits 1" test $? -eq 1
e2e_finish
