#!/usr/bin/env bash
# The network road end to end under Wine: the panel against the server as two Win32 processes on loopback.
# The start-up read must come first, then ten requests per frame in table order; the close message ends
# the panel with code 0 and the server sees it leave. Then the server is gone and the panel ends with
# "initialization failed.".
# Usage: network_road_test.sh <wine> <bin folder> <assets folder>   (DISPLAY and WINEPREFIX set)
. "$(dirname "$0")/road_common.sh"

"$wine" "$bin/kovex-server.exe" --port 0 --time-scale 0 --start-at 300 --log-requests --lifetime 120 \
  </dev/null >server.log 2>&1 &
companion_pid=$!
for _ in $(seq 200); do grep -q '^listening on' server.log && break; sleep 0.1; done
port=$(tr -d '\r' < server.log | sed -n 's/^listening on .*:\([0-9]*\)$/\1/p')
[ -n "$port" ] || fail "the server did not start"
printf '[LAN]\r\nUSELAN=Y\r\nKOVEXSERVER=127.0.0.1\r\nKOVEXPORT=%s\r\n[WINSIZE]\r\nWIDTH=552\r\nHEIGHT=200\r\n' "$port" > KOVEXFuel.INI

start_panel
find_window 'Kelvo Oil - Fuel Flow Panel v1\.2 - Freeware \[NETWORK\]' >/dev/null ||
  fail "no window with the network title"
for _ in $(seq 200); do [ "$(grep -c '^request' server.log)" -ge 44 ] && break; sleep 0.1; done
[ "$(grep -c '^request' server.log)" -ge 44 ] || fail "the panel did not read four frames"

close_panel
for _ in $(seq 100); do grep -q 'left: closed by peer' server.log && break; sleep 0.1; done
grep -q 'left: closed by peer' server.log || fail "the server did not see the panel leave"

expected="2944,4,1 2968,4,1 2940,4,1 2964,4,1"
frame="2328,8,2 2480,8,2 2232,2,4 2384,2,4 2234,2,6 2386,2,6 2196,2,6 2348,2,6 612,2,4 13157,1,3"
requests=$(tr -d '\r' < server.log | sed -n 's/^request [^ ]* //p')
count=$(echo "$requests" | wc -l)
[ $(( (count - 4) % 10 )) -eq 0 ] || fail "$count requests: not the start-up read plus whole frames"
for _ in $(seq $(( (count - 4) / 10 ))); do expected="$expected $frame"; done
[ "$(echo $requests)" = "$expected" ] || fail "requests out of order: $(echo $requests | head -c 400)"

kill "$companion_pid"
wait "$companion_pid" 2>/dev/null
companion_pid=
KOVEX_NO_MESSAGE_BOXES=1 "$wine" "$bin/KOVEXFuel.exe" </dev/null >gone.log 2>panel.err
code=$?
[ "$code" -eq 2 ] || fail "exit code $code with the server gone (2: no window)"
tr -d '\r' < panel.err | grep -qx 'Error: initialization failed.' || fail "no initialization message: $(cat panel.err)"
echo "Network road: panel and server ran as two Win32 processes ($count requests in order)"
