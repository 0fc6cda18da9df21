#!/usr/bin/env bash
# Builds the benchmark programs if needed, runs them all once and prints one table of their figures.
# Usage: bench/run.sh [build dir]   (default build-bench)
# Installs what is missing first, redis-server included (the server is measured beside its PING);
# KOVEX_NO_INSTALL=1 skips that, and a missing redis-server then leaves its rows skipped.
set -euo pipefail
cd "$(dirname "$0")/.."
[ "${KOVEX_NO_INSTALL:-}" = 1 ] || scripts/install-deps.sh --bench
dir=${1:-build-bench}
# An existing tree keeps its build type; a new one gets the optimised one with symbols.
if [ -f "$dir/CMakeCache.txt" ]; then cmake -S . -B "$dir" >/dev/null
else cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null; fi
cmake --build "$dir" -j "$(nproc)" --target kovex-bench-simlink kovex-bench-network kovex-bench-server \
  kovex-bench-render kovex-bench-startup kovex-bench-bridge kovex-server kovex-find kovex-test-xplane >/dev/null
bin=$dir/bin
export SDL_VIDEODRIVER=offscreen

simlink=$("$bin/kovex-bench-simlink")
network=$("$bin/kovex-bench-network")
server=$("$bin/kovex-bench-server")
render=$("$bin/kovex-bench-render")
bridge=$("$bin/kovex-bench-bridge")
web=$(python3 bench/web/web_bench.py "$bin/kovex-server")
find=$(sh bench/find/find_bench.sh "$bin")
# In a network namespace of its own, so the beacons stay on this machine.
beacon=$(sh tests/bridge/netns.sh python3 bench/autofind/beacon_bench.py "$bin")
mqtt=$(python3 bench/mqtt/mqtt_bench.py "$bin/kovex-server" "$bin/kovex-test-xplane" 2>/dev/null || true)
# Start-up and memory: each side in its own process, best of three starts.
best() { sort -g | head -1; }
panel_ms=$(for i in 1 2 3; do "$bin/kovex-bench-startup" --panel; done | awk '/^first frame ms/ {print $4}' | best)
bare_ms=$(for i in 1 2 3; do "$bin/kovex-bench-startup" --bare; done | awk '/^first frame ms/ {print $4}' | best)
panel_kib=$("$bin/kovex-bench-startup" --panel | awk '/^resident KiB/ {print $3}')
bare_kib=$("$bin/kovex-bench-startup" --bare | awk '/^resident KiB/ {print $3}')
# The panel's own loop for 5 s beside the stand-in, on an X server, where every swap shows its frame.
loop=$(xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" env SDL_VIDEODRIVER=x11 "$bin/kovex-bench-startup" --loop 5)

# field TEXT PATTERN N: the Nth blank-separated field of the first line matching PATTERN.
field() { printf '%s\n' "$1" | awk -v p="$2" -v n="$3" 'index($0, p) {print $n; exit}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }
row() { printf '%-44s %14s %14s %8s\n' "$1" "$2" "$3" "$4"; }

fsuipc=$(field "$simlink" "ten-read frame exchange:" 5)
bare_rt=$(field "$simlink" "bare message round trip:" 6)
frame=$(field "$network" "frame of ten requests" 8)
tcp=$(field "$network" "ten bare TCP round trips" 9)
ours1=$(field "$server" "kovex-server (panel requests)" 4)
ours50=$(field "$server" "kovex-server (panel requests)" 5)
redis1=$(field "$server" "redis-server PING" 3)
redis50=$(field "$server" "redis-server PING" 4)
draw=$(field "$render" "panel frame at" 7)
quads=$(field "$render" "bare replay of its" 9)
recreate=$(field "$render" "window re-creation" 6)
cpu_frame=$(field "$loop" "cpu ms per frame" 5)
wall_frame=$(field "$loop" "wall ms per frame" 5)
age_max=$(printf '%s\n' "$bridge" | sed -n 's/^value age.* max \([0-9.]*\) .*/\1/p')
age_target=$(printf '%s\n' "$bridge" | sed -n 's/^value age.*target <= \([0-9.]*\)).*/\1/p')
bridge_us=$(printf '%s\n' "$bridge" | sed -n 's/^server per request.*(us): \([0-9.]*\) .*/\1/p')
model_us=$(printf '%s\n' "$bridge" | sed -n 's/^server per request.*(us): [0-9.]* \([0-9.]*\) .*/\1/p')
web_age=$(printf '%s\n' "$web" | sed -n 's/^value age at the browser.* max *\([0-9.]*\) ms.*/\1/p')
web_target=$(printf '%s\n' "$web" | sed -n 's/^value age at the browser.*at most \([0-9.]*\) ms.*/\1/p')
web_idle=$(printf '%s\n' "$web" | sed -n 's/^server CPU time per second, no browser *\([0-9.]*\) ms/\1/p')
beacon_median=$(printf '%s\n' "$beacon" | sed -n 's/^beacon to first.* median \([0-9.]*\) .*/\1/p')
beacon_target=$(printf '%s\n' "$beacon" | sed -n 's/^beacon to first.*target <= \([0-9.]*\)).*/\1/p')
web_busy=$(printf '%s\n' "$web" | sed -n 's/^server CPU time per second, 20 browsers *\([0-9.]*\) ms/\1/p')
find_best=$(printf '%s\n' "$find" | sed -n 's/^server start to --find.*(ms): \([0-9]*\) .*/\1/p')
find_worst=$(printf '%s\n' "$find" | sed -n 's/^server start to --find.*(ms): [0-9]* \([0-9]*\) .*/\1/p')
mqtt_age=$(printf '%s\n' "$mqtt" | sed -n 's/^value age at the subscriber.* max *\([0-9.]*\) over.*/\1/p')
mqtt_target=$(printf '%s\n' "$mqtt" | sed -n 's/^value age at the subscriber.*target <= \([0-9.]*\)).*/\1/p')
mqtt_idle=$(printf '%s\n' "$mqtt" | sed -n 's/^server CPU time per second, 5 panels *\([0-9.]*\) ms$/\1/p')
mqtt_busy=$(printf '%s\n' "$mqtt" | sed -n 's/^server CPU time per second, 5 panels, MQTT *\([0-9.]*\) ms.*/\1/p')
[ -n "$redis1" ] || echo "redis-server is not installed: its column is skipped" >&2

echo "KOVEXFuel benchmarks, $(nproc) cores, $(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)," \
  "GL renderer $(printf '%s\n' "$render" | sed -n 's/^renderer: //p')"
row "measure" "KOVEXFuel" "baseline" "ratio"
row "FSUIPC frame exchange / bare round trip (us)" "$fsuipc" "$bare_rt" "$(ratio "$fsuipc" "$bare_rt")"
row "network frame, 10 requests / 10 TCP rt (us)" "$frame" "$tcp" "$(ratio "$frame" "$tcp")"
row "server / redis PING, 1 client (per s)" "$ours1" "${redis1:-skipped}" "$(ratio "$ours1" "$redis1")"
row "server / redis PING, 50 clients (per s)" "$ours50" "${redis50:-skipped}" "$(ratio "$ours50" "$redis50")"
row "drawing one frame / bare quads (ms)" "$draw" "$quads" "$(ratio "$draw" "$quads")"
row "window re-creation (ms)" "$recreate" "" ""
row "start to first frame / bare GL window (ms)" "$panel_ms" "$bare_ms" "$(ratio "$panel_ms" "$bare_ms")"
row "resident memory / bare GL window (KiB)" "$panel_kib" "$bare_kib" "$(ratio "$panel_kib" "$bare_kib")"
row "CPU time per shown frame / wall time (ms)" "$cpu_frame" "$wall_frame" "$(ratio "$cpu_frame" "$wall_frame")"
row "X-Plane value age at reply, max/target (ms)" "$age_max" "$age_target" "$(ratio "$age_max" "$age_target")"
row "server per request, X-Plane / model (us)" "$bridge_us" "$model_us" "$(ratio "$bridge_us" "$model_us")"
row "web value age, max / target (ms)" "$web_age" "$web_target" "$(ratio "$web_age" "$web_target")"
row "server CPU per s, 20 browsers / none (ms)" "$web_busy" "$web_idle" "$(ratio "$web_busy" "$web_idle")"
row "server start to --find, worst/target (ms)" "${find_worst:-skipped}" "3000" "$(ratio "$find_worst" 3000)"
row "beacon to X-Plane value, median/target (ms)" "$beacon_median" "$beacon_target" "$(ratio "$beacon_median" "$beacon_target")"
row "MQTT value age, max / target (ms)" "${mqtt_age:-skipped}" "$mqtt_target" "$(ratio "$mqtt_age" "$mqtt_target")"
row "server CPU per s, 5 panels, MQTT / none (ms)" "${mqtt_busy:-skipped}" "$mqtt_idle" "$(ratio "$mqtt_busy" "$mqtt_idle")"
