#!/usr/bin/env bash
# Cross-builds the Windows programs into build-win/, packs the Windows zip, and runs the Windows tests
# under Wine on a private X server: one Wine prefix (made on first use) and one wineserver for the run.
# Arguments go to ctest (for example -R network_road to run one test). Exits non-zero when the build or
# any test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
build=${KOVEX_WINDOWS_BUILD_DIR:-$root/build-win}

cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64.cmake" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc)"
(cd "$build" && cpack -G ZIP >/dev/null)
echo "== Windows package: $(ls "$build"/KOVEXFuel-*-win64.zip)"

wine=$(command -v wine64 || true)
[ -x "$wine" ] || wine=/usr/lib/wine/wine64
wineserver=$(command -v wineserver || true)
[ -x "$wineserver" ] || wineserver=/usr/lib/wine/wineserver
logs=$build/wine-logs
mkdir -p "$logs"

export WINEPREFIX=$build/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
# No Mono or Gecko: their installers would ask on the screen, and nothing here needs them.
export WINEDLLOVERRIDES="mscoree,mshtml="

xvfb_pid=
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# A display number of the X server's own choosing, so parallel runs never collide.
display_file=$(mktemp)
Xvfb -displayfd 3 -noreset -screen 0 1280x1024x24 -nolisten tcp 3>"$display_file" >"$logs/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$display_file" ] && break; sleep 0.1; done
[ -s "$display_file" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=:$(head -n 1 "$display_file")
rm -f "$display_file"

# Wine's start-up is paid once: a persistent server, the prefix made or updated, helpers started here
# (with their output in a log, so no test's output pipe stays held by them).
mkdir -p "$WINEPREFIX"
"$wineserver" -p >"$logs/wineserver.log" 2>&1
"$wine" wineboot -i >"$logs/wineboot.log" 2>&1 || { echo "wineboot failed"; cat "$logs/wineboot.log"; exit 1; }
# Unmanaged windows: with no window manager on the X server, Wine would wait for one at every unmap.
"$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >"$logs/reg.log" 2>&1

# Window classes and atoms are desktop-wide, so the Windows tests run one at a time.
echo "== Windows build under Wine"
status=0
(cd "$build" && ctest -j1 --output-on-failure --timeout 300 "$@") || status=1
exit $status
