#!/usr/bin/env bash
# Installs the Debian packages the build, the panel and the tests need, and only those missing.
#   --bench        also what the benchmark table compares against (redis-server and its tools)
#   --flightgear   also Debian's FlightGear (about 2 GB), for tests/bridge/flightgear_real.sh only
set -euo pipefail
packages=(
  cmake make g++ pkg-config
  libgtest-dev
  libsdl2-dev libgl1-mesa-dev libglu1-mesa-dev libgl1-mesa-dri libegl1 libegl-mesa0
  libcairo2-dev libpng-dev fonts-dejavu-core
  xvfb xauth xdotool x11-xserver-utils locales imagemagick python3
  mingw-w64 wine wine64
  nsis
  clang-14 libclang-rt-14-dev
  dpkg-dev help2man lintian mmdebstrap
  libboost-dev python3 chromium
  libmosquitto-dev mosquitto mosquitto-clients
  mount procps iproute2
  libqrencode-dev zbar-tools
  libavahi-client-dev avahi-daemon avahi-utils dbus
)
for option in "$@"; do
  case $option in
    --bench) packages+=(redis-server redis-tools) ;;
    --flightgear) packages+=(flightgear) ;;
    *) echo "install-deps.sh: unknown option $option (--bench, --flightgear)" >&2; exit 2 ;;
  esac
done
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
