// Win32 server-side TCP: non-blocking WinSock sockets, select in short slices, and stop requests from
// the console (Ctrl+C, Ctrl+Break, closing the console) or from another process through a named event.
#include "platform/eventloop.h"

#include <atomic>
#include <cstdio>
#include <vector>

#include "platform/win32/winsock_common.h"

#include <mstcpip.h>

namespace plat {
namespace {

std::atomic<bool> stopFlag{false};
HANDLE stopEvent = nullptr;  // "Local\kovex-stop-<pid>", set by RequestProcessStop
// select cannot wait on the stop event: it waits in slices this long and looks between them.
constexpr int kSliceMs = 20;
// TCP_KEEPCNT, from Windows 10 1703 on; older headers and systems lack it.
constexpr int kTcpKeepCount = 16;

bool EnsureStarted() {
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

SOCKET Native(NetSocket socket) { return static_cast<SOCKET>(socket); }

bool MakeNonBlocking(SOCKET s) {
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

void NoSendDelay(SOCKET s) {
    BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

void NotInherited(SOCKET s) { ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0); }

std::string ErrorText(const char* what) { return std::string(what) + " failed, WinSock error " + std::to_string(::WSAGetLastError()); }

bool ParseAddress(const std::string& address, std::uint16_t port, sockaddr_in& out, std::string& error) {
    out = sockaddr_in{};
    out.sin_family = AF_INET;
    out.sin_port = ::htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &out.sin_addr) != 1) {
        error = "not a numeric IPv4 address: '" + address + "'";
        return false;
    }
    return true;
}

std::string NameOf(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = {0};
    ::inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(::ntohs(a.sin_port));
}

BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        stopFlag = true;
        return TRUE;
    }
    return FALSE;
}

bool StopSeen() {
    if (!stopFlag && stopEvent && ::WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0) stopFlag = true;
    return stopFlag;
}

// A TCP socket for the address, not inherited by child processes; INVALID_SOCKET with a reason.
SOCKET OpenStreamSocket(const std::string& address, std::uint16_t port, sockaddr_in& at, std::string& error) {
    error.clear();
    if (!ParseAddress(address, port, at, error)) return INVALID_SOCKET;
    if (!EnsureStarted()) {
        error = "the socket library did not start";
        return INVALID_SOCKET;
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        error = ErrorText("socket");
        return INVALID_SOCKET;
    }
    NotInherited(s);
    return s;
}

std::string StopEventName(std::int64_t processId) { return "Local\\kovex-stop-" + std::to_string(processId); }

}  // namespace

NetSocket NetListen(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_in at;
    const SOCKET s = OpenStreamSocket(address, port, at, error);
    if (s == INVALID_SOCKET) return kNoNetSocket;
    NetPrepareListener(static_cast<NetSocket>(s));
    if (::bind(s, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + ErrorText("bind");
        ::closesocket(s);
        return kNoNetSocket;
    }
    if (::listen(s, SOMAXCONN) != 0 || !MakeNonBlocking(s)) {
        error = ErrorText("listen");
        ::closesocket(s);
        return kNoNetSocket;
    }
    return static_cast<NetSocket>(s);
}

bool NetKeepAlive(NetSocket socket) {
    // The idle time and interval in one call that every version knows (it also turns keep-alive on).
    tcp_keepalive values{1, kKeepAliveIdleSeconds * 1000u, kKeepAliveIntervalSeconds * 1000u};
    DWORD returned = 0;
    const bool timed = ::WSAIoctl(Native(socket), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned,
                                  nullptr, nullptr) == 0;
    // Where the count cannot be set, the system's own (10) applies.
    const DWORD probes = kKeepAliveProbes;
    ::setsockopt(Native(socket), IPPROTO_TCP, kTcpKeepCount, reinterpret_cast<const char*>(&probes), sizeof probes);
    return timed;
}

void NetPrepareListener(NetSocket socket) {
    // SO_REUSEADDR would let a second program bind the port beside us here: exclusive use instead.
    BOOL exclusive = TRUE;
    ::setsockopt(Native(socket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive);
}

std::string NetLocalName(NetSocket socket) {
    sockaddr_in a{};
    int length = sizeof a;
    if (socket < 0 || ::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&a), &length) != 0) return std::string();
    return NameOf(a);
}

std::uint16_t NetLocalPort(NetSocket socket) {
    sockaddr_in a{};
    int length = sizeof a;
    if (socket < 0 || ::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&a), &length) != 0) return 0;
    return ::ntohs(a.sin_port);
}

NetSocket NetAccept(NetSocket listener, std::string& peer, std::string& error) {
    error.clear();
    peer.clear();
    sockaddr_in from{};
    int length = sizeof from;
    const SOCKET s = ::accept(Native(listener), reinterpret_cast<sockaddr*>(&from), &length);
    if (s == INVALID_SOCKET) {
        const int code = ::WSAGetLastError();
        if (code != WSAEWOULDBLOCK && code != WSAECONNRESET) error = ErrorText("accept");
        return kNoNetSocket;
    }
    NotInherited(s);
    if (!MakeNonBlocking(s)) {
        error = ErrorText("ioctlsocket");
        ::closesocket(s);
        return kNoNetSocket;
    }
    NoSendDelay(s);
    NetKeepAlive(static_cast<NetSocket>(s));
    peer = NameOf(from);
    return static_cast<NetSocket>(s);
}

NetSocket NetConnect(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_in to;
    const SOCKET s = OpenStreamSocket(address, port, to, error);
    if (s == INVALID_SOCKET) return kNoNetSocket;
    if (::connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
        error = "cannot connect to " + address + ":" + std::to_string(port) + ": " + ErrorText("connect");
        ::closesocket(s);
        return kNoNetSocket;
    }
    if (!MakeNonBlocking(s)) {
        error = ErrorText("ioctlsocket");
        ::closesocket(s);
        return kNoNetSocket;
    }
    NoSendDelay(s);
    return static_cast<NetSocket>(s);
}

long NetRead(NetSocket socket, void* buffer, std::size_t size) {
    if (size == 0) return kNetWouldBlock;
    const int chunk = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    const int n = ::recv(Native(socket), static_cast<char*>(buffer), chunk, 0);
    if (n > 0) return n;
    if (n == 0) return kNetClosed;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? kNetWouldBlock : kNetClosed;
}

long NetWrite(NetSocket socket, const void* data, std::size_t size) {
    if (size == 0) return kNetWouldBlock;
    const int chunk = size > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(size);
    const int n = ::send(Native(socket), static_cast<const char*>(data), chunk, 0);
    if (n > 0) return n;
    if (n == 0) return kNetWouldBlock;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? kNetWouldBlock : kNetClosed;
}

void NetClose(NetSocket socket) {
    if (socket >= 0) ::closesocket(Native(socket));
}

int NetPoll(NetPollItem* items, std::size_t count, int timeoutMs) {
    for (std::size_t i = 0; i < count; ++i) items[i].readable = items[i].writable = false;
    if (count > FD_SETSIZE) return -1;
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (StopSeen()) return 0;
        fd_set readSet, writeSet, errorSet;
        FD_ZERO(&readSet);
        FD_ZERO(&writeSet);
        FD_ZERO(&errorSet);
        bool any = false;
        for (std::size_t i = 0; i < count; ++i) {
            if (items[i].wantRead) FD_SET(Native(items[i].socket), &readSet);
            if (items[i].wantWrite) FD_SET(Native(items[i].socket), &writeSet);
            if (items[i].wantRead || items[i].wantWrite) {
                FD_SET(Native(items[i].socket), &errorSet);
                any = true;
            }
        }
        int slice = kSliceMs;
        if (timeoutMs >= 0) {
            const int left = timeoutMs - static_cast<int>(::GetTickCount() - start);
            if (left <= 0) slice = 0;
            else if (left < slice) slice = left;
        }
        int n = 0;
        if (any) {
            timeval wait{0, slice * 1000};
            n = ::select(0, &readSet, &writeSet, &errorSet, &wait);
            if (n == SOCKET_ERROR) return -1;
        } else {
            ::Sleep(static_cast<DWORD>(slice));  // select refuses empty sets
        }
        if (n > 0) {
            int ready = 0;
            for (std::size_t i = 0; i < count; ++i) {
                const SOCKET s = Native(items[i].socket);
                const bool failed = FD_ISSET(s, &errorSet) != 0;
                items[i].readable = items[i].wantRead && (FD_ISSET(s, &readSet) || failed);
                items[i].writable = items[i].wantWrite && (FD_ISSET(s, &writeSet) || failed);
                if (items[i].readable || items[i].writable) ++ready;
            }
            if (ready > 0) return ready;
        }
        if (timeoutMs >= 0 && static_cast<int>(::GetTickCount() - start) >= timeoutMs) return 0;
    }
}

bool InstallStopSignals() {
    if (!stopEvent) {
        stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, StopEventName(::GetCurrentProcessId()).c_str());
        if (!stopEvent) return false;
    }
    return ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE) != FALSE;
}

bool StopRequested() { return StopSeen(); }

bool RequestProcessStop(std::int64_t processId) {
    if (processId <= 0) return false;
    HANDLE event = ::OpenEventA(EVENT_MODIFY_STATE, FALSE, StopEventName(processId).c_str());
    if (!event) return false;
    const bool set = ::SetEvent(event) != FALSE;
    ::CloseHandle(event);
    return set;
}

}  // namespace plat
