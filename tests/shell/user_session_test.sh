#!/usr/bin/env bash
# The panel as a user drives it on a real X server: F11 then Right moves the window one pixel
# and stores it, Esc ends the program with exit code 0.
# Usage: user_session_test.sh <KOVEXFuel binary> <assets folder>   (run under xvfb-run)
set -u
. "$(dirname "$0")/../find_window.sh"
program=$1
assets=$2
work=$(mktemp -d)
trap 'kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
cp "$assets"/* . 2>/dev/null
if [ ! -f plane2.ico ]; then
  # one 1x1 32-bit icon image with its mask
  printf '\0\0\1\0\1\0\1\1\0\0\1\0\x20\0\x30\0\0\0\x16\0\0\0\x28\0\0\0\1\0\0\0\2\0\0\0\1\0\x20\0\0\0\0\0\x08\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\x20\x60\xc0\xff\0\0\0\0' > plane2.ico
fi
printf '[LAN]\r\nUSELAN=N\r\n[WINDOW]\r\nX=100\r\nY=50\r\n[WINSIZE]\r\nWIDTH=552\r\nHEIGHT=200\r\n[WINBORDER]\r\nACTIVE=Y\r\n' > KOVEXFuel.INI

fail() { echo "FAIL: $*"; exit 1; }
# A key held as a person holds it: the program acts on keys that are down between frames.
# Auto-repeat is off, so a long hold is still one press even on a slow, loaded machine.
press() { xdotool keydown "$1"; sleep 0.3; xdotool keyup "$1"; sleep 0.2; }
xset r off

SDL_VIDEODRIVER=x11 "$program" &
pid=$!
window=$(find_window "Kelvo Oil - Fuel Flow v1.2 - Freeware \[FSUIPC\]")
[ -n "$window" ] || fail "the panel window did not appear"
xdotool mousemove --window "$window" 20 20
sleep 0.3

press F11
# An arrow acts only while it is down at a frame, and a busy machine's frame can outlast a hold: Right
# is pressed again while the stored X has not changed after a couple of seconds. One step per
# key-down message, so a slow step and a second press, or a late key-up the X server repeats, give a
# few steps; they are accepted. The exact count is the in-process tests' business.
stored_x() { sed -n 's/^X=\([0-9]*\).*/\1/p' KOVEXFuel.INI; }
until=$(( $(date +%s) + 30 ))
while [ "$(stored_x)" = 100 ] && [ "$(date +%s)" -lt "$until" ]; do
  press Right
  for _ in $(seq 20); do [ "$(stored_x)" != 100 ] && break; sleep 0.1; done
done
x=$(stored_x)
[ -n "$x" ] && [ "$x" -ge 101 ] && [ "$x" -le 110 ] || fail "X was not stepped right from 100: $(tr '\r\n' '  ' < KOVEXFuel.INI)"
grep -q '^Y=50' KOVEXFuel.INI || fail "Y changed: $(tr '\r\n' '  ' < KOVEXFuel.INI)"

# The re-created window takes the keyboard again.
window=$(find_window "Kelvo Oil")
xdotool mousemove --window "$window" 20 20
sleep 0.3
press Escape
until=$(( $(date +%s) + 30 ))
while kill -0 "$pid" 2>/dev/null && [ "$(date +%s)" -lt "$until" ]; do sleep 0.1; done
kill -0 "$pid" 2>/dev/null && fail "Esc did not end the program"
wait "$pid"
code=$?
[ "$code" -eq 0 ] || fail "exit code $code"
echo "1 passed, 0 failed"
