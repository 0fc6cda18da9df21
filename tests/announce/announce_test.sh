#!/bin/sh
# The server announced and found for real: avahi-daemon on a D-Bus system bus of this test's own, in
# the network and mount namespace unshare gives it (loopback carrying multicast, a private pid folder).
# Usage: announce_test.sh <bin folder> <launcher>
set -u
bin=$1
launcher=$2
skip() { echo "SKIP: $*"; exit 77; }
fail() { echo "FAIL: $*"; for f in "$work"/*.log; do echo "--- $f"; cat "$f"; done; exit 1; }
. "$(dirname "$0")/private_avahi.sh"
start_avahi 1

# Faults caught: a server that is not announced, or with the wrong port or source; one announced
# although --no-announce or loopback-only says not; a name collision that is not resolved.
"$bin/kovex-server" --listen 0.0.0.0 --port 0 --no-announce --name "Quiet" --lifetime 60 > "$work/quiet.log" 2>&1 &
pids="$pids $!"
"$bin/kovex-server" --port 0 --name "Loopback" --lifetime 60 > "$work/loopback.log" 2>&1 &
pids="$pids $!"
wait_for "$work/quiet.log" "^listening on" && wait_for "$work/loopback.log" "^listening on" || fail "the quiet servers did not start"
"$bin/kovex-server" --listen 0.0.0.0 --port 0 --web 0 --time-scale 0 --start-at 300 --log-requests --name "Cockpit" \
  --lifetime 60 > "$work/server.log" 2>&1 &
server=$!
pids="$pids $server"
wait_for "$work/server.log" 'announced on the network as "Cockpit"' || fail "the server was not announced"
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$work/server.log")
"$bin/kovex-server" --listen 0.0.0.0 --port 0 --xplane --name "Cockpit" --lifetime 60 > "$work/second.log" 2>&1 &
pids="$pids $!"
wait_for "$work/second.log" 'announcing as "Cockpit #2"' || fail "the taken name was not replaced and printed"
wait_for "$work/second.log" 'announced on the network as "Cockpit #2"' || fail "the second server was not announced"

XDG_CONFIG_HOME=$work/config sh "$launcher" --find > "$work/find.out" 2> "$work/find.err" || fail "--find failed: $(cat "$work/find.err")"
printf 'Cockpit\t127.0.0.1\t%s\tmodel\tkovextest.local\n' "$port" > "$work/expected"
grep -Fxq -f "$work/expected" "$work/find.out" || fail "--find did not list the server as $(cat "$work/expected"): $(cat "$work/find.out")"
grep -q "^Cockpit #2	127.0.0.1	[0-9]*	xplane	" "$work/find.out" || fail "--find did not list the second server: $(cat "$work/find.out")"
grep -q "Quiet\|Loopback" "$work/find.out" && fail "a server was listed that asked not to be: $(cat "$work/find.out")"
web=$(sed -n 's|^web page at http://[^:]*:\([0-9]*\)/.*$|\1|p' "$work/server.log")
timeout 10 avahi-browse -rtpk _http._tcp > "$work/http.out" 2>&1
grep -q "^=;lo;IPv4;Cockpit;_http._tcp;local;kovextest.local;127.0.0.1;$web;\"path=/\"" "$work/http.out" ||
  fail "the web page on port $web was not announced: $(cat "$work/http.out")"

# Faults caught: --use writing the wrong keys or values, losing the user's other settings, or a panel
# that does not take the network road with what was written.
XDG_CONFIG_HOME=$work/config sh "$launcher" --use "Cockpit" > "$work/use.log" 2>&1 || fail "--use failed: $(cat "$work/use.log")"
settings=$work/config/kovexfuel/KOVEXFuel.INI
grep -q '^USELAN=Y' "$settings" && grep -q '^KOVEXSERVER=127.0.0.1' "$settings" && grep -q "^KOVEXPORT=$port" "$settings" ||
  fail "the settings file does not point at the server: $(cat "$settings")"
grep -q '^\[WINSIZE\]' "$settings" || fail "the rest of the settings file was lost: $(cat "$settings")"
XDG_CONFIG_HOME=$work/config sh "$launcher" --use "Nobody" > "$work/nobody.log" 2>&1 && fail "--use of an unknown name succeeded"
XDG_CONFIG_HOME=$work/config SDL_VIDEODRIVER=offscreen LC_ALL=C sh "$launcher" > "$work/panel.log" 2>&1 &
panel=$!
pids="$pids $panel"
# The panel's start-up read, then a whole frame of dial values, asked of this server.
wait_for "$work/server.log" "^request .* 13157,1,3" || fail "the panel did not read the server's values"
kill "$panel"

# Fault caught: a server that hangs or ends when the daemon goes away, or does not come back with it.
kill "$avahi"
wait_for "$work/server.log" "announcing is off: the avahi daemon went away" || fail "the daemon's leaving was not said"
start_avahi 2
for _ in $(seq 200); do
  [ "$(grep -c 'announced on the network as "Cockpit"' "$work/server.log")" -ge 2 ] && break; sleep 0.05
done
[ "$(grep -c 'announced on the network as "Cockpit"' "$work/server.log")" -ge 2 ] || fail "no announcement once the daemon was back"
kill -0 "$server" 2>/dev/null || fail "the server ended with the daemon"
echo "PASS"
