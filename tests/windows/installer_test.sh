#!/usr/bin/env bash
# The setup program under Wine, in a Wine prefix of its own: a silent install puts the files, the
# Start-menu shortcuts and the Uninstall key in place; the panel started as its shortcut starts it shows
# its FSUIPC title and saves its window's place in the installed settings file; a second run keeps the
# settings and repairs the programs; a running server stops an upgrade and a running panel an uninstall
# with exit code 2 and nothing changed; the registered quiet uninstall removes all but KOVEXFuel.INI.
# Usage: installer_test.sh <wine> <setup.exe> <bin folder> <assets folder> <version>   (DISPLAY set)
set -u
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../find_window.sh"
lnk_info="python3 $here/lnk_info.py"
wine=$1
setup=$2
bin=$3
assets=$4
version=$5
wineserver=$(dirname "$wine")/wineserver
[ -x "$wineserver" ] || wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)

work=$(mktemp -d)
# HOME too: a new prefix links its Desktop and Documents to the user's own folders.
export HOME=$work/home WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installers, and no menu entries of the host made from the shortcuts.
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
mkdir -p "$HOME" "$WINEPREFIX"
cd "$work"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  "$wineserver" -k >/dev/null 2>&1
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; for f in "$work"/*.log; do [ -f "$f" ] && { echo "--- $f"; tail -n 20 "$f"; }; done; exit 1; }

# The prefix is made once; the server stays for the whole test so each command starts quickly.
"$wineserver" -p >/dev/null 2>&1
"$wine" wineboot -i >"$work/wineboot.log" 2>&1 || fail "wineboot failed"
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1

profile=$("$wine" cmd /c set 2>/dev/null | tr -d '\r')
env_path() { sed -n "s/^$1=//p" <<<"$profile"; }
# C:\a\b -> the prefix's drive_c/a/b
unix_path() { local p=${1//\\//}; [ "${p:0:3}" = C:/ ] || return 1; echo "$WINEPREFIX/drive_c/${p:3}"; }
instdir_win="$(env_path LOCALAPPDATA)\\Programs\\KOVEXFuel"
instdir=$(unix_path "$instdir_win") || fail "LOCALAPPDATA is not on C: ($instdir_win)"
menu=$(unix_path "$(env_path APPDATA)\\Microsoft\\Windows\\Start Menu\\Programs\\KOVEXFuel") || fail "no APPDATA"
desktop=$(unix_path "$(env_path USERPROFILE)\\Desktop") || fail "no USERPROFILE"
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\KOVEXFuel'
reg_value() { sed -n "s/^ *$1 *REG_[A-Z_]* *//p" <<<"$values"; }
# Names, sizes and times of the installed files and shortcuts, and the key: what "nothing changed"
# compares. Not the settings file, which a running panel writes when it likes.
state() {
  find "$instdir" "$menu" -mindepth 1 ! -name KOVEXFuel.INI -printf '%p %s %T@\n' | sort
  "$wine" reg query "$key" 2>&1 | tr -d '\r'
}
run_panel() {
  (cd "$(unix_path "$1")" && KOVEX_NO_MESSAGE_BOXES=1 exec "$wine" "$2" </dev/null >"$work/panel.log" 2>&1) &
  panel_pid=$!
  pids+=("$panel_pid")
  window=$(find_window 'Kelvo Oil - Fuel Flow .*\[FSUIPC\]') || fail "no panel window with the FSUIPC title"
}
close_panel() {
  # A window the panel re-creates after a step is gone for a moment: asked again once it is back.
  for _ in 1 2 3 4 5; do
    "$wine" "$bin/kovex-wintool.exe" close OpenGl >>"$work/tool.log" 2>&1 && break
    "$wine" "$bin/kovex-wintool.exe" find OpenGl 5000 >>"$work/tool.log" 2>&1
  done
  timeout 20 tail --pid="$panel_pid" -f /dev/null || fail "the panel did not end on the close message"
  local code=0
  wait "$panel_pid" || code=$?
  [ "$code" -eq 0 ] || fail "the panel ended with code $code"
}

# A silent install: files, no desktop shortcut, Start-menu entries, the Uninstall key.
"$wine" "$setup" /S >"$work/setup.log" 2>&1 || fail "the silent install failed with code $?"
for file in KOVEXFuel.exe kovex-server.exe lcd.bmp plane2.ico README.txt uninstall.exe $(cd "$assets" && ls *.txr); do
  [ -s "$instdir/$file" ] || fail "$instdir/$file was not installed"
done
cmp -s "$assets/KOVEXFuel.INI" "$instdir/KOVEXFuel.INI" || fail "the first install did not write the sample settings"
[ ! -e "$desktop/KOVEXFuel.lnk" ] || fail "a silent install made a desktop shortcut"

check_link() {  # <name> <target> <arguments>
  [ -f "$menu/$1.lnk" ] || fail "no Start-menu entry $1"
  local info expected
  info=$($lnk_info "$menu/$1.lnk") || fail "$1.lnk is not a shell link"
  expected=$(printf 'target=%s\nworkdir=%s\nargs=%s' "$instdir_win\\$2" "$instdir_win" "$3")
  [ "$(grep -v '^icon=' <<<"$info")" = "$expected" ] || fail "$1.lnk: $info"
}
check_link KOVEXFuel KOVEXFuel.exe ""
check_link "KOVEXFuel server" kovex-server.exe "--web 8080"
check_link "KOVEXFuel read-me" README.txt ""
grep -qxF "icon=$instdir_win\\plane2.ico" <<<"$($lnk_info "$menu/KOVEXFuel.lnk")" || fail "the panel's entry lacks its icon"

values=$("$wine" reg query "$key" 2>&1 | tr -d '\r')
[ "$(reg_value DisplayName)" = KOVEXFuel ] || fail "DisplayName: $(reg_value DisplayName)"
[ "$(reg_value DisplayVersion)" = "$version" ] || fail "DisplayVersion $(reg_value DisplayVersion), not $version"
[ -n "$(reg_value Publisher)" ] || fail "no Publisher"
[ "$(reg_value DisplayIcon)" = "$instdir_win\\plane2.ico" ] || fail "DisplayIcon: $(reg_value DisplayIcon)"
[ "$(reg_value UninstallString)" = "\"$instdir_win\\uninstall.exe\"" ] || fail "UninstallString: $(reg_value UninstallString)"
quiet=$(reg_value QuietUninstallString)
[ "$quiet" = "\"$instdir_win\\uninstall.exe\" /S" ] || fail "QuietUninstallString: $quiet"
size_kb=$(( $(reg_value EstimatedSize) ))
actual_kb=$(( $(du -b --apparent-size -s "$instdir" | cut -f1) / 1024 ))
[ "$size_kb" -ge $(( actual_kb * 9 / 10 )) ] && [ "$size_kb" -le $(( actual_kb * 11 / 10 )) ] ||
  fail "EstimatedSize $size_kb KB for $actual_kb KB installed"

# The panel as its shortcut starts it, beside the simulator stand-in: it must find its files in the
# install folder and write its window's place into the settings file there.
"$wine" "$bin/kovex-simulator.exe" --lifetime 240 </dev/null >"$work/sim.log" 2>&1 &
pids+=($!)
"$wine" "$bin/kovex-wintool.exe" find UIPCMAIN 20000 >"$work/tool.log" 2>&1 || fail "the stand-in's window did not appear"
printf '[LAN]\r\nUSELAN=N\r\n[WINSIZE]\r\nWIDTH=552\r\nHEIGHT=200\r\n[WINBORDER]\r\nACTIVE=Y\r\n' >"$instdir/KOVEXFuel.INI"
link=$($lnk_info "$menu/KOVEXFuel.lnk")
run_panel "$(sed -n 's/^workdir=//p' <<<"$link")" "$(sed -n 's/^target=//p' <<<"$link")"
# F11 then Right: the panel steps its window and stores the new place; Right is held until it has.
# Keys reach the panel once Wine has given its window the input focus.
stored_x() { tr -d '\r' <"$instdir/KOVEXFuel.INI" | grep -A2 -x '\[WINDOW\]' | sed -n 's/^X=\([0-9][0-9]*\)$/\1/p'; }
for _ in $(seq 100); do [ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ] && break; sleep 0.1; done
[ "$(xdotool getwindowfocus 2>/dev/null)" = "$window" ] || fail "the panel's window did not get the focus"
xdotool keydown F11 keyup F11 keydown Right
for _ in $(seq 100); do [ -n "$(stored_x)" ] && break; sleep 0.1; done
xdotool keyup Right
[ -n "$(stored_x)" ] || fail "the panel did not save its window's place: $(cat "$instdir/KOVEXFuel.INI")"
close_panel
cp "$instdir/KOVEXFuel.INI" "$work/settings"

# The same setup again, over a damaged install: the programs come back, the settings stay as they were.
rm "$instdir/lcd.bmp"
"$wine" "$setup" /S >>"$work/setup.log" 2>&1 || fail "the upgrade failed with code $?"
[ -s "$instdir/lcd.bmp" ] || fail "the upgrade did not put the images back"
cmp -s "$work/settings" "$instdir/KOVEXFuel.INI" || fail "the upgrade replaced the settings: $(cat "$instdir/KOVEXFuel.INI")"

# A running server stops a silent upgrade before it touches anything: the panel's program written
# ahead of the server's would lose its extra byte, the missing image would come back.
rm "$instdir/lcd.bmp"
printf x >>"$instdir/KOVEXFuel.exe"
(cd "$instdir" && exec "$wine" kovex-server.exe --port 0 --lifetime 120 </dev/null >"$work/server.log" 2>&1) &
server_pid=$!
pids+=("$server_pid")
for _ in $(seq 200); do grep -q '^listening on' "$work/server.log" && break; sleep 0.1; done
grep -q '^listening on' "$work/server.log" || fail "the installed server did not start"
before=$(state)
code=0
"$wine" "$setup" /S >>"$work/setup.log" 2>&1 || code=$?
[ "$code" -eq 2 ] || fail "the upgrade beside a running server ended with code $code, not 2"
[ "$(state)" = "$before" ] || fail "the refused upgrade changed the install: $(diff <(echo "$before") <(state))"
kill "$server_pid"
wait "$server_pid" 2>/dev/null

# A running panel stops a silent uninstall. The uninstaller is run as a copy with _?=, the way to see
# its exit code: started as installed, it hands over to a copy in the temporary folder and ends at once.
run_panel "$instdir_win" "$instdir_win\\KOVEXFuel.exe"
mkdir "$work/copy"
cp "$instdir/uninstall.exe" "$work/copy/"
before=$(state)
code=0
"$wine" "$work/copy/uninstall.exe" /S "_?=$instdir_win" >"$work/uninstall.log" 2>&1 || code=$?
[ "$code" -eq 2 ] || fail "the uninstall beside a running panel ended with code $code, not 2"
[ "$(state)" = "$before" ] || fail "the refused uninstall changed the install: $(diff <(echo "$before") <(state))"
close_panel

# The quiet uninstall as Windows runs it, from the key; the key goes last, so its going ends the wait.
"$wine" "$(sed 's/^"\([^"]*\)".*/\1/' <<<"$quiet")" ${quiet##*\" } >>"$work/uninstall.log" 2>&1 || fail "the quiet uninstall failed with code $?"
for _ in $(seq 120); do "$wine" reg query "$key" >/dev/null 2>&1 || break; sleep 0.1; done
"$wine" reg query "$key" >/dev/null 2>&1 && fail "the Uninstall key is still there"
[ "$(ls -A "$instdir")" = KOVEXFuel.INI ] || fail "the uninstall left or removed other files: $(ls -A "$instdir")"
cmp -s "$work/settings" "$instdir/KOVEXFuel.INI" || fail "the uninstall changed the settings"
[ ! -e "$menu" ] || fail "the Start-menu entries are still there: $(ls -A "$menu")"
echo "Installer: installed, started from its shortcut, upgraded with the settings kept, refused while running, uninstalled"
