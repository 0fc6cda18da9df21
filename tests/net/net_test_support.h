// Loopback servers for the socket tests: one connection each, run on a thread, every wait bounded.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace nettest {

constexpr int kBoundMs = 5000;  // no server step waits longer than this

inline std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

inline void SleepMs(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

inline bool WaitFd(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    return poll(&entry, 1, timeoutMs) > 0;
}

// Reads until the peer closes or timeoutMs pass; everything read.
inline std::string ReadUntilClosed(int fd, int timeoutMs = kBoundMs) {
    std::string data;
    const std::int64_t deadline = NowMs() + timeoutMs;
    char buffer[65536];
    while (NowMs() < deadline) {
        if (!WaitFd(fd, POLLIN, static_cast<int>(deadline - NowMs()))) break;
        const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        data.append(buffer, static_cast<std::size_t>(n));
    }
    return data;
}

// Reads up to and including a zero byte; false when none came within timeoutMs or the peer closed.
inline bool ReadRequest(int fd, std::string& request, int timeoutMs = kBoundMs) {
    request.clear();
    const std::int64_t deadline = NowMs() + timeoutMs;
    while (NowMs() < deadline) {
        if (!WaitFd(fd, POLLIN, static_cast<int>(deadline - NowMs()))) return false;
        char c = 0;
        if (recv(fd, &c, 1, 0) != 1) return false;
        if (c == '\0') return true;
        request += c;
    }
    return false;
}

inline void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += static_cast<std::size_t>(n);
    }
}

// True when the peer has closed (or reset) the connection within timeoutMs; data before that is dropped.
inline bool PeerClosed(int fd, int timeoutMs = kBoundMs) {
    const std::int64_t deadline = NowMs() + timeoutMs;
    char buffer[4096];
    while (NowMs() < deadline) {
        if (!WaitFd(fd, POLLIN, static_cast<int>(deadline - NowMs()))) return false;
        if (recv(fd, buffer, sizeof buffer, 0) <= 0) return true;
    }
    return false;
}

// Closes with a reset instead of an orderly close.
inline void ResetAndClose(int fd) {
    linger option{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    close(fd);
}

// Listens on 127.0.0.1 at a free port; accepts one connection (or `connections`, one after the
// other) and runs the session on each in a thread. The connection is closed after the session unless the session closed it itself and set
// its fd to -1. The destructor waits for the session.
class LoopbackServer {
public:
    using Session = std::function<void(int& fd)>;

    explicit LoopbackServer(Session session, int receiveBufferBytes = 0, int connections = 1) {
        listenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        // A buffer size set on the listening socket is inherited by the accepted one before the
        // handshake, so the window the client sees is small from the start.
        if (receiveBufferBytes > 0)
            setsockopt(listenFd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
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
                if (!WaitFd(listenFd, POLLIN, kBoundMs)) return;
                int fd = accept(listenFd, nullptr, nullptr);
                if (fd < 0) return;
                accepted = true;
                session(fd);
                if (fd >= 0) close(fd);
            }
        });
    }

    ~LoopbackServer() {
        if (worker.joinable()) worker.join();
        close(listenFd);
    }

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::string Port() const { return std::to_string(port); }
    bool Accepted() const { return accepted; }
    void Join() {
        if (worker.joinable()) worker.join();
    }

private:
    int listenFd = -1;
    std::uint16_t port = 0;
    std::thread worker;
    std::atomic<bool> accepted{false};
};

// A port on loopback where nothing listens: bound, then closed again.
inline std::string ClosedPort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    close(fd);
    return std::to_string(ntohs(address.sin_port));
}

}  // namespace nettest
