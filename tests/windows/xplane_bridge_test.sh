#!/usr/bin/env bash
# The X-Plane bridge end to end under Wine: the test X-Plane, the server bridging it and the panel as
# three Win32 processes on loopback. The panel's requests get the simulator's values; the test
# X-Plane quits and the values read 0 with one line saying so; it restarts and they come back, with
# neither the server nor the panel restarted.
# Usage: xplane_bridge_test.sh <wine> <bin folder> <assets folder>   (DISPLAY and WINEPREFIX set)
. "$(dirname "$0")/road_common.sh"

sim_pid=
trap 'kill $sim_pid 2>/dev/null; cleanup' EXIT

start_sim() {
  "$wine" "$bin/kovex-test-xplane.exe" --port "$1" --start-at 400 </dev/null >>xplane.log 2>&1 &
  sim_pid=$!
  for _ in $(seq 200); do [ "$(grep -c '^listening on' xplane.log)" -ge "$2" ] && break; sleep 0.1; done
  [ "$(grep -c '^listening on' xplane.log)" -ge "$2" ] || fail "the test X-Plane did not start"
}

# Engine 1's fuel flow as the server answers it, through a connection of this shell's own.
fuel_flow() {
  exec 5<>"/dev/tcp/127.0.0.1/$port" || return 1
  printf '2328,8,2\0' >&5
  local reply=
  IFS= read -r -d '' -t 5 reply <&5
  exec 5>&-
  echo "$reply"
}

wait_for_flow() {  # live|zero
  for _ in $(seq 100); do
    local flow
    flow=$(fuel_flow)
    if [ "$1" = live ] && [ -n "$flow" ] && [ "$flow" != 0 ]; then return 0; fi
    if [ "$1" = zero ] && [ "$flow" = 0 ]; then return 0; fi
    sleep 0.1
  done
  return 1
}

start_sim 0 1
sim_port=$(tr -d '\r' < xplane.log | sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' | head -n 1)
"$wine" "$bin/kovex-server.exe" --port 0 --xplane --sim-address "127.0.0.1:$sim_port" --log-requests --lifetime 120 \
  </dev/null >server.log 2>&1 &
companion_pid=$!
for _ in $(seq 200); do grep -q '^listening on' server.log && break; sleep 0.1; done
port=$(tr -d '\r' < server.log | sed -n 's/^listening on .*:\([0-9]*\)$/\1/p')
[ -n "$port" ] || fail "the server did not start"
printf '[LAN]\r\nUSELAN=Y\r\nKOVEXSERVER=127.0.0.1\r\nKOVEXPORT=%s\r\n[WINSIZE]\r\nWIDTH=552\r\nHEIGHT=200\r\n' "$port" > KOVEXFuel.INI

wait_for_flow live || fail "no live fuel flow from the bridged X-Plane"
grep -q 'answers; its values are served' server.log || fail "the server did not say X-Plane answers"
start_panel
for _ in $(seq 200); do [ "$(grep -c '^request' server.log)" -ge 44 ] && break; sleep 0.1; done
[ "$(grep -c '^request' server.log)" -ge 44 ] || fail "the panel did not read four frames"

kill "$sim_pid"; wait "$sim_pid" 2>/dev/null
wait_for_flow zero || fail "the values did not read 0 with X-Plane gone"
grep -q 'went away' server.log || fail "no line saying X-Plane went away"
start_sim "$sim_port" 2
wait_for_flow live || fail "the values did not come back with X-Plane"
grep -q 'came back' server.log || fail "no line saying X-Plane came back"
kill -0 "$panel_pid" 2>/dev/null || fail "the panel did not live through the restart"
close_panel
echo "X-Plane bridge: test X-Plane, server and panel ran as Win32 processes; X-Plane quit and came back"
