#!/usr/bin/env bash
# The FSUIPC road end to end under Wine: the simulator stand-in and the panel as two Win32 processes.
# The panel must come up with its FSUIPC title, keep running, show needles that follow the stand-in's
# live values (two screen shots a moment apart differ), and end with code 0 on the close message.
# Usage: fsuipc_road_test.sh <wine> <bin folder> <assets folder>   (DISPLAY and WINEPREFIX set)
set -u
. "$(dirname "$0")/../find_window.sh"
wine=$1
bin=$2
assets=$3
work=$(mktemp -d)
sim_pid=
panel_pid=
cleanup() {
  [ -n "$panel_pid" ] && kill "$panel_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$work"/*.log; do [ -f "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }; done; exit 1; }

cp "$assets"/* "$work"/
printf '[LAN]\r\nUSELAN=N\r\n[WINDOW]\r\nX=20\r\nY=20\r\n[WINSIZE]\r\nWIDTH=552\r\nHEIGHT=200\r\n[WINBORDER]\r\nACTIVE=Y\r\n' > "$work/KOVEXFuel.INI"
cd "$work"

# Engines start 10 s into the script: from 8 s at ten times speed the needles move at once.
"$wine" "$bin/kovex-simulator.exe" --start-at 8 --time-scale 10 --lifetime 60 </dev/null >sim.log 2>&1 &
sim_pid=$!
"$wine" "$bin/kovex-wintool.exe" find UIPCMAIN 20000 >tool.log 2>&1 || fail "the stand-in's window did not appear"

KOVEX_NO_MESSAGE_BOXES=1 "$wine" "$bin/KOVEXFuel.exe" </dev/null >panel.log 2>&1 &
panel_pid=$!
"$wine" "$bin/kovex-wintool.exe" find OpenGl 20000 >>tool.log 2>&1 || fail "the panel window did not appear"
find_window 'Kelvo Oil - Fuel Flow v1.2 - Freeware \[FSUIPC\]' >/dev/null ||
  fail "no window with the FSUIPC title"

sleep 1
import -window root first.png || fail "no screen shot"
sleep 2
import -window root second.png || fail "no screen shot"
kill -0 "$panel_pid" 2>/dev/null || fail "the panel ended on its own"
changed=$(compare -metric AE first.png second.png null: 2>&1 | cut -d' ' -f1)
[ "${changed%%.*}" -gt 0 ] 2>/dev/null || fail "the panel did not follow the simulator (changed pixels: $changed)"

"$wine" "$bin/kovex-wintool.exe" close OpenGl >>tool.log 2>&1 || fail "the panel did not take the close message"
for _ in $(seq 100); do kill -0 "$panel_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$panel_pid" 2>/dev/null && fail "the close message did not end the panel"
wait "$panel_pid"
code=$?
panel_pid=
[ "$code" -eq 0 ] || fail "the panel ended with code $code"
grep -q . panel.log && fail "the panel reported: $(cat panel.log)"
grep -q '^X=20' KOVEXFuel.INI || fail "the settings file lost the window position"
echo "FSUIPC road: panel and stand-in ran as two Win32 processes ($changed pixels changed in 2 s)"
