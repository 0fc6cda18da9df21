#!/usr/bin/env bash
# Runs as root inside the throwaway Debian root after "apt-get install ./kovexfuel_*.deb": the
# companion programs, their manual pages and the server's user unit; then the launcher as an ordinary
# user on an X server of its own: clear failures where it cannot make its folder or links, the folder
# and settings made at first start, a changed setting kept at the next, and the settings left behind
# by "apt-get remove".
# Usage: in_root.sh <the installed .deb>
set -u
. /root/find_window.sh
title="Kelvo Oil - Fuel Flow v1.2 - Freeware \[FSUIPC\]"
home=/home/pilot
folder=$home/.config/kovexfuel
settings=$folder/KOVEXFuel.INI

xvfb=
panel=
cleanup() {
  [ -n "$panel" ] && kill "$panel" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
  wait 2>/dev/null
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
ok() { echo "ok: $*"; }

# Companion programs, manual pages, menu entry and user unit.
kovex-server --help | head -n 1 | grep -q '^usage: kovex-server' || fail "kovex-server --help: $(kovex-server --help 2>&1 | head -n 3)"
for page in kovexfuel kovex-server kovex-simulator; do
  text=$(man -P cat "$page" 2>&1)
  grep -q '^SYNOPSIS' <<<"$text" && grep -q "$page" <<<"$text" || fail "man $page: $(head -n 5 <<<"$text")"
done
entry=/usr/share/applications/kovexfuel.desktop
command -v "$(sed -n 's/^Exec=//p' "$entry")" >/dev/null || fail "the menu entry's command is not on the PATH"
ls /usr/share/icons/hicolor/*/apps/"$(sed -n 's/^Icon=//p' "$entry")".png >/dev/null || fail "the menu entry's icon is missing"
unit_command=$(sed -n 's/^ExecStart=//p' /usr/lib/systemd/user/kovex-server.service)
$unit_command --port 0 --lifetime 1 | grep -q '^listening on 127.0.0.1:' || fail "the user unit's command does not serve: $unit_command"
ok "kovex-server --help, man pages of the three commands, menu entry and user unit"

display_file=$(mktemp)
# Only the socket inside this root: the host's X servers share the abstract socket names.
Xvfb -displayfd 3 -noreset -nolisten tcp -nolisten local -screen 0 1280x1024x24 3>"$display_file" >/tmp/xvfb.log 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || fail "Xvfb did not start: $(cat /tmp/xvfb.log)"
DISPLAY=:$(head -n 1 "$display_file")
export DISPLAY

# An ordinary user with nothing of the root's environment.
mkdir -p "$home/.config"
chown 65534:65534 "$home"
as_pilot() { setpriv --reuid=65534 --regid=65534 --clear-groups env -i PATH=/usr/bin:/bin HOME=$home DISPLAY="$DISPLAY" "$@"; }
start_panel() { as_pilot kovexfuel >/tmp/launcher.out 2>&1 & panel=$!; }
end_panel() {
  local window=$1 code
  xdotool mousemove --window "$window" 20 20
  sleep 0.3
  xdotool keydown Escape; sleep 0.3; xdotool keyup Escape
  for _ in $(seq 100); do kill -0 "$panel" 2>/dev/null || break; sleep 0.1; done
  kill -0 "$panel" 2>/dev/null && fail "Esc did not end the panel"
  wait "$panel"
  code=$?
  panel=
  [ "$code" -eq 0 ] || fail "the panel ended with $code after Esc: $(cat /tmp/launcher.out)"
}

# A folder it cannot make: a message, a non-zero exit, nothing half made.
as_pilot timeout 20 kovexfuel >/tmp/launcher.out 2>&1
code=$?
[ "$code" -ne 0 ] && [ "$code" -ne 124 ] || fail "no folder could be made, yet the launcher gave $code"
grep -q "kovexfuel: cannot create the folder $folder" /tmp/launcher.out || fail "no clear message: $(cat /tmp/launcher.out)"
[ ! -e "$folder" ] || fail "a folder was made although the launcher failed"
ok "a folder the launcher cannot make: clear message, exit $code"

# The same start once the user may write there: the folder, links and settings are made.
chown 65534:65534 "$home/.config"
start_panel
window=$(find_window "$title") || fail "no window titled $title: $(cat /tmp/launcher.out)"
grep -qx "kovexfuel: settings file $settings" /tmp/launcher.out || fail "the launcher did not say where the settings are: $(cat /tmp/launcher.out)"
[ -f "$settings" ] && [ ! -L "$settings" ] && [ "$(stat -c %u "$settings")" = 65534 ] || fail "no settings file of the user's own: $(ls -la "$folder")"
for image in /usr/share/kovexfuel/*.txr /usr/share/kovexfuel/lcd.bmp /usr/share/kovexfuel/plane2.ico; do
  [ "$(readlink "$folder/${image##*/}")" = "$image" ] || fail "$folder/${image##*/} is not a link to $image"
done
end_panel "$window"
ok "first start: window \"$title\", $folder with links and settings, exit 0 after Esc"

# A setting the user changed is used and kept by the next start.
as_pilot sed -i 's/^X=.*/X=123\r/' "$settings"
start_panel
window=$(find_window "$title") || fail "no window at the second start: $(cat /tmp/launcher.out)"
position=$(xdotool getwindowgeometry "$window" | sed -n 's/ *Position: \([0-9-]*\),.*/\1/p')
[ "$position" = 123 ] || fail "the window is at x=$position, not at the stored 123"
end_panel "$window"
grep -q '^X=123' "$settings" || fail "the changed setting was lost: $(tr '\r\n' '  ' <"$settings")"
ok "second start: the changed setting places the window and stays"

# A folder the launcher can no longer write to: a message and no panel, the settings untouched.
chmod 555 "$folder"
as_pilot timeout 20 kovexfuel >/tmp/launcher.out 2>&1
code=$?
chmod 755 "$folder"
[ "$code" -ne 0 ] && [ "$code" -ne 124 ] || fail "the links could not be made, yet the launcher gave $code"
grep -q "kovexfuel: cannot link" /tmp/launcher.out || fail "no clear message: $(cat /tmp/launcher.out)"
grep -q '^X=123' "$settings" || fail "the failed start changed the settings"
ok "a folder the launcher cannot write: clear message, exit $code"

# Removal leaves the user's settings.
DEBIAN_FRONTEND=noninteractive apt-get remove -y -q kovexfuel >/tmp/remove.log 2>&1 || fail "apt-get remove: $(tail -n 5 /tmp/remove.log)"
[ ! -e /usr/bin/kovexfuel ] || fail "the launcher is still installed after removal"
grep -q '^X=123' "$settings" || fail "removal lost the user's settings"
ok "apt-get remove keeps $settings"
echo "1 passed, 0 failed"
