// WinSock 1.1 behind the socket seam: WSAStartup, select, ioctlsocket and WSAGetLastError as they are.
#include "platform/sockets.h"

#include <atomic>
#include <cstring>

#include "platform/win32/winsock_common.h"

namespace plat {
namespace {

std::atomic<std::int32_t> startupCount{0};

SOCKET Native(SocketHandle handle) { return handle < 0 ? INVALID_SOCKET : static_cast<SOCKET>(static_cast<std::uint32_t>(handle)); }

std::int32_t Fail() { return -1; }  // WinSock has set the thread's last error already

std::int32_t FailWithCode(std::int32_t code) {
    ::WSASetLastError(code);
    return -1;
}

std::int32_t WaitSocket(SocketHandle handle, bool forWrite, std::int32_t seconds, std::int32_t microseconds) {
    if (handle < 0) return FailWithCode(WSAENOTSOCK);
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(Native(handle), &ready);
    FD_SET(Native(handle), &failed);
    timeval timeout{seconds, microseconds > 0 ? microseconds : 0};
    const int n = ::select(0, forWrite ? nullptr : &ready, forWrite ? &ready : nullptr, &failed, seconds < 0 ? nullptr : &timeout);
    if (n == SOCKET_ERROR) return Fail();
    return n > 0 ? 1 : 0;  // a pending error counts as ready, as the caller's next call then says
}

sockaddr_in NativeAddress(const SocketAddressV4& address) {
    sockaddr_in native{};
    native.sin_family = address.family;
    native.sin_port = address.port;
    native.sin_addr.s_addr = address.address;
    return native;
}

// Datagram calls never wait; the socket is left non-blocking, as nothing else uses it for streams.
bool NonBlocking(SocketHandle handle) {
    u_long on = 1;
    return ::ioctlsocket(Native(handle), FIONBIO, &on) == 0;
}

}  // namespace

std::int32_t SocketStartup(std::uint16_t version) {
    // Version 1.1 or later is served, as on every backend.
    const unsigned major = version & 0xFFu;
    const unsigned minor = (version >> 8) & 0xFFu;
    if (major < 1 || (major == 1 && minor < 1)) return kErrorVersionNotSupported;
    WSADATA data;
    const int result = ::WSAStartup(version, &data);
    if (result != 0) return result;
    ++startupCount;
    return 0;
}

std::int32_t SocketStartupCount() { return startupCount.load(); }

SocketHandle OpenSocket(std::int32_t family, std::int32_t type, std::int32_t protocol) {
    const SOCKET s = ::socket(family, type, protocol);
    if (s == INVALID_SOCKET) return Fail();
    if (s > 0x7FFFFFFF) {  // never in practice: handles are small numbers
        ::closesocket(s);
        return FailWithCode(WSAEMFILE);
    }
    // Not inherited by child processes: a child must not keep a connection open.
    ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    return static_cast<SocketHandle>(s);
}

std::int32_t ConnectSocket(SocketHandle handle, const SocketAddressV4& address) {
    sockaddr_in target{};
    target.sin_family = address.family;
    target.sin_port = address.port;
    target.sin_addr.s_addr = address.address;
    if (::connect(Native(handle), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return 0;
    return Fail();
}

std::int32_t StartConnect(SocketHandle handle, const SocketAddressV4& address) {
    if (!NonBlocking(handle)) return Fail();
    const sockaddr_in target = NativeAddress(address);
    if (::connect(Native(handle), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return 0;
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) return 1;
    return FailWithCode(error);
}

std::int32_t ConnectOutcome(SocketHandle handle) {
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(Native(handle), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) return Fail();
    return error == 0 ? 0 : FailWithCode(error);
}

std::int32_t BindSocket(SocketHandle handle, const SocketAddressV4& address) {
    const sockaddr_in local = NativeAddress(address);
    return ::bind(Native(handle), reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 ? 0 : Fail();
}

std::int32_t LocalAddress(SocketHandle handle, SocketAddressV4& address) {
    sockaddr_in local{};
    int length = sizeof local;
    if (::getsockname(Native(handle), reinterpret_cast<sockaddr*>(&local), &length) != 0) return Fail();
    address = SocketAddressV4{};
    address.port = local.sin_port;
    address.address = local.sin_addr.s_addr;
    return 0;
}

std::int32_t SendDatagram(SocketHandle handle, const void* data, std::int32_t count, const SocketAddressV4& to) {
    if (count < 0) return FailWithCode(WSAEINVAL);
    if (!NonBlocking(handle)) return Fail();
    const sockaddr_in target = NativeAddress(to);
    const int sent = ::sendto(Native(handle), static_cast<const char*>(data), count, 0,
                              reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent == SOCKET_ERROR ? Fail() : sent;
}

std::int32_t ReceiveDatagram(SocketHandle handle, void* buffer, std::int32_t count, SocketAddressV4& from) {
    if (count < 0) return FailWithCode(WSAEINVAL);
    if (!NonBlocking(handle)) return Fail();
    sockaddr_in sender{};
    int length = sizeof sender;
    const int received = ::recvfrom(Native(handle), static_cast<char*>(buffer), count, 0,
                                    reinterpret_cast<sockaddr*>(&sender), &length);
    from = SocketAddressV4{};
    from.port = sender.sin_port;
    from.address = sender.sin_addr.s_addr;
    return received == SOCKET_ERROR ? Fail() : received;  // WSAEMSGSIZE and WSAECONNRESET as they come
}

std::int32_t WaitSocketReadable(SocketHandle handle, std::int32_t seconds, std::int32_t microseconds) {
    return WaitSocket(handle, false, seconds, microseconds);
}

std::int32_t WaitSocketWritable(SocketHandle handle, std::int32_t seconds, std::int32_t microseconds) {
    return WaitSocket(handle, true, seconds, microseconds);
}

// WinSock has no per-call "do not wait": the socket is non-blocking for this one send only.
std::int32_t SendBytes(SocketHandle handle, const void* data, std::int32_t count) {
    if (count < 0) return FailWithCode(WSAEINVAL);
    u_long on = 1, off = 0;
    if (::ioctlsocket(Native(handle), FIONBIO, &on) != 0) return Fail();
    const int sent = ::send(Native(handle), static_cast<const char*>(data), count, 0);
    const int error = sent == SOCKET_ERROR ? ::WSAGetLastError() : 0;
    ::ioctlsocket(Native(handle), FIONBIO, &off);
    if (sent == SOCKET_ERROR) return FailWithCode(error);
    return sent;
}

std::int32_t ReceiveBytes(SocketHandle handle, void* buffer, std::int32_t count) {
    if (count < 0) return FailWithCode(WSAEINVAL);
    const int received = ::recv(Native(handle), static_cast<char*>(buffer), count, 0);
    if (received == SOCKET_ERROR) return Fail();
    return received;
}

std::int32_t BytesAvailable(SocketHandle handle, std::int32_t& count) {
    u_long queued = 0;
    if (::ioctlsocket(Native(handle), FIONREAD, &queued) != 0) return Fail();
    count = queued > 0x7FFFFFFFu ? 0x7FFFFFFF : static_cast<std::int32_t>(queued);
    return 0;
}

std::int32_t PeerAddress(SocketHandle handle, SocketAddressV4& address) {
    sockaddr_in peer{};
    int length = sizeof peer;
    if (::getpeername(Native(handle), reinterpret_cast<sockaddr*>(&peer), &length) != 0) return Fail();
    address = SocketAddressV4{};
    address.family = static_cast<std::uint16_t>(peer.sin_family);
    address.port = peer.sin_port;
    address.address = peer.sin_addr.s_addr;
    return 0;
}

std::int32_t ShutdownSocket(SocketHandle handle, std::int32_t how) {
    return ::shutdown(Native(handle), how) == 0 ? 0 : Fail();
}

std::int32_t CloseSocket(SocketHandle handle) { return ::closesocket(Native(handle)) == 0 ? 0 : Fail(); }

std::int32_t LastSocketError() { return ::WSAGetLastError(); }

void SetLastSocketError(std::int32_t code) { ::WSASetLastError(code); }

bool ResolveHostName(const std::string& name, std::uint32_t& address) {
    if (name.empty() || name.find('\0') != std::string::npos) {
        ::WSASetLastError(kErrorHostNotFound);
        return false;
    }
    // Names under "invalid" never exist; they are answered here without waiting on a name server.
    std::string lower;
    for (char c : name) lower += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    if (!lower.empty() && lower.back() == '.') lower.pop_back();
    const std::string reserved = "invalid";
    if (lower == reserved || (lower.size() > reserved.size() &&
                              lower.compare(lower.size() - reserved.size() - 1, std::string::npos, "." + reserved) == 0)) {
        ::WSASetLastError(kErrorHostNotFound);
        return false;
    }
    const hostent* host = ::gethostbyname(name.c_str());  // sets the resolver codes 11001..11004
    if (!host || host->h_addrtype != AF_INET || !host->h_addr_list || !host->h_addr_list[0]) {
        if (host) ::WSASetLastError(11004);
        return false;
    }
    std::memcpy(&address, host->h_addr_list[0], sizeof address);
    return true;
}

bool ServicePort(const std::string& name, std::uint16_t& port) {
    if (name.empty() || name.find('\0') != std::string::npos) return false;
    const servent* service = ::getservbyname(name.c_str(), nullptr);
    if (!service) return false;
    port = static_cast<std::uint16_t>(service->s_port);
    return true;
}

}  // namespace plat
