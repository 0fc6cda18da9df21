#!/usr/bin/env bash
# The panel on the FSUIPC road beside the simulator stand-in, on a real X server, as a user meets it:
# a stand-in started after the panel's first picture is picked up (the picture starts to move); with
# the stand-in killed every frame takes about a second, and an Esc tapped during such a frame still
# ends the program with code 0; with the stand-in hung (stopped) a frame takes about 21 s, and a close
# request made during it ends the program when that frame is over, with code 0.
# Every step waits for what the screen shows (a drawn picture, one that moves, one that stops), so a
# slow or busy machine makes the run longer, not wrong.
# Usage: simulator_session_test.sh <bin folder> <assets folder> <python3>   (run under xvfb-run)
set -u
. "$(dirname "$0")/../find_window.sh"
bin=$1
assets=$2
python=$3
work=$(mktemp -d)
panel=
sim=
cleanup() {
  [ -n "$sim" ] && { kill -CONT "$sim"; kill "$sim"; } 2>/dev/null
  [ -n "$panel" ] && kill "$panel" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$work"/*.log; do [ -s "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }; done; exit 1; }
cd "$work"
cp "$assets"/* .
printf '[LAN]\r\nUSELAN=N\r\n[WINDOW]\r\nX=0\r\nY=0\r\n[WINSIZE]\r\nWIDTH=552\r\nHEIGHT=200\r\n[WINBORDER]\r\nACTIVE=Y\r\n' > KOVEXFuel.INI
export KOVEX_IPC_DIR=$work/ipc
mkdir -m 700 "$KOVEX_IPC_DIR"
export SDL_VIDEODRIVER=x11
xset r off

start_panel() {
  "$bin/KOVEXFuel" </dev/null >>panel.log 2>&1 &
  panel=$!
  window=$(find_window 'Kelvo Oil - Fuel Flow v1.2 - Freeware \[FSUIPC\]') || fail "the panel window did not appear"
  xdotool mousemove --window "$window" 20 20
}
# Engines start 10 s into the script: from 8 s at ten times speed every needle moves at once.
start_sim() {
  "$bin/kovex-simulator" --start-at 8 --time-scale 10 --lifetime 120 </dev/null >>sim.log 2>&1 &
  sim=$!
}
shot() { import -window "$window" "$1" 2>>import.log || fail "no screen shot"; }
# compare's exit status says whether two pictures differ (1) or not (0); what it prints varies.
differ() {
  local code=0
  compare -metric AE "$1" "$2" null: 2>/dev/null || code=$?
  [ "$code" -le 1 ] || fail "compare could not read $1 and $2"
  [ "$code" -eq 1 ]
}
# A window not yet drawn shows one colour; the panel's pictures show thousands.
drawn() { [ "$(identify -format '%k' "$1" 2>/dev/null)" -gt 1 ] 2>/dev/null; }
# Seconds since the epoch, for bounds that hold however long each screen shot takes.
now() { date +%s; }
# Shoots $1 until the panel has drawn into its window, for up to 60 s.
wait_drawn() {
  local until=$(( $(now) + 60 ))
  until shot "$1"; drawn "$1"; do [ "$(now)" -lt "$until" ] || fail "the panel drew nothing"; done
}
# Waits up to $2 s for two screen shots in a row to differ (moving) or to match (still), as $1 says.
wait_picture() {
  local until=$(( $(now) + $2 ))
  shot before.png
  for (( ; ; )); do
    shot after.png
    if [ "$1" = moving ]; then differ before.png after.png && return 0; else differ before.png after.png || return 0; fi
    [ "$(now)" -lt "$until" ] || return 1
    mv after.png before.png
  done
}
# Waits up to $2 s for the panel to end; its exit code must be 0.
ended_with_zero() {
  local until=$(( $(now) + $2 ))
  while kill -0 "$panel" 2>/dev/null && [ "$(now)" -lt "$until" ]; do sleep 0.1; done
  kill -0 "$panel" 2>/dev/null && fail "$1 did not end the panel"
  local code=0
  wait "$panel" || code=$?
  panel=
  [ "$code" -eq 0 ] || fail "$1 ended the panel with code $code"
}
# The close request a window manager sends: WM_PROTOCOLS with WM_DELETE_WINDOW.
close_request() {
  "$python" - "$1" <<'PY'
import ctypes, sys
x = ctypes.CDLL("libX11.so.6")
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XInternAtom.restype = ctypes.c_ulong
x.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
x.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.POINTER(Event)]
x.XFlush.argtypes = x.XCloseDisplay.argtypes = [ctypes.c_void_p]
d = x.XOpenDisplay(None)
e = Event()
e.xclient.type = 33
e.xclient.window = int(sys.argv[1])
e.xclient.message_type = x.XInternAtom(d, b"WM_PROTOCOLS", 0)
e.xclient.format = 32
e.xclient.data[0] = x.XInternAtom(d, b"WM_DELETE_WINDOW", 0)
x.XSendEvent(d, e.xclient.window, 0, 0, ctypes.byref(e))
x.XFlush(d)
x.XCloseDisplay(d)
PY
}

# A simulator that comes after the panel has drawn its still picture is picked up within the 2 s
# retry: the picture starts to move. The second of a second's look must match the first.
start_panel
wait_drawn still1.png
sleep 1
shot still2.png
differ still1.png still2.png && fail "the picture moved without a simulator"
start_sim
until=$(( $(now) + 60 ))
until shot now.png; differ still1.png now.png; do
  [ "$(now)" -lt "$until" ] || fail "the panel did not pick up the simulator started after it"
done

# The stand-in dies: every frame now spends about a second in the link's retries, and the picture
# stops. An Esc tap (pressed and released within milliseconds) lands inside such a frame and must
# still be acted on.
kill -9 "$sim"; wait "$sim" 2>/dev/null; sim=
wait_picture still 60 || fail "the picture went on moving without a simulator"
xdotool key Escape
ended_with_zero "an Esc tap during slow frames" 30

# The stand-in hangs once the panel follows it: one frame takes about 21 s, and the picture stops.
# A close request made inside it ends the program at the next turn, when that frame is over.
start_sim
start_panel
wait_drawn still1.png
wait_picture moving 60 || fail "the panel did not follow the simulator"
kill -STOP "$sim"
wait_picture still 60 || fail "the picture went on moving with the simulator stopped"
close_request "$window" || fail "the close request could not be sent"
ended_with_zero "a close request during a hung frame" 90
grep -q . panel.log && fail "the panel reported: $(cat panel.log)"
echo "1 passed, 0 failed"
