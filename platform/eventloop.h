// Server-side TCP: listening, accepting, non-blocking reads and writes, readiness of many sockets, stop signals.
// Backends:
// - posix: non-blocking sockets with poll; writes never raise SIGPIPE; stop signals (SIGINT, SIGTERM)
//   arrive through a self-pipe.
// - win32: non-blocking WinSock sockets, select in short slices; stop requests come from the console
//   (Ctrl+C, Ctrl+Break, closing it) or from another process through a named event.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

// A socket handle; kNoNetSocket means none.
using NetSocket = std::int64_t;
constexpr NetSocket kNoNetSocket = -1;

// Listens for TCP connections on a numeric IPv4 address ("127.0.0.1", "0.0.0.0") and a port (0: any
// free port). The socket is non-blocking. On failure returns kNoNetSocket with the reason in error.
NetSocket NetListen(const std::string& address, std::uint16_t port, std::string& error);

// The address a socket is bound to, as "a.b.c.d:port", and its port alone (0 when unknown).
std::string NetLocalName(NetSocket socket);
std::uint16_t NetLocalPort(NetSocket socket);

// Takes one waiting connection off a listener. Returns kNoNetSocket when none is waiting (error empty)
// or when accepting failed (reason in error). The new socket is non-blocking, without send delay, with
// keep-alive as NetKeepAlive sets it, and peer holds its address as "a.b.c.d:port".
NetSocket NetAccept(NetSocket listener, std::string& peer, std::string& error);

// Keep-alive probes on an idle connection: a peer that went away without closing (a machine that
// slept or lost its network) fails the connection after about two minutes instead of holding a place
// for ever. Idle time, then that many unanswered probes this far apart; where the system fixes the
// count itself (older Windows: 10), the end comes later but still comes.
constexpr int kKeepAliveIdleSeconds = 60;
constexpr int kKeepAliveIntervalSeconds = 10;
constexpr int kKeepAliveProbes = 6;
// Turns them on for a connected TCP socket, also one made by another library (its native handle).
// False when the system refused any of the settings.
bool NetKeepAlive(NetSocket socket);

// Readies a TCP socket, before it is bound, to listen: a restart need not wait for the last run's
// closed connections to time out, yet a port another listener holds is refused, never shared.
// NetListen does this itself; it is for listeners made by another library (their native handle).
void NetPrepareListener(NetSocket socket);

// Connects to a numeric IPv4 address and port, waiting for the connection, then makes the socket
// non-blocking and without send delay. On failure returns kNoNetSocket with the reason in error.
NetSocket NetConnect(const std::string& address, std::uint16_t port, std::string& error);

// Moves bytes without waiting. Both return the count moved (> 0), kNetWouldBlock when nothing can move
// now, or kNetClosed when the peer has closed the connection or it failed. Writing to a closed peer
// never raises a signal.
constexpr long kNetWouldBlock = 0;
constexpr long kNetClosed = -1;
long NetRead(NetSocket socket, void* buffer, std::size_t size);
long NetWrite(NetSocket socket, const void* data, std::size_t size);

void NetClose(NetSocket socket);

// One socket to watch: the caller sets socket, wantRead and wantWrite; NetPoll sets the rest.
struct NetPollItem {
    NetSocket socket;
    bool wantRead;
    bool wantWrite;
    bool readable;  // also set when the peer closed or the socket failed: a read then says so
    bool writable;
};

// Waits up to timeoutMs (negative: no limit) until an item is ready or a stop is requested. Returns
// the number of ready items, 0 on time-out or stop request, -1 on failure.
int NetPoll(NetPollItem* items, std::size_t count, int timeoutMs);

// After InstallStopSignals, Ctrl+C and the system's polite termination request (SIGINT and SIGTERM
// here) set the stop flag and wake NetPoll instead of ending the process; a closed output pipe no longer
// ends it either.
bool InstallStopSignals();
bool StopRequested();

// Sends another process the polite termination request that InstallStopSignals catches.
bool RequestProcessStop(std::int64_t processId);

}  // namespace plat
