#!/usr/bin/env bash
# The launcher's first-start copy of the sample settings file, in homes of its own: a fresh home gets
# the whole sample; a symbolic link into a dotfiles folder whose file is not there yet stays as it
# is; a file that a panel makes between the launcher's look and its copy is kept; a folder under the
# settings file's name stops the launcher with a message before the panel starts. The launcher runs
# with its paths filled in as the package fills them; its panel is a recorder of where it started
# (tests/package/in_root.sh starts the real one from the installed package).
# Usage: launcher_test.sh <kovexfuel.in> <assets folder>
set -u
template=$1
assets=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }

mkdir "$work/data" "$work/bin"
cp "$assets"/*.txr "$assets"/lcd.bmp "$assets"/plane2.ico "$assets"/KOVEXFuel.INI "$work/data/"
printf '#!/bin/sh\npwd >>"%s/panel.ran"\n' "$work" >"$work/panel"
chmod +x "$work/panel"
sed -e "s|@KOVEX_DATA_PATH@|$work/data|" -e "s|@KOVEX_PANEL_PROGRAM@|$work/panel|" "$template" >"$work/kovexfuel"
chmod +x "$work/kovexfuel"

# Runs the launcher for the home $1 (extra PATH folders in $2); its output lands in $work/out.
launch() {
  rm -f "$work/panel.ran"
  env -u XDG_CONFIG_HOME HOME="$1" PATH="${2:+$2:}$PATH" "$work/kovexfuel" >"$work/out" 2>&1
}
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
echo "1 passed, 0 failed"
