#!/usr/bin/env bash
# The FSUIPC road end to end under Wine: the simulator stand-in and the panel as two Win32 processes.
# The panel must come up with its FSUIPC title, keep running, show needles that follow the stand-in's
# live values (a later screen shot differs from the first drawn one), and end with code 0 on the close
# message.
# Usage: fsuipc_road_test.sh <wine> <bin folder> <assets folder>   (DISPLAY and WINEPREFIX set)
. "$(dirname "$0")/road_common.sh"
printf '[LAN]\r\nUSELAN=N\r\n[WINDOW]\r\nX=20\r\nY=20\r\n[WINSIZE]\r\nWIDTH=552\r\nHEIGHT=200\r\n[WINBORDER]\r\nACTIVE=Y\r\n' > KOVEXFuel.INI

# Engines start 10 s into the script: from 8 s at ten times speed the needles move at once.
"$wine" "$bin/kovex-simulator.exe" --start-at 8 --time-scale 10 --lifetime 60 </dev/null >sim.log 2>&1 &
companion_pid=$!
"$wine" "$bin/kovex-wintool.exe" find UIPCMAIN 20000 >tool.log 2>&1 || fail "the stand-in's window did not appear"

start_panel
find_window 'Kelvo Oil - Fuel Flow v1.2 - Freeware \[FSUIPC\]' >/dev/null ||
  fail "no window with the FSUIPC title"

# The first shot once the panel has drawn (a window not yet drawn shows one colour), then shots
# until one differs from it, for up to a minute: a busy machine makes this slower, not wrong.
until=$(( $(date +%s) + 60 ))
until import -window root first.png && [ "$(identify -format '%k' first.png)" -gt 2 ]; do
  [ "$(date +%s)" -lt "$until" ] || fail "the panel drew nothing"
done
moved=
until [ -n "$moved" ] || [ "$(date +%s)" -ge "$until" ]; do
  import -window root second.png || fail "no screen shot"
  code=0
  compare -metric AE first.png second.png null: 2>/dev/null || code=$?
  [ "$code" -le 1 ] || fail "compare could not read the screen shots"
  [ "$code" -eq 1 ] && moved=1
done
kill -0 "$panel_pid" 2>/dev/null || fail "the panel ended on its own"
[ -n "$moved" ] || fail "the panel did not follow the simulator"
changed=$(compare -metric AE first.png second.png null: 2>&1 | cut -d' ' -f1)

close_panel
grep -q . panel.log && fail "the panel reported: $(cat panel.log)"
grep -q '^X=20' KOVEXFuel.INI || fail "the settings file lost the window position"
echo "FSUIPC road: panel and stand-in ran as two Win32 processes ($changed pixels changed)"
