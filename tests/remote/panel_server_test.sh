#!/usr/bin/env bash
# The real panel against the real server: the start-up read comes first, then ten requests per
# frame in table order; Esc ends the panel and the server sees it leave. A second panel in a German
# locale (a comma before decimals, while the server writes a full stop) runs and draws the very same
# panel. Then the server is gone and the panel ends with "initialization failed.".
# Usage: panel_server_test.sh <bin folder> <assets folder>   (run under xvfb-run)
set -u
. "$(dirname "$0")/../find_window.sh"
bin=$1
assets=$2
work=$(mktemp -d)
trap 'kill "$panel" "$server" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work"
cp "$assets"/* .
fail() { echo "FAIL: $*"; exit 1; }
# Runs the command until it succeeds, for up to $1 s; a slow machine takes longer, never fails sooner.
wait_for() {
  local until=$(( $(date +%s) + $1 ))
  shift
  until "$@"; do [ "$(date +%s)" -lt "$until" ] || return 1; sleep 0.1; done
}
requests_at_least() { [ "$(grep -c '^request' server.log)" -ge "$1" ]; }
left_at_least() { [ "$(grep -c 'left: closed by peer' server.log)" -ge "$1" ]; }
panel_ended() { ! kill -0 "$panel" 2>/dev/null; }

"$bin/kovex-server" --port 0 --time-scale 0 --start-at 300 --log-requests --lifetime 60 > server.log 2>&1 &
server=$!
wait_for 60 grep -q '^listening on' server.log
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' server.log)
[ -n "$port" ] || fail "the server did not start: $(cat server.log)"
printf '[LAN]\r\nUSELAN=Y\r\nKOVEXSERVER=127.0.0.1\r\nKOVEXPORT=%s\r\n[WINSIZE]\r\nWIDTH=552\r\nHEIGHT=200\r\n' "$port" > KOVEXFuel.INI

LC_ALL=C SDL_VIDEODRIVER=x11 "$bin/KOVEXFuel" &
panel=$!
window=$(find_window "Kelvo Oil - Fuel Flow Panel v1.2 - Freeware \[NETWORK\]")
[ -n "$window" ] || fail "no window with the network title"
# The start-up read and four whole frames: the panel is drawn.
wait_for 60 requests_at_least 44 || fail "fewer than 44 requests from the panel: $(grep -c '^request' server.log)"
xset r off
# The model is frozen, so every frame shows the same needles.
import -window "$window" c-locale.png || fail "no screen shot of the panel"

# Ends the panel with a held Esc and waits until the server has seen it leave (count lines).
end_panel() {
  xdotool mousemove --window "$window" 20 20
  xdotool keydown Escape; sleep 0.5; xdotool keyup Escape
  wait_for 30 panel_ended || fail "Esc did not end the panel"
  wait "$panel" || fail "the panel's exit code was not 0"
  wait_for 30 left_at_least "$1" || fail "the server did not see the panel leave"
}
end_panel 1
requests=$(sed -n 's/^request [^ ]* //p' server.log)

expected="2944,4,1 2968,4,1 2940,4,1 2964,4,1"
frame="2328,8,2 2480,8,2 2232,2,4 2384,2,4 2234,2,6 2386,2,6 2196,2,6 2348,2,6 612,2,4 13157,1,3"
count=$(echo "$requests" | wc -l)
[ $(( (count - 4) % 10 )) -eq 0 ] || fail "$count requests: not the start-up read plus whole frames"
for _ in $(seq $(( (count - 4) / 10 ))); do expected="$expected $frame"; done
[ "$(echo $requests)" = "$expected" ] || fail "requests out of order: $(echo $requests | head -c 400)"

# A locale of our own, made without root; the check shows it is live before the panel relies on it.
mkdir locales
localedef -i de_DE -f UTF-8 locales/de_DE.UTF-8 >/dev/null 2>&1 || fail "localedef could not make de_DE.UTF-8"
[ "$(LOCPATH=locales LC_ALL=de_DE.UTF-8 /usr/bin/printf '%.1f' 0.5)" = "0,5" ] || fail "the German locale is not in effect"
before=$(grep -c '^request' server.log)
LOCPATH=$work/locales LC_ALL=de_DE.UTF-8 SDL_VIDEODRIVER=x11 "$bin/KOVEXFuel" 2> panel.err &
panel=$!
window=$(find_window "Kelvo Oil - Fuel Flow Panel v1.2 - Freeware \[NETWORK\]")
[ -n "$window" ] || fail "no window with the network title in the German locale: $(cat panel.err)"
requests_or_end() { requests_at_least "$1" || panel_ended; }
wait_for 60 requests_or_end $((before + 44))
kill -0 "$panel" 2>/dev/null || fail "the panel ended in the German locale: $(cat panel.err)"
requests_at_least $((before + 44)) || fail "fewer than 44 requests from the panel in the German locale"
import -window "$window" de-locale.png || fail "no screen shot of the panel in the German locale"
changed=$(compare -metric AE c-locale.png de-locale.png null: 2>&1 | cut -d' ' -f1)
[ "$changed" = "0" ] || fail "the German locale drew another panel ($changed pixels differ)"
end_panel 2
[ -s panel.err ] && fail "the panel reported in the German locale: $(cat panel.err)"

kill "$server"; wait "$server"
SDL_VIDEODRIVER=offscreen "$bin/KOVEXFuel" 2> panel.err
code=$?
[ "$code" -ne 0 ] || fail "exit code 0 with the server gone"
grep -qx 'Error: initialization failed.' panel.err || fail "no initialization message: $(cat panel.err)"
echo "1 passed, 0 failed"
