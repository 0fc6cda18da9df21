// Multicast seam: hearing an IPv4 multicast group on every interface, and choosing the interface a
// multicast datagram leaves by. Sockets are the socket seam's; receive with ReceiveDatagram.
// Backends:
// - posix: getifaddrs for the interfaces; on Linux only the groups this socket joined are delivered.
// - win32: SIO_GET_INTERFACE_LIST for the interfaces.
#pragma once

#include <cstdint>

#include "platform/sockets.h"

namespace plat {

// A non-blocking UDP socket bound to port (network byte order) on every local address, sharing the
// port with other programs that listen to it too. It hears the group once JoinMulticastEverywhere
// has joined it. kNoSocket with the last error set when none can be had.
SocketHandle OpenMulticastListener(std::uint16_t port);

// Joins group (network byte order) on every IPv4 interface that is up and carries multicast. Safe
// to call again: interfaces joined before count without being joined twice, so calling it now and
// then takes in interfaces that came up later. The number of interfaces the socket now hears the
// group on; 0 with the last error set when there are none.
std::int32_t JoinMulticastEverywhere(SocketHandle handle, std::uint32_t group);

// Multicast datagrams from this socket leave by the interface that has this local address (network
// byte order) instead of the one the routes choose. 0, or -1 with the last error set.
std::int32_t SetMulticastInterface(SocketHandle handle, std::uint32_t interfaceAddress);

}  // namespace plat
