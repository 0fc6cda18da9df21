#!/bin/sh
# Runs a test program in a network namespace of its own: loopback up and carrying multicast, with a
# multicast route onto it, so beacons and probes never leave the machine nor meet a real simulator.
# Where the namespace cannot be had, the program runs outside it and skips, saying why.
# Usage: netns.sh PROGRAM [ARGS...]
if ! reason=$(unshare --net true 2>&1); then
  KOVEX_NETNS_REFUSED="unshare --net refused: $reason" exec "$@"
fi
exec unshare --net sh -c '
  if out=$( { ip link set lo up && ip link set lo multicast on && ip route add 224.0.0.0/4 dev lo; } 2>&1); then
    KOVEX_NETNS=1 exec "$@"
  fi
  KOVEX_NETNS_REFUSED="its loopback could not be set up: $out" exec "$@"' netns "$@"
