#!/usr/bin/env bash
# Installs what is missing, builds, and shows the panel on demo data: the network server flies the
# built-in twin-engine model on loopback and the panel reads it over TCP. Closing the panel stops
# the server. The working folder build/run/ keeps the images, the icon and the settings file, so
# the window's place and size stay from one run to the next.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
mkdir -p build/run
cp -n assets/* build/run/ 2>/dev/null || true
cd build/run
if [ ! -f demo.ini-made ]; then
  printf '[LAN]\r\nUSELAN=Y\r\nKOVEXSERVER=127.0.0.1\r\nKOVEXPORT=8765\r\n[WINDOW]\r\nX=40\r\nY=40\r\n[WINSIZE]\r\nWIDTH=1104\r\nHEIGHT=400\r\n[WINBORDER]\r\nACTIVE=Y\r\n' > KOVEXFuel.INI
  touch demo.ini-made
fi

# The flight runs ten times faster than real time, so the engines start within seconds. The server
# ends with this script: its input closes when the script is gone.
../bin/kovex-server --simulate --time-scale 10 --port 0 --exit-with-parent > server.log 2>&1 \
  < <(while kill -0 $$ 2>/dev/null; do sleep 1; done) &
server_pid=$!
trap 'kill "$server_pid" 2>/dev/null || true' EXIT
for _ in $(seq 50); do grep -q '^listening on' server.log && break; sleep 0.1; done
port=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' server.log)
[ -n "$port" ] || { cat server.log; exit 1; }
echo "demo server on 127.0.0.1:$port (log: build/run/server.log)"
sed -i "s/^KOVEXPORT=[0-9]*/KOVEXPORT=$port/" KOVEXFuel.INI
../bin/KOVEXFuel
