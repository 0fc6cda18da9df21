#!/bin/sh
# Sourced: a private avahi daemon for a test or benchmark. Runs the caller again inside a network and
# mount namespace of its own (unshare --mount --net), sets up its loopback for multicast, a D-Bus
# system bus of its own in $work, and start_avahi N. The caller defines skip REASON; $work, $pids
# and wait_for FILE PATTERN come from here.
if [ -z "${KOVEX_AVAHI_NAMESPACE:-}" ]; then
  reason=$(unshare --mount --net true 2>&1) || skip "unshare --mount --net refused: $reason"
  KOVEX_AVAHI_NAMESPACE=1 exec unshare --mount --net sh "$0" "$@"
fi
command -v avahi-daemon >/dev/null && command -v dbus-daemon >/dev/null || skip "avahi-daemon or dbus-daemon is not installed"
out=$( { ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo; } 2>&1) ||
  skip "the namespace's loopback could not be set up: $out"
mkdir -p /run/avahi-daemon 2>/dev/null; mount -t tmpfs tmpfs /run/avahi-daemon 2>/dev/null ||
  skip "no private /run/avahi-daemon for the daemon's pid file"

work=$(mktemp -d)
pids=""
trap 'kill $pids 2>/dev/null; rm -rf "$work"' EXIT
# Waits up to 10 s for a line matching $2 in file $1.
wait_for() {
  for _ in $(seq 200); do grep -q "$2" "$1" 2>/dev/null && return 0; sleep 0.05; done
  return 1
}

cat > "$work/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$work/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow receive_sender="*"/>
  </policy>
</busconfig>
CONF
cat > "$work/avahi.conf" <<CONF
[server]
host-name=kovextest
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
ratelimit-interval-usec=0
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
CONF
export DBUS_SYSTEM_BUS_ADDRESS=unix:path=$work/bus
dbus-daemon --config-file="$work/bus.conf" --nofork > "$work/dbus.log" 2>&1 &
pids="$pids $!"
for _ in $(seq 200); do [ -S "$work/bus" ] && break; sleep 0.05; done
[ -S "$work/bus" ] || skip "dbus-daemon did not start: $(cat "$work/dbus.log")"
start_avahi() {
  avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits > "$work/avahi$1.log" 2>&1 &
  avahi=$!
  pids="$pids $avahi"
  wait_for "$work/avahi$1.log" "Server startup complete" || skip "avahi-daemon did not start: $(cat "$work/avahi$1.log")"
}
