#!/usr/bin/env bash
# The panel on the FSUIPC road beside the simulator stand-in, on a real X server, as a user meets it:
# a stand-in started 3 s after the panel is picked up (the picture starts to move); with the stand-in
# killed every frame takes about a second, and an Esc tapped during such a frame still ends the
# program with code 0; with the stand-in hung (stopped) a frame takes about 21 s, and a close request
# made during it ends the program when that frame is over, with code 0.
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
differ() { [ "$(compare -metric AE "$1" "$2" null: 2>&1 | cut -d' ' -f1)" != 0 ]; }
# Waits up to $2 tenths of a second for the panel to end; its exit code must be 0.
ended_with_zero() {
  for _ in $(seq "$2"); do kill -0 "$panel" 2>/dev/null || break; sleep 0.1; done
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

# A simulator that comes 3 s after the panel: the still picture starts to move within the 2 s retry.
start_panel
sleep 1
shot still1.png
sleep 1
shot still2.png
differ still1.png still2.png && fail "the picture moved without a simulator"
sleep 1
start_sim
moved=
for _ in $(seq 25); do
  sleep 0.2
  shot now.png
  differ still1.png now.png && { moved=1; break; }
done
[ -n "$moved" ] || fail "the panel did not pick up the simulator started after it"

# The stand-in dies: every frame now spends about a second in the link's retries. An Esc tap
# (pressed and released within milliseconds) lands inside such a frame and must still be acted on.
kill -9 "$sim"; wait "$sim" 2>/dev/null; sim=
sleep 2.5
xdotool key Escape
ended_with_zero "an Esc tap during slow frames" 40

# The stand-in hangs: one frame takes about 21 s. A close request made inside it ends the program
# at the next turn, when that frame is over.
start_sim
start_panel
sleep 1
kill -STOP "$sim"
sleep 3
close_request "$window" || fail "the close request could not be sent"
ended_with_zero "a close request during a hung frame" 250
grep -q . panel.log && fail "the panel reported: $(cat panel.log)"
echo "1 passed, 0 failed"
