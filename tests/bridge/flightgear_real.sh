#!/usr/bin/env bash
# Opt-in, outside the default test command: kovex-server --flightgear beside Debian's real FlightGear
# (package flightgear, about 2 GB of data), drawn by Xvfb. FlightGear takes minutes to start without a
# graphics card. Checks: the server says FlightGear answers; with the c172p started in the air (its
# engine then starts itself), engine 1 reads running with a fuel flow and oil pressure, engine 2
# stays at 0; FlightGear quits and every value reads 0 with one line saying so; FlightGear starts
# again and the values come back without a restart of the server.
# Usage: tests/bridge/flightgear_real.sh <bin folder>   (FG_PORT picks the property server's port)
set -u
bin=${1:?usage: flightgear_real.sh <bin folder>}
fgfs=$(command -v fgfs || echo /usr/games/fgfs)
[ -x "$fgfs" ] || { echo "SKIP: no fgfs (apt-get install flightgear)"; exit 0; }
port=${FG_PORT:-5401}
work=$(mktemp -d)
fg_pid=
server_pid=
trap '[ -n "$fg_pid" ] && stop_tree "$fg_pid"; kill $server_pid 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; tail -n 20 server.log; exit 1; }

# FlightGear's own session bus: without one it aborts on start.
start_fg() {
  dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24" "$fgfs" --telnet="$port" --aircraft=c172p \
    --airport=KSFO --state=auto --altitude=3000 --vc=100 --disable-sound --disable-ai-traffic --disable-real-weather-fetch --disable-terrasync \
    --disable-splash-screen --disable-clouds --timeofday=noon --geometry=640x480 \
    --prop:/sim/rendering/multithreading-mode=SingleThreaded >>fgfs.log 2>&1 &
  fg_pid=$!
}

# A process and everything it started (fgfs runs under dbus-run-session and xvfb-run).
stop_tree() {
  local child
  for child in $(pgrep -P "$1"); do stop_tree "$child"; done
  kill "$1" 2>/dev/null
}

# One request to the server through a connection of this shell's own; prints the reply.
ask() {
  exec 5<>"/dev/tcp/127.0.0.1/$server_port" || return 1
  printf '%s\0' "$1" >&5
  local reply=
  IFS= read -r -d '' -t 10 reply <&5
  exec 5>&-
  echo "$reply"
}

wait_for_line() {  # text count seconds
  for _ in $(seq "$3"); do [ "$(grep -c "$1" server.log)" -ge "$2" ] && return 0; sleep 1; done
  return 1
}

"$bin/kovex-server" --port 0 --flightgear --sim-address "127.0.0.1:$port" --lifetime 3600 </dev/zero >server.log 2>&1 &
server_pid=$!
for _ in $(seq 50); do grep -q '^listening on' server.log && break; sleep 0.1; done
server_port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' server.log)
[ -n "$server_port" ] || fail "the server did not start"

started=$(date +%s)
start_fg
wait_for_line 'answers; its values are served' 1 900 || fail "FlightGear did not answer within 15 minutes"
echo "FlightGear answered after $(( $(date +%s) - started )) s"
echo "first answer: flow $(ask 2328,8,2) pph, oil $(ask 2234,2,6), temp $(ask 2232,2,4), running $(ask 2196,2,6)"

# Started in the air, the c172p runs its own engine start.
for _ in $(seq 300); do [ "$(ask 2196,2,6)" = 1 ] && break; sleep 1; done
[ "$(ask 2196,2,6)" = 1 ] || fail "engine 1 never read running"
sleep 10
flow=$(ask 2328,8,2); oil=$(ask 2234,2,6); temp=$(ask 2232,2,4)
echo "running: flow $flow pph, oil pressure word $oil, oil temperature word $temp, paused $(ask 612,2,4)"
echo "engine 2: flow $(ask 2480,8,2), running $(ask 2348,2,6); tanks $(ask 2944,4,1)/$(ask 2968,4,1) gal," \
  "levels $(ask 2940,4,1)/$(ask 2964,4,1)"
[ "$flow" != 0 ] || fail "no fuel flow with the engine running"
[ "$oil" != 0 ] || fail "no oil pressure with the engine running"
[ "$(ask 2348,2,6)" = 0 ] || fail "the second engine of a single reads running"

stop_tree "$fg_pid"; wait "$fg_pid" 2>/dev/null; fg_pid=
wait_for_line 'went away' 1 60 || fail "no line saying FlightGear went away"
[ "$(ask 2328,8,2)" = 0 ] || fail "values did not read 0 with FlightGear gone"
echo "FlightGear quit: $(grep 'went away' server.log)"

started=$(date +%s)
start_fg
wait_for_line 'came back' 1 900 || fail "FlightGear's restart was not seen"
echo "FlightGear came back after $(( $(date +%s) - started )) s; the server ran on"
echo "PASS"
