#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan + UBSan) into build-fuzz/ and runs each of them.
#   scripts/fuzz.sh                 about 30 s per target (FUZZ_SECONDS overrides)
#   scripts/fuzz.sh --long [secs]   a long run, 1800 s per target unless told
#   scripts/fuzz.sh ... -- target   only the named targets
# The corpus of each target grows in build-fuzz/corpus/<target>/ from run to run. A crash leaves
# its input in build-fuzz/artifacts/<target>/ and fails the command.
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD
seconds=${FUZZ_SECONDS:-30}
if [ "${1:-}" = "--long" ]; then
  shift
  seconds=1800
  if [[ "${1:-}" =~ ^[0-9]+$ ]]; then seconds=$1; shift; fi
fi
[ "${1:-}" = "--" ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(fuzz_bitmap fuzz_settings fuzz_icon fuzz_reply fuzz_request fuzz_simlink_area)

command -v clang++-14 >/dev/null || { echo "fuzz.sh: clang++-14 is missing (scripts/install-deps.sh)"; exit 1; }
CC=clang-14 CXX=clang++-14 cmake -S . -B build-fuzz -DKOVEX_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build-fuzz -j "$(nproc)" >/dev/null

work=$source_dir/build-fuzz
seeds() {  # target corpus-dir: puts the target's seed inputs into the corpus
  local target=$1 dir=$2
  case $target in
    fuzz_bitmap)
      cp "$source_dir"/assets/*.txr "$source_dir"/assets/lcd.bmp "$dir"/
      local suite=$source_dir/../shared/corpus/bmpsuite
      if [ -d "$suite" ]; then
        find "$suite" -type f -name '*.bmp' | while read -r f; do
          cp "$f" "$dir/suite_$(basename "$(dirname "$f")")_$(basename "$f")"
        done
      fi ;;
    fuzz_icon) cp "$source_dir"/assets/plane2.ico "$dir"/ ;;
    fuzz_settings) cp "$source_dir"/assets/KOVEXFuel.INI "$dir"/ ;;
    fuzz_reply) printf '\x01\x01\x0512.5\x00\x00\x04-3e2\x00' >"$dir/seed1"; printf '\x00\x09 1000.25 \x00' >"$dir/seed2" ;;
    fuzz_request) printf '\x02\x00\x00\x00\x00\x00\x00\xf0\x3f2944,4,1' >"$dir/seed1"; printf '\x0613157,1,3' >"$dir/seed2" ;;
    fuzz_simlink_area) printf '\x03\x04\x00\x10\x08\x20\x0b\x44\x00\x04\x01\x01\x00\x00\x01\x02\x03\x04' >"$dir/seed1" ;;
  esac
}

status=0
summary=()
for target in "${targets[@]}"; do
  corpus=$work/corpus/$target
  artifacts=$work/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  seeds "$target" "$corpus"
  log=$work/$target.log
  # Replies and simulator areas are read in many small steps: long inputs only slow the search down.
  extra=()
  case $target in fuzz_reply|fuzz_simlink_area) extra=(-max_len=1024) ;; esac
  echo "== $target: ${seconds} s"
  if "$work/bin/$target" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 \
       -artifact_prefix="$artifacts/" -print_final_stats=1 "${extra[@]}" >"$log" 2>&1; then
    result=ok
  else
    result=FAILED
    status=1
    grep -E "ERROR|SUMMARY|runtime error|Test unit written" "$log" | head -20 || true
  fi
  runs=$(grep -oE 'stat::number_of_executed_units: *[0-9]+' "$log" | grep -oE '[0-9]+$' || echo "?")
  summary+=("$(printf '%-20s %-7s %12s executions in %s s' "$target" "$result" "$runs" "$seconds")")
done
printf '%s\n' "${summary[@]}"
exit $status
