#!/usr/bin/env bash
# Opt-in, outside the default test command: kovex-server beside Debian's real FlightGear (package
# flightgear, about 2 GB of data), drawn by Xvfb. FlightGear takes minutes to start without a graphics
# card. Two servers wait before it starts: one told --flightgear, one --auto that must find it by
# itself. Checks: both say FlightGear answers; with the c172p started in the air (its engine then
# starts itself), the panel's variables read from each server over TCP agree with what FlightGear's
# own property server says (flow in pph, oil through the bridge's conversions); engine 2 reads off;
# FlightGear quits and every value reads 0 with one line saying so; FlightGear starts again and both
# servers serve it again without a restart.
# Usage: tests/bridge/flightgear_real.sh <bin folder>   (FG_PORT picks the property server's port;
# on any but 5401, the one --auto looks at by itself, the --auto server is told it with --sim-address)
set -u
bin=$(cd "${1:?usage: flightgear_real.sh <bin folder>}" && pwd) || exit 1
here=$(cd "$(dirname "$0")" && pwd)
fgfs=$(command -v fgfs || echo /usr/games/fgfs)
[ -x "$fgfs" ] || { echo "SKIP: no fgfs (apt-get install flightgear)"; exit 0; }
port=${FG_PORT:-5401}
work=$(mktemp -d)
fg_pid=
servers=
# FlightGear runs in a session of its own (setsid), so its bus, Xvfb and fgfs all go with one kill.
stop_fg() {
  [ -n "$fg_pid" ] || return 0
  kill -TERM -- "-$fg_pid" 2>/dev/null
  for _ in $(seq 30); do kill -0 -- "-$fg_pid" 2>/dev/null || break; sleep 1; done
  kill -KILL -- "-$fg_pid" 2>/dev/null
  wait "$fg_pid" 2>/dev/null
  fg_pid=
}
trap 'stop_fg; [ -n "$servers" ] && kill $servers 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
cd "$work"
fail() { echo "FAIL: $*"; for log in fixed.log auto.log; do echo "--- $log"; tail -n 15 $log; done; exit 1; }

if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
  echo "FAIL: something already answers on port $port; stop it or pick another with FG_PORT"; exit 1
fi

# FlightGear's own session bus: without one it aborts on start. Low settings, for llvmpipe on 2 cores.
start_fg() {
  setsid dbus-run-session -- xvfb-run -a -s "-screen 0 1024x768x24 -noreset" "$fgfs" --telnet="$port" --aircraft=c172p \
    --airport=KSFO --state=auto --altitude=3000 --vc=100 --disable-sound --disable-ai-traffic \
    --disable-real-weather-fetch --disable-terrasync --disable-splash-screen --disable-clouds --timeofday=noon \
    --geometry=640x480 --fog-fastest --disable-random-objects --disable-random-vegetation \
    --disable-random-buildings --disable-specular-highlight --max-fps=15 \
    --prop:/sim/rendering/multithreading-mode=SingleThreaded >>fgfs.log 2>&1 &
  fg_pid=$!
}

# One request to a server through a connection of this shell's own; prints the reply.
ask() {  # port request
  exec 5<>"/dev/tcp/127.0.0.1/$1" || return 1
  printf '%s\0' "$2" >&5
  local reply=
  IFS= read -r -d '' -t 10 reply <&5
  exec 5>&-
  echo "$reply"
}

wait_for_line() {  # log text count seconds
  for _ in $(seq "$4"); do [ "$(grep -c "$2" "$1")" -ge "$3" ] && return 0; sleep 1; done
  return 1
}

start_server() {  # log args...
  local log=$1; shift
  "$bin/kovex-server" --port 0 --lifetime 7200 "$@" </dev/zero >"$log" 2>&1 &
  servers="$servers $!"
  for _ in $(seq 100); do grep -q '^listening on' "$log" && break; sleep 0.1; done
  sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$log"
}

fixed=$(start_server fixed.log --flightgear --sim-address "127.0.0.1:$port")
[ -n "$fixed" ] || fail "the --flightgear server did not start"
auto_args=(--auto)
[ "$port" = 5401 ] || auto_args+=(--sim-address "127.0.0.1:$port")
auto=$(start_server auto.log "${auto_args[@]}")
[ -n "$auto" ] || fail "the --auto server did not start"
wait_for_line auto.log '^auto: no simulator found yet' 1 10 || fail "the --auto server did not say it serves the model"

started=$(date +%s)
start_fg
wait_for_line fixed.log 'answers; its values are served' 1 900 || fail "FlightGear did not answer within 15 minutes"
echo "FlightGear answered after $(( $(date +%s) - started )) s"
wait_for_line auto.log 'FlightGear at .*answers; its values are served' 1 120 || fail "--auto did not take FlightGear"
echo "--auto: $(grep -c '^auto: FlightGear found' auto.log) time(s) '$(grep -m1 '^auto: FlightGear found' auto.log)'"

# Started in the air, the c172p runs its own engine start; the engine catches and dies a few times
# before it keeps running, so the values are compared once it has run for 10 readings in a row.
steady=0
for _ in $(seq 300); do
  if [ "$(ask "$auto" 2196,2,6)" = 1 ] && [ "$(ask "$auto" 2328,8,2)" != 0 ]; then steady=$((steady + 1)); else steady=0; fi
  [ "$steady" -ge 10 ] && break
  sleep 1
done
[ "$steady" -ge 10 ] || fail "engine 1 never kept running"
echo "running: flow $(ask "$auto" 2328,8,2) pph, oil pressure word $(ask "$auto" 2234,2,6)," \
  "oil temperature word $(ask "$auto" 2232,2,4), paused $(ask "$auto" 612,2,4)"
for name in auto fixed; do
  echo "$name server against FlightGear's property server:"
  python3 "$here/flightgear_agree.py" "$port" "${!name}" || fail "the $name server disagrees with FlightGear"
done
[ "$(ask "$auto" 2328,8,2)" != 0 ] || fail "no fuel flow with the engine running"
[ "$(ask "$auto" 2234,2,6)" != 0 ] || fail "no oil pressure with the engine running"
[ "$(ask "$auto" 2348,2,6)" = 0 ] || fail "the second engine of a single reads running"

stop_fg
wait_for_line fixed.log 'went away' 1 60 || fail "no line saying FlightGear went away"
wait_for_line auto.log 'went away' 1 60 || fail "--auto: no line saying FlightGear went away"
for p in "$fixed" "$auto"; do [ "$(ask "$p" 2328,8,2)" = 0 ] || fail "values did not read 0 with FlightGear gone"; done
echo "FlightGear quit: $(grep 'went away' fixed.log)"

found=$(grep -c '^auto: FlightGear found' auto.log)
started=$(date +%s)
start_fg
wait_for_line fixed.log 'came back' 1 900 || fail "FlightGear's restart was not seen"
echo "FlightGear came back after $(( $(date +%s) - started )) s; the server ran on"
# --auto keeps the FlightGear it found and lets that bridge connect again, as --flightgear does.
wait_for_line auto.log 'came back' 1 120 || fail "--auto did not serve FlightGear again"
[ "$(grep -c '^auto: FlightGear found' auto.log)" = "$found" ] || fail "--auto took a second FlightGear bridge"
echo "--auto: $(grep 'came back' auto.log)"
grep -v '^client ' auto.log | sed 's/^/  auto.log: /'
echo "PASS"
