// POSIX sockets behind the WinSock-shaped seam, with errno and resolver codes turned into WinSock codes.
#include "platform/sockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/endsignals.h"

namespace plat {

namespace {

thread_local std::int32_t lastSocketError = 0;
std::atomic<std::int32_t> startupCount{0};

// WinSock numbers its codes as 10000 + the BSD errno; Linux numbers differ, so map by name.
std::int32_t WinSockCodeOf(int error) {
    switch (error) {
        case 0: return 0;
        case EINTR: return 10004;
        case EBADF: return 10009;
        case EACCES: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE: case ENFILE: return 10024;
        case EAGAIN: return 10035;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EDESTADDRREQ: return 10039;
        case EMSGSIZE: return 10040;
        case EPROTOTYPE: return 10041;
        case ENOPROTOOPT: return 10042;
        case EPROTONOSUPPORT: return 10043;
        case ESOCKTNOSUPPORT: return 10044;
        case EOPNOTSUPP: return 10045;
        case EPFNOSUPPORT: return 10046;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ENETRESET: return 10052;
        case ECONNABORTED: return 10053;
        case ECONNRESET: return 10054;
        // Writing to a connection the peer has dropped: WinSock reports the reset.
        case EPIPE: return 10054;
        case ENOBUFS: case ENOMEM: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ESHUTDOWN: return 10058;
        case ETOOMANYREFS: return 10059;
        case ETIMEDOUT: return 10060;
        case ECONNREFUSED: return 10061;
        case ELOOP: return 10062;
        case ENAMETOOLONG: return 10063;
        case EHOSTDOWN: return 10064;
        case EHOSTUNREACH: return 10065;
        case ENOTEMPTY: return 10066;
        case EUSERS: return 10068;
        case EDQUOT: return 10069;
        case ESTALE: return 10070;
        case EREMOTE: return 10071;
        default: return error;
    }
}

std::int32_t FailWithErrno() {
    lastSocketError = WinSockCodeOf(errno);
    return -1;
}

std::int32_t FailWithCode(std::int32_t code) {
    lastSocketError = code;
    return -1;
}

std::int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// poll instead of select: the same readiness rules without select's limit on descriptor numbers.
// In slices of at most 100 ms: once an end is requested a wait that is not over fails with 10004.
std::int32_t WaitSocket(SocketHandle handle, short events, std::int32_t seconds, std::int32_t microseconds) {
    if (handle < 0) return FailWithCode(10038);
    constexpr std::int64_t kSliceNs = 100000000;
    const bool unlimited = seconds < 0;
    const std::int64_t waitNs = unlimited ? 0
                                          : static_cast<std::int64_t>(seconds) * 1000000000 +
                                                static_cast<std::int64_t>(microseconds > 0 ? microseconds : 0) * 1000;
    const std::int64_t deadline = NowNs() + waitNs;
    for (;;) {
        pollfd entry{handle, events, 0};
        const std::int64_t left = unlimited ? kSliceNs : deadline - NowNs();
        const std::int64_t slice = left <= 0 ? 0 : left > kSliceNs ? kSliceNs : left;
        const timespec timeout{static_cast<time_t>(slice / 1000000000), static_cast<long>(slice % 1000000000)};
        const int result = ppoll(&entry, 1, &timeout, nullptr);
        if (result < 0 && errno != EINTR) return FailWithErrno();
        if (result <= 0) {
            if (result == 0 && !unlimited && left <= kSliceNs) return 0;  // the whole wait is over
            if (EndSignalReceived() != EndSignal::None) return FailWithCode(WinSockCodeOf(EINTR));
            continue;
        }
        if (entry.revents & POLLNVAL) return FailWithCode(10038);
        // select counts a socket with a pending error or a closed peer as ready in either set.
        return (entry.revents & (events | POLLERR | POLLHUP)) != 0 ? 1 : 0;
    }
}

sockaddr_in NativeAddress(const SocketAddressV4& address) {
    sockaddr_in native{};
    native.sin_family = address.family == kAddressFamilyInet ? AF_INET : address.family;
    native.sin_port = address.port;
    native.sin_addr.s_addr = address.address;
    return native;
}

}  // namespace

std::int32_t SocketStartup(std::uint16_t version) {
    const unsigned major = version & 0xFFu;
    const unsigned minor = (version >> 8) & 0xFFu;
    // Version 1.1 or later is served; the socket calls themselves need no start-up on POSIX.
    if (major < 1 || (major == 1 && minor < 1)) return kErrorVersionNotSupported;
    ++startupCount;
    return 0;
}

std::int32_t SocketStartupCount() { return startupCount.load(); }

SocketHandle OpenSocket(std::int32_t family, std::int32_t type, std::int32_t protocol) {
    const int posixFamily = family == kAddressFamilyInet ? AF_INET : family;
    const int posixType = type == kSocketTypeStream ? SOCK_STREAM : type == kSocketTypeDatagram ? SOCK_DGRAM : type;
    const int fd = socket(posixFamily, posixType | SOCK_CLOEXEC, protocol);
    if (fd < 0) return FailWithErrno();
    return fd;
}

std::int32_t ConnectSocket(SocketHandle handle, const SocketAddressV4& address) {
    sockaddr_in target{};
    target.sin_family = address.family == kAddressFamilyInet ? AF_INET : address.family;
    target.sin_port = address.port;
    target.sin_addr.s_addr = address.address;
    if (connect(handle, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return 0;
    if (errno != EINTR) return FailWithErrno();
    // An interrupted connect goes on in the background; wait for its outcome like a blocking call,
    // unless the interruption was an end request.
    pollfd entry{handle, POLLOUT, 0};
    for (;;) {
        const int result = poll(&entry, 1, 100);
        if (result > 0 || (result < 0 && errno != EINTR)) break;
        if (EndSignalReceived() != EndSignal::None) return FailWithCode(WinSockCodeOf(EINTR));
    }
    return ConnectOutcome(handle);
}

std::int32_t StartConnect(SocketHandle handle, const SocketAddressV4& address) {
    const int flags = fcntl(handle, F_GETFL);
    if (flags < 0 || fcntl(handle, F_SETFL, flags | O_NONBLOCK) != 0) return FailWithErrno();
    const sockaddr_in target = NativeAddress(address);
    if (connect(handle, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return 0;
    // An interrupted non-blocking connect also goes on in the background.
    if (errno == EINPROGRESS || errno == EINTR) return 1;
    return FailWithErrno();
}

std::int32_t ConnectOutcome(SocketHandle handle) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(handle, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return FailWithErrno();
    if (error == 0) return 0;
    errno = error;
    return FailWithErrno();
}

std::int32_t BindSocket(SocketHandle handle, const SocketAddressV4& address) {
    const sockaddr_in local = NativeAddress(address);
    if (bind(handle, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return FailWithErrno();
    return 0;
}

std::int32_t LocalAddress(SocketHandle handle, SocketAddressV4& address) {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (getsockname(handle, reinterpret_cast<sockaddr*>(&local), &length) != 0) return FailWithErrno();
    address = SocketAddressV4{};
    address.port = local.sin_port;
    address.address = local.sin_addr.s_addr;
    return 0;
}

std::int32_t SendDatagram(SocketHandle handle, const void* data, std::int32_t count, const SocketAddressV4& to) {
    if (count < 0) return FailWithCode(10022);
    const sockaddr_in target = NativeAddress(to);
    for (;;) {
        const ssize_t sent = sendto(handle, data, static_cast<size_t>(count), MSG_NOSIGNAL | MSG_DONTWAIT,
                                    reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (sent >= 0) return static_cast<std::int32_t>(sent);
        if (errno == EINTR) continue;
        return FailWithErrno();
    }
}

std::int32_t ReceiveDatagram(SocketHandle handle, void* buffer, std::int32_t count, SocketAddressV4& from) {
    if (count < 0) return FailWithCode(10022);
    for (;;) {
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        // MSG_TRUNC makes the call give the datagram's whole length, so a cut one can be told apart.
        const ssize_t received = recvfrom(handle, buffer, static_cast<size_t>(count), MSG_DONTWAIT | MSG_TRUNC,
                                          reinterpret_cast<sockaddr*>(&sender), &length);
        if (received < 0) {
            if (errno == EINTR) continue;
            // Linux reports a refused earlier datagram on a connected socket only; say it as WinSock does.
            if (errno == ECONNREFUSED) return FailWithCode(kErrorConnectionReset);
            return FailWithErrno();
        }
        from = SocketAddressV4{};
        from.port = sender.sin_port;
        from.address = sender.sin_addr.s_addr;
        if (received > count) return FailWithCode(kErrorMessageSize);
        return static_cast<std::int32_t>(received);
    }
}

std::int32_t WaitSocketReadable(SocketHandle handle, std::int32_t seconds, std::int32_t microseconds) {
    return WaitSocket(handle, POLLIN, seconds, microseconds);
}

std::int32_t WaitSocketWritable(SocketHandle handle, std::int32_t seconds, std::int32_t microseconds) {
    return WaitSocket(handle, POLLOUT, seconds, microseconds);
}

std::int32_t SendBytes(SocketHandle handle, const void* data, std::int32_t count) {
    if (count < 0) return FailWithCode(10022);
    for (;;) {
        const ssize_t sent = send(handle, data, static_cast<size_t>(count), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent >= 0) return static_cast<std::int32_t>(sent);
        if (errno == EINTR) continue;
        return FailWithErrno();
    }
}

std::int32_t ReceiveBytes(SocketHandle handle, void* buffer, std::int32_t count) {
    if (count < 0) return FailWithCode(10022);
    for (;;) {
        const ssize_t received = recv(handle, buffer, static_cast<size_t>(count), 0);
        if (received >= 0) return static_cast<std::int32_t>(received);
        if (errno == EINTR) continue;
        return FailWithErrno();
    }
}

std::int32_t BytesAvailable(SocketHandle handle, std::int32_t& count) {
    int queued = 0;
    if (ioctl(handle, FIONREAD, &queued) != 0) return FailWithErrno();
    count = queued;
    return 0;
}

std::int32_t PeerAddress(SocketHandle handle, SocketAddressV4& address) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(handle, reinterpret_cast<sockaddr*>(&peer), &length) != 0) return FailWithErrno();
    address = SocketAddressV4{};
    if (peer.ss_family == AF_INET) {
        const sockaddr_in* inet = reinterpret_cast<const sockaddr_in*>(&peer);
        address.family = kAddressFamilyInet;
        address.port = inet->sin_port;
        address.address = inet->sin_addr.s_addr;
    } else {
        address.family = static_cast<std::uint16_t>(peer.ss_family);
    }
    return 0;
}

std::int32_t ShutdownSocket(SocketHandle handle, std::int32_t how) {
    const int posixHow = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    if (shutdown(handle, posixHow) != 0) return FailWithErrno();
    return 0;
}

std::int32_t CloseSocket(SocketHandle handle) {
    // After close the descriptor is gone even when close reports EINTR, so it is never retried.
    if (close(handle) != 0 && errno != EINTR) return FailWithErrno();
    return 0;
}

std::int32_t LastSocketError() { return lastSocketError; }

void SetLastSocketError(std::int32_t code) { lastSocketError = code; }

bool ResolveHostName(const std::string& name, std::uint32_t& address) {
    if (name.empty() || name.find('\0') != std::string::npos) {
        lastSocketError = kErrorHostNotFound;
        return false;
    }
    // Names under "invalid" never exist; they are answered here without waiting on a name server.
    std::string lower;
    for (char c : name) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (!lower.empty() && lower.back() == '.') lower.pop_back();
    const std::string reserved = "invalid";
    if (lower == reserved ||
        (lower.size() > reserved.size() &&
         lower.compare(lower.size() - reserved.size() - 1, std::string::npos, "." + reserved) == 0)) {
        lastSocketError = kErrorHostNotFound;
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int result = getaddrinfo(name.c_str(), nullptr, &hints, &found);
    if (result != 0) {
        switch (result) {
            case EAI_NONAME: lastSocketError = 11001; break;
            case EAI_AGAIN: lastSocketError = 11002; break;
#ifdef EAI_NODATA
            case EAI_NODATA: lastSocketError = 11004; break;
#endif
#ifdef EAI_ADDRFAMILY
            case EAI_ADDRFAMILY: lastSocketError = 11004; break;
#endif
            case EAI_MEMORY: lastSocketError = 10055; break;
            case EAI_SYSTEM: lastSocketError = WinSockCodeOf(errno); break;
            default: lastSocketError = 11003; break;
        }
        return false;
    }
    bool ok = false;
    for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family == AF_INET && entry->ai_addr != nullptr) {
            address = reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr;
            ok = true;
            break;
        }
    }
    freeaddrinfo(found);
    if (!ok) lastSocketError = 11004;
    return ok;
}

bool ServicePort(const std::string& name, std::uint16_t& port) {
    if (name.empty() || name.find('\0') != std::string::npos) return false;
    servent entry{};
    servent* found = nullptr;
    char buffer[4096];
    if (getservbyname_r(name.c_str(), nullptr, &entry, buffer, sizeof buffer, &found) != 0 || found == nullptr)
        return false;
    port = static_cast<std::uint16_t>(found->s_port);  // already in network byte order
    return true;
}

}  // namespace plat
