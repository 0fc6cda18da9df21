#!/usr/bin/env bash
# The launcher's first-start copy of the sample settings file, in homes of its own: a fresh home gets
# the whole sample; a symbolic link into a dotfiles folder whose file is not there yet stays as it
# is; a file that a panel makes between the launcher's look and its copy is kept; a folder under the
# settings file's name stops the launcher with a message before the panel starts. The launcher runs
# with its paths filled in as the package fills them; its panel is a recorder of where it started
# (tests/package/in_root.sh starts the real one from the installed package). With --auto, the real
# stand-in is started beside it, or left alone when one already runs.
# Usage: launcher_test.sh <kovexfuel.in> <assets folder> <kovex-simulator>
set -u
template=$1
assets=$2
simulator=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$work/data" "$work/bin"
cp "$assets"/*.txr "$assets"/lcd.bmp "$assets"/plane2.ico "$assets"/KOVEXFuel.INI "$work/data/"
# The panel notes whether the stand-in's socket is there, and with PANEL_HOLD waits for that file.
cat >"$work/panel" <<EOF
#!/bin/sh
pwd >>"$work/panel.ran"
[ -S "\${KOVEX_IPC_DIR:-/none}/UIPCMAIN" ] && echo "stand-in listens" >>"$work/panel.ran"
if [ -n "\${PANEL_HOLD:-}" ]; then
  echo \$\$ >"$work/panel.pid"
  while [ ! -e "\$PANEL_HOLD" ]; do sleep 0.05; done
fi
exit \${PANEL_EXIT:-0}
EOF
chmod +x "$work/panel"
sed -e "s|@KOVEX_DATA_PATH@|$work/data|" -e "s|@KOVEX_PANEL_PROGRAM@|$work/panel|" \
  -e "s|@KOVEX_SIMULATOR_PROGRAM@|$simulator|" "$template" >"$work/kovexfuel"
chmod +x "$work/kovexfuel"

# Runs the launcher for the home $1 (extra PATH folders in $2, its options after them); its output
# lands in $work/out.
launch() {
  rm -f "$work/panel.ran"
  local home=$1 path=${2:-}
  shift 2 2>/dev/null || shift
  env -u XDG_CONFIG_HOME HOME="$home" PATH="${path:+$path:}$PATH" "$work/kovexfuel" "$@" >"$work/out" 2>&1
}
# Waits up to 10 s for the command to succeed.
wait_for() {
  for _ in $(seq 200); do "$@" && return 0; sleep 0.05; done
  return 1
}
# Ended, as an orphan not yet reaped counts.
gone() { ! kill -0 "$1" 2>/dev/null || [ "$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1)" = Z ]; }
started_pid() { sed -n 's/^kovexfuel: started kovex-simulator --auto (process \([0-9]*\)).*/\1/p' "$work/out"; }
folder_of() { echo "$1/.config/kovexfuel"; }
partials_in() { find "$1" -maxdepth 1 -name '.KOVEXFuel.INI.*' | grep -q .; }

# A fresh home: the sample, whole and a regular file, and the panel started in the folder.
home=$work/fresh
mkdir "$home"
launch "$home" || fail "the first start failed: $(cat "$work/out")"
settings=$(folder_of "$home")/KOVEXFuel.INI
[ -f "$settings" ] && [ ! -L "$settings" ] && cmp -s "$settings" "$work/data/KOVEXFuel.INI" ||
  fail "no whole sample at $settings"
partials_in "$(folder_of "$home")" && fail "a partial copy was left: $(ls -A "$(folder_of "$home")")"
[ "$(cat "$work/panel.ran")" = "$(folder_of "$home")" ] || fail "the panel did not start in its folder"

# Catches a link into a dotfiles folder replaced by the sample because its file is not there yet.
home=$work/dotfiles
folder=$(folder_of "$home")
mkdir -p "$folder" "$home/dotfiles"
ln -s ../../dotfiles/KOVEXFuel.INI "$folder/KOVEXFuel.INI"
launch "$home" || fail "the start with a dangling link failed: $(cat "$work/out")"
[ -L "$folder/KOVEXFuel.INI" ] && [ "$(readlink "$folder/KOVEXFuel.INI")" = ../../dotfiles/KOVEXFuel.INI ] ||
  fail "the link was replaced: $(ls -l "$folder/KOVEXFuel.INI")"
[ -e "$home/dotfiles/KOVEXFuel.INI" ] && fail "a file was written through the link"
[ -s "$work/panel.ran" ] || fail "the panel did not start beside the link"

# Catches a file that a panel made between the launcher's look and its copy being overwritten: the
# cp on the PATH here makes the file first, as such a panel would.
home=$work/race
folder=$(folder_of "$home")
mkdir -p "$home"
printf '#!/bin/sh\nprintf "[WINDOW]\\r\\nX=77\\r\\n" >"$(dirname "$3")/KOVEXFuel.INI"\nexec /bin/cp "$@"\n' >"$work/bin/cp"
chmod +x "$work/bin/cp"
launch "$home" "$work/bin" || fail "the start that met a panel's new file failed: $(cat "$work/out")"
[ "$(cat "$folder/KOVEXFuel.INI")" = "$(printf '[WINDOW]\r\nX=77\r')" ] ||
  fail "the panel's file was replaced: $(tr '\r\n' '  ' <"$folder/KOVEXFuel.INI")"
partials_in "$folder" && fail "a partial copy was left beside the panel's file"

# Catches a folder under the settings file's name taking a hidden copy at every start.
home=$work/folder
folder=$(folder_of "$home")
mkdir -p "$folder/KOVEXFuel.INI"
launch "$home"
code=$?
[ "$code" -ne 0 ] || fail "a folder in the settings file's place, yet the launcher gave 0"
grep -qx "kovexfuel: the settings file $folder/KOVEXFuel.INI is a folder; move it out of the way" "$work/out" ||
  fail "no clear message: $(cat "$work/out")"
[ -z "$(ls -A "$folder/KOVEXFuel.INI")" ] || fail "something was put into the folder: $(ls -A "$folder/KOVEXFuel.INI")"
[ -e "$work/panel.ran" ] && fail "the panel started"

export KOVEX_IPC_DIR=$work/ipc
mkdir -m 700 "$KOVEX_IPC_DIR"
home=$work/auto
mkdir "$home"

# Catches --auto starting the panel before the stand-in listens, losing the panel's exit status, and
# leaving the stand-in running after the panel.
PANEL_EXIT=3 launch "$home" "" --auto
code=$?
[ "$code" -eq 3 ] || fail "the panel's status 3 came out as $code: $(cat "$work/out")"
grep -qx "stand-in listens" "$work/panel.ran" || fail "the panel started before the stand-in listened: $(cat "$work/out")"
pid=$(started_pid)
[ -n "$pid" ] || fail "no stand-in started: $(cat "$work/out")"
gone "$pid" || fail "the stand-in $pid still runs after the panel ended"
[ -e "$KOVEX_IPC_DIR/UIPCMAIN" ] && fail "the stopped stand-in left its socket behind"

# Catches a second stand-in started beside one that runs, and that one stopped with the panel.
"$simulator" --time-scale 0 </dev/null >/dev/null 2>&1 &
theirs=$!
trap 'kill $theirs 2>/dev/null; rm -rf "$work"' EXIT
wait_for test -S "$KOVEX_IPC_DIR/UIPCMAIN" || fail "the test's own stand-in did not start"
launch "$home" "" --auto || fail "the start beside a running stand-in failed: $(cat "$work/out")"
grep -q "a simulator already serves the FSUIPC road" "$work/out" || fail "not told of the running one: $(cat "$work/out")"
[ -z "$(started_pid)" ] || fail "a second stand-in was started: $(cat "$work/out")"
kill -0 "$theirs" 2>/dev/null || fail "the stand-in the launcher did not start was stopped"
kill "$theirs"
wait "$theirs" 2>/dev/null
rm -f "$KOVEX_IPC_DIR/UIPCMAIN"

# Catches a stand-in outliving a launcher that is killed outright, which no trap sees.
rm -f "$work/release" "$work/panel.pid"
PANEL_HOLD=$work/release env -u XDG_CONFIG_HOME HOME="$home" "$work/kovexfuel" --auto >"$work/out" 2>&1 &
launcher=$!
wait_for test -s "$work/panel.pid" || fail "the held panel did not start: $(cat "$work/out")"
pid=$(started_pid)
[ -n "$pid" ] || fail "no stand-in started for the held panel: $(cat "$work/out")"
kill -KILL "$launcher"
touch "$work/release"
wait "$launcher" 2>/dev/null
wait_for gone "$pid" || fail "the stand-in $pid outlived its killed launcher"

# Catches --auto starting a stand-in when the settings choose the network road, and none when
# USELAN=Y without a server leaves the panel on the FSUIPC road.
printf '[LAN]\r\nUSELAN=Y\r\nKOVEXSERVER=127.0.0.1\r\nKOVEXPORT=8765\r\n' >"$(folder_of "$home")/KOVEXFuel.INI"
PANEL_EXIT=5 launch "$home" "" --auto
code=$?
[ "$code" -eq 5 ] || fail "the network road's status 5 came out as $code"
grep -q "^kovexfuel: --auto is for the FSUIPC road" "$work/out" || fail "no word about the network road: $(cat "$work/out")"
grep -q "stand-in listens" "$work/panel.ran" && fail "a stand-in was started for the network road"
printf '[LAN]\r\nUSELAN=Y\r\n' >"$(folder_of "$home")/KOVEXFuel.INI"
launch "$home" "" --auto || fail "the start with USELAN=Y alone failed: $(cat "$work/out")"
grep -qx "stand-in listens" "$work/panel.ran" || fail "no stand-in for USELAN=Y without a server: $(cat "$work/out")"
echo "1 passed, 0 failed"
