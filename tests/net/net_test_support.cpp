// Raw loopback sockets for the socket tests: BSD sockets, or WinSock under the same names.
#include "net_test_support.h"

#include <cerrno>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace nettest {
namespace {

#ifdef _WIN32
constexpr int kNoSignal = 0;  // WinSock never signals a write to a closed peer
constexpr int kCloseOnExec = 0;  // WinSock handles are not inherited by programs the tests start
using OptionValue = const char*;
using IoSize = int;

// Started once per process before the first test socket; the product starts it again for itself,
// which WinSock counts.
void StartSockets() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(0x0202, &data) == 0;
    }();
    (void)started;
}
#else
constexpr int kNoSignal = MSG_NOSIGNAL;
constexpr int kCloseOnExec = SOCK_CLOEXEC;
using OptionValue = const void*;
using IoSize = std::size_t;
void StartSockets() {}
#endif

int SetIntOption(int fd, int level, int name, int value) {
    return setsockopt(fd, level, name, reinterpret_cast<OptionValue>(&value), sizeof value);
}

}  // namespace

bool WaitReadable(int fd, int timeoutMs) {
#ifdef _WIN32
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(fd), &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &limit) > 0;
#else
    pollfd entry{fd, POLLIN, 0};
    return poll(&entry, 1, timeoutMs) > 0;
#endif
}

long SendSome(int fd, const void* data, std::size_t size, int timeoutMs) {
#ifdef _WIN32
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(static_cast<SOCKET>(fd), &writable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    if (select(0, nullptr, &writable, nullptr, &limit) <= 0) return 0;
    const int n = send(static_cast<SOCKET>(fd), static_cast<const char*>(data), static_cast<int>(size), 0);
    return n < 0 ? (WSAGetLastError() == WSAEWOULDBLOCK ? 0 : -1) : n;
#else
    pollfd entry{fd, POLLOUT, 0};
    if (poll(&entry, 1, timeoutMs) <= 0) return 0;
    const ssize_t n = send(fd, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
    return n < 0 ? (errno == EAGAIN || errno == EWOULDBLOCK ? 0 : -1) : static_cast<long>(n);
#endif
}

long ReceiveSome(int fd, void* buffer, std::size_t size, bool peek) {
    return static_cast<long>(recv(fd, static_cast<char*>(buffer), static_cast<IoSize>(size), peek ? MSG_PEEK : 0));
}

int SetSendBuffer(int fd, int bytes) { return SetIntOption(fd, SOL_SOCKET, SO_SNDBUF, bytes); }

bool HandleIsOpen(int fd) {
#ifdef _WIN32
    int type = 0;
    int length = sizeof type;
    return getsockopt(static_cast<SOCKET>(fd), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
#else
    return fcntl(fd, F_GETFD) != -1;
#endif
}

void CloseFd(int fd) {
#ifdef _WIN32
    closesocket(static_cast<SOCKET>(fd));
#else
    close(fd);
#endif
}

std::string ReadUntilClosed(int fd, int timeoutMs) {
    std::string data;
    const std::int64_t deadline = NowMs() + timeoutMs;
    char buffer[65536];
    while (NowMs() < deadline) {
        if (!WaitReadable(fd, static_cast<int>(deadline - NowMs()))) break;
        const long n = ReceiveSome(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

bool ReadRequest(int fd, std::string& request, int timeoutMs) {
    request.clear();
    const std::int64_t deadline = NowMs() + timeoutMs;
    while (NowMs() < deadline) {
        if (!WaitReadable(fd, static_cast<int>(deadline - NowMs()))) return false;
        char c = 0;
        if (ReceiveSome(fd, &c, 1) != 1) return false;
        if (c == '\0') return true;
        request += c;
    }
    return false;
}

void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const long n = static_cast<long>(
            send(fd, bytes.data() + done, static_cast<IoSize>(bytes.size() - done), kNoSignal));
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

bool PeerClosed(int fd, int timeoutMs) {
    const std::int64_t deadline = NowMs() + timeoutMs;
    char buffer[4096];
    while (NowMs() < deadline) {
        if (!WaitReadable(fd, static_cast<int>(deadline - NowMs()))) return false;
        if (ReceiveSome(fd, buffer, sizeof buffer) <= 0) return true;
    }
    return false;
}

void ResetAndClose(int fd) {
    linger option{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, reinterpret_cast<OptionValue>(&option), sizeof option);
    CloseFd(fd);
}

LoopbackServer::LoopbackServer(Session session, int receiveBufferBytes, int connections) {
    StartSockets();
    listenFd = static_cast<int>(socket(AF_INET, SOCK_STREAM | kCloseOnExec, 0));
#ifndef _WIN32
    // Under WinSock this option would let a second listener take the same port.
    SetIntOption(listenFd, SOL_SOCKET, SO_REUSEADDR, 1);
#endif
    // A buffer size set on the listening socket is inherited by the accepted one before the
    // handshake, so the window the client sees is small from the start.
    if (receiveBufferBytes > 0) SetIntOption(listenFd, SOL_SOCKET, SO_RCVBUF, receiveBufferBytes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    listen(listenFd, 4);
    worker = std::thread([this, connections, session = std::move(session)] {
        for (int i = 0; i < connections; ++i) {
            if (!WaitReadable(listenFd, kPatientMs)) return;
            int fd = static_cast<int>(accept(listenFd, nullptr, nullptr));
            if (fd < 0) return;
            accepted = true;
            session(fd);
            if (fd >= 0) CloseFd(fd);
        }
    });
}

LoopbackServer::~LoopbackServer() {
    if (worker.joinable()) worker.join();
    CloseFd(listenFd);
}

std::string ClosedPort() {
    StartSockets();
    const int fd = static_cast<int>(socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    CloseFd(fd);
    return std::to_string(ntohs(address.sin_port));
}

}  // namespace nettest
