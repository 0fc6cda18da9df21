// Socket seam: IPv4 stream and datagram sockets with WinSock-1.1-shaped calls on plain types.
// Backends:
// - posix: BSD sockets; errno and resolver codes are turned into the WinSock codes callers expect.
// - win32: WinSock as it is (WSAStartup, select, ioctlsocket, WSAGetLastError).
#pragma once

#include <cstdint>
#include <string>

namespace plat {

// A socket handle as the desktop's 32-bit SOCKET value; -1 is no socket.
using SocketHandle = std::int32_t;
constexpr SocketHandle kNoSocket = -1;

constexpr std::uint16_t kAddressFamilyInet = 2;  // AF_INET
constexpr std::int32_t kSocketTypeStream = 1;    // SOCK_STREAM
constexpr std::int32_t kProtocolTcp = 6;         // IPPROTO_TCP
constexpr std::int32_t kSocketTypeDatagram = 2;  // SOCK_DGRAM
constexpr std::int32_t kProtocolUdp = 17;        // IPPROTO_UDP

// An IPv4 socket address laid out as the 16-byte sockaddr_in: port and address in network byte order.
struct SocketAddressV4 {
    std::uint16_t family = kAddressFamilyInet;
    std::uint16_t port = 0;
    std::uint32_t address = 0;
    std::uint8_t zero[8] = {};
};
static_assert(sizeof(SocketAddressV4) == 16, "the socket address is the platform's 16-byte record");

// Error codes are WinSock codes on every platform (10000 + the BSD error number, 11001..11004 for
// the resolver), so that one table of texts serves all backends. A code with no WinSock
// counterpart is passed on as the platform's own number.
constexpr std::int32_t kErrorWouldBlock = 10035;
constexpr std::int32_t kErrorMessageSize = 10040;
constexpr std::int32_t kErrorConnectionReset = 10054;
constexpr std::int32_t kErrorVersionNotSupported = 10092;
constexpr std::int32_t kErrorHostNotFound = 11001;

// Starts the socket library for the requested version (major in the low byte, minor in the high
// byte, as 0x0101 for 1.1). 0 on success, else the error code (the caller's last error is not set).
std::int32_t SocketStartup(std::uint16_t version);
// How many times SocketStartup has succeeded in this process.
std::int32_t SocketStartupCount();

// A new socket, or kNoSocket with the last error set. Writing to a peer that has gone never
// signals the process: the failure comes back as an error code instead.
SocketHandle OpenSocket(std::int32_t family, std::int32_t type, std::int32_t protocol);

// Blocking connect. 0, or -1 with the last error set.
std::int32_t ConnectSocket(SocketHandle handle, const SocketAddressV4& address);

// Starts a connect without waiting for it; the socket stays non-blocking. 0 connected at once, 1 under
// way (wait until writable, then ask ConnectOutcome), -1 failed with the last error set.
std::int32_t StartConnect(SocketHandle handle, const SocketAddressV4& address);
// The outcome of a connect under way once the socket is writable: 0 connected, -1 failed with the
// last error set to the reason (refused, unreachable ...).
std::int32_t ConnectOutcome(SocketHandle handle);

// Binds to a local address; port 0 picks a free one. 0, or -1 with the last error set.
std::int32_t BindSocket(SocketHandle handle, const SocketAddressV4& address);
// The address the socket is bound to. 0, or -1 with the last error set.
std::int32_t LocalAddress(SocketHandle handle, SocketAddressV4& address);

// One datagram to an address, without waiting: the byte count sent, or -1 with the last error set.
std::int32_t SendDatagram(SocketHandle handle, const void* data, std::int32_t count, const SocketAddressV4& to);
// One queued datagram, without waiting: its byte count, with the sender in from; -1 with the last
// error set: kErrorWouldBlock when none is queued, kErrorMessageSize when it was longer than count
// (the rest of it is gone), kErrorConnectionReset when an earlier datagram was refused (WinSock
// reports that on the next receive; the socket goes on working).
std::int32_t ReceiveDatagram(SocketHandle handle, void* buffer, std::int32_t count, SocketAddressV4& from);

// Readiness of one socket within a time-out of seconds and microseconds; a negative seconds value
// waits without limit. 1 ready, 0 timed out, -1 failed with the last error set. A socket whose peer
// has closed, or that has a pending error, counts as readable, as with select.
std::int32_t WaitSocketReadable(SocketHandle handle, std::int32_t seconds, std::int32_t microseconds);
std::int32_t WaitSocketWritable(SocketHandle handle, std::int32_t seconds, std::int32_t microseconds);

// Sends what the socket takes at once without waiting for buffer space: the byte count taken
// (possibly fewer than count), or -1 with the last error set (kErrorWouldBlock when nothing fits).
std::int32_t SendBytes(SocketHandle handle, const void* data, std::int32_t count);

// One receive of up to count bytes: the count received, 0 when the peer has closed, -1 with the
// last error set.
std::int32_t ReceiveBytes(SocketHandle handle, void* buffer, std::int32_t count);

// The number of bytes queued for reading (FIONREAD). 0, or -1 with the last error set.
std::int32_t BytesAvailable(SocketHandle handle, std::int32_t& count);

// The connected peer's address. 0, or -1 with the last error set.
std::int32_t PeerAddress(SocketHandle handle, SocketAddressV4& address);

// shutdown with how = 0 receive, 1 send, 2 both. 0, or -1 with the last error set.
std::int32_t ShutdownSocket(SocketHandle handle, std::int32_t how);

// Closes the handle. 0, or -1 with the last error set.
std::int32_t CloseSocket(SocketHandle handle);

// The calling thread's last socket error code, as WSAGetLastError; set by it as WSASetLastError.
std::int32_t LastSocketError();
void SetLastSocketError(std::int32_t code);

// The first IPv4 address of a host name, in network byte order. False with the last error set to a
// resolver code (11001 host not found ... 11004 no address) when there is none. Names under the
// reserved domain "invalid" are refused at once without asking the network.
bool ResolveHostName(const std::string& name, std::uint32_t& address);

// The port of a service name for any protocol, in network byte order. False when none is known.
bool ServicePort(const std::string& name, std::uint16_t& port);

}  // namespace plat
