#!/bin/sh
# From a server's start to kovex-find listing it, through a private avahi daemon: the launcher's
# --find runs this program, so this is how long a pilot waits after starting the server elsewhere.
# Prints "server start to --find listing it (ms): BEST WORST (target <= 3000)", over five starts.
# Usage: find_bench.sh <bin folder>
set -u
bin=$1
skip() { echo "server start to --find listing it: skipped ($*)"; exit 0; }
. "$(dirname "$0")/../../tests/announce/private_avahi.sh"
start_avahi 1
now_ms() { date +%s%3N; }
times=""
for run in 1 2 3 4 5; do
  start=$(now_ms)
  "$bin/kovex-server" --listen 0.0.0.0 --port 0 --name "Bench $run" --lifetime 30 > "$work/server$run.log" 2>&1 &
  server=$!
  pids="$pids $server"
  # Each look is one --find as a user would run it; a look that misses the server is followed by the next.
  listed=""
  for _ in $(seq 20); do
    if "$bin/kovex-find" --wait 2.5 2>/dev/null | grep -q "^Bench $run	"; then listed=$(now_ms); break; fi
  done
  kill "$server"
  wait "$server" 2>/dev/null
  [ -n "$listed" ] || { echo "server start to --find listing it: not listed within 20 looks"; exit 1; }
  times="$times $((listed - start))"
done
printf '%s\n' $times | sort -n | awk '{ t[NR] = $1 } END {
  printf "server start to --find listing it (ms): %d %d (target <= 3000)\n", t[1], t[NR] }'
