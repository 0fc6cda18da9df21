# Sourced by the end-to-end tests under Wine: arguments, a work folder holding the assets, clean-up of
# the panel and its companion (server or stand-in), and the panel's start and close.
# Usage of the sourcing script: <wine> <bin folder> <assets folder>   (DISPLAY and WINEPREFIX set)
set -u
. "$(dirname "${BASH_SOURCE[0]}")/../find_window.sh"
wine=$1
bin=$2
assets=$3
work=$(mktemp -d)
companion_pid=
panel_pid=
cleanup() {
  [ -n "$panel_pid" ] && kill "$panel_pid" 2>/dev/null
  [ -n "$companion_pid" ] && kill "$companion_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$work"/*.log; do [ -f "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }; done; exit 1; }

cp "$assets"/* "$work"/
cd "$work"

# Starts the panel in the work folder and waits for its GL window.
start_panel() {
  KOVEX_NO_MESSAGE_BOXES=1 "$wine" "$bin/KOVEXFuel.exe" </dev/null >panel.log 2>&1 &
  panel_pid=$!
  "$wine" "$bin/kovex-wintool.exe" find OpenGl 20000 >>tool.log 2>&1 || fail "the panel window did not appear"
}

# Sends the panel the close message; it must end within 30 s with code 0.
close_panel() {
  "$wine" "$bin/kovex-wintool.exe" close OpenGl >>tool.log 2>&1 || fail "the panel did not take the close message"
  local until=$(( $(date +%s) + 30 ))
  while kill -0 "$panel_pid" 2>/dev/null && [ "$(date +%s)" -lt "$until" ]; do sleep 0.1; done
  kill -0 "$panel_pid" 2>/dev/null && fail "the close message did not end the panel"
  local code=0
  wait "$panel_pid" || code=$?
  panel_pid=
  [ "$code" -eq 0 ] || fail "the panel ended with code $code"
}
