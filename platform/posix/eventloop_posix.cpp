// POSIX server-side TCP: non-blocking sockets, poll, MSG_NOSIGNAL writes and a self-pipe for stop signals.
#include "platform/eventloop.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace plat {

namespace {

volatile sig_atomic_t stopFlag = 0;
int stopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const int saved = errno;
    stopFlag = 1;
    if (stopPipe[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = write(stopPipe[1], &byte, 1);
    }
    errno = saved;
}

bool MakeNonBlocking(int fd) {
    const int flags = fcntl(fd, F_GETFL, 0);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

void NoSendDelay(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

bool ParseAddress(const std::string& address, std::uint16_t port, sockaddr_in& out, std::string& error) {
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &out.sin_addr) != 1) {
        error = "not a numeric IPv4 address: '" + address + "'";
        return false;
    }
    return true;
}

std::string NameOf(const sockaddr_in& a) {
    char text[INET_ADDRSTRLEN] = {0};
    inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

std::string ErrnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// A new TCP socket for address:port, which it fills in; -1 with error set when either fails.
int OpenStreamSocket(const std::string& address, std::uint16_t port, sockaddr_in& where, std::string& error) {
    if (!ParseAddress(address, port, where, error)) return -1;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) error = ErrnoText("socket");
    return fd;
}

}  // namespace

NetSocket NetListen(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_in where;
    const int fd = OpenStreamSocket(address, port, where, error);
    if (fd < 0) return kNoNetSocket;
    NetPrepareListener(fd);
    if (bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        error = ErrnoText(("cannot listen on " + NameOf(where)).c_str());
        close(fd);
        return kNoNetSocket;
    }
    if (listen(fd, SOMAXCONN) != 0 || !MakeNonBlocking(fd)) {
        error = ErrnoText("listen");
        close(fd);
        return kNoNetSocket;
    }
    return fd;
}

bool NetKeepAlive(NetSocket socket) {
    const int fd = static_cast<int>(socket);
    const int on = 1, idle = kKeepAliveIdleSeconds, interval = kKeepAliveIntervalSeconds, probes = kKeepAliveProbes;
    bool ok = setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) == 0;
    ok = setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0 && ok;
    ok = setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0 && ok;
    return setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes) == 0 && ok;
}

void NetPrepareListener(NetSocket socket) {
    // Here it never lets a second listener onto a port in use; it only skips the TIME_WAIT wait.
    const int on = 1;
    setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

std::string NetLocalName(NetSocket socket) {
    sockaddr_in a;
    socklen_t length = sizeof a;
    if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&a), &length) != 0) return "?";
    return NameOf(a);
}

std::uint16_t NetLocalPort(NetSocket socket) {
    sockaddr_in a;
    socklen_t length = sizeof a;
    if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&a), &length) != 0) return 0;
    return ntohs(a.sin_port);
}

NetSocket NetAccept(NetSocket listener, std::string& peer, std::string& error) {
    error.clear();
    sockaddr_in a;
    socklen_t length = sizeof a;
    for (;;) {
        const int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(&a), &length,
                               SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) {
            NoSendDelay(fd);
            NetKeepAlive(fd);
            peer = NameOf(a);
            return fd;
        }
        if (errno == EINTR) continue;
        // A connection that was reset before it was taken is simply gone.
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != ECONNABORTED) error = ErrnoText("accept");
        return kNoNetSocket;
    }
}

NetSocket NetConnect(const std::string& address, std::uint16_t port, std::string& error) {
    sockaddr_in where;
    const int fd = OpenStreamSocket(address, port, where, error);
    if (fd < 0) return kNoNetSocket;
    int r;
    do {
        r = connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where);
    } while (r != 0 && errno == EINTR);
    if (r != 0 || !MakeNonBlocking(fd)) {
        error = ErrnoText(("cannot connect to " + NameOf(where)).c_str());
        close(fd);
        return kNoNetSocket;
    }
    NoSendDelay(fd);
    return fd;
}

long NetRead(NetSocket socket, void* buffer, std::size_t size) {
    if (size == 0) return kNetWouldBlock;
    for (;;) {
        const ssize_t n = recv(static_cast<int>(socket), buffer, size, 0);
        if (n > 0) return static_cast<long>(n);
        if (n == 0) return kNetClosed;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kNetWouldBlock : kNetClosed;
    }
}

long NetWrite(NetSocket socket, const void* data, std::size_t size) {
    if (size == 0) return kNetWouldBlock;
    for (;;) {
        const ssize_t n = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
        if (n > 0) return static_cast<long>(n);
        if (n == 0) return kNetWouldBlock;
        if (errno == EINTR) continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? kNetWouldBlock : kNetClosed;
    }
}

void NetClose(NetSocket socket) {
    if (socket >= 0) close(static_cast<int>(socket));
}

int NetPoll(NetPollItem* items, std::size_t count, int timeoutMs) {
    static thread_local std::vector<pollfd> fds;
    fds.resize(count + 1);
    for (std::size_t i = 0; i < count; ++i) {
        items[i].readable = false;
        items[i].writable = false;
        fds[i].fd = static_cast<int>(items[i].socket);
        fds[i].events = static_cast<short>((items[i].wantRead ? POLLIN : 0) | (items[i].wantWrite ? POLLOUT : 0));
        fds[i].revents = 0;
    }
    fds[count].fd = stopPipe[0];  // negative when no stop signals are installed: poll skips it
    fds[count].events = POLLIN;
    fds[count].revents = 0;
    if (stopFlag) return 0;
    const int n = poll(fds.data(), static_cast<nfds_t>(count + 1), timeoutMs < 0 ? -1 : timeoutMs);
    if (n < 0) return errno == EINTR ? 0 : -1;
    if (fds[count].revents & POLLIN) {
        char drain[64];
        while (read(stopPipe[0], drain, sizeof drain) > 0) {
        }
    }
    int ready = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const short r = fds[i].revents;
        items[i].readable = (r & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0 && items[i].wantRead;
        items[i].writable = (r & (POLLOUT | POLLERR | POLLHUP)) != 0 && items[i].wantWrite;
        if (items[i].readable || items[i].writable) ++ready;
    }
    return ready;
}

bool InstallStopSignals() {
    if (stopPipe[0] < 0) {
        if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
            stopPipe[0] = stopPipe[1] = -1;
            return false;
        }
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // A reader of our output that went away must not end the process either.
    signal(SIGPIPE, SIG_IGN);
    return sigaction(SIGINT, &action, nullptr) == 0 && sigaction(SIGTERM, &action, nullptr) == 0;
}

bool StopRequested() { return stopFlag != 0; }

bool RequestProcessStop(std::int64_t processId) {
    return processId > 0 && kill(static_cast<pid_t>(processId), SIGTERM) == 0;
}

}  // namespace plat
