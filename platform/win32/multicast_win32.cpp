// WinSock multicast: interfaces from SIO_GET_INTERFACE_LIST, memberships through IP_ADD_MEMBERSHIP.
#include "platform/multicast.h"

#include <vector>

#include "platform/win32/winsock_common.h"

namespace plat {

namespace {

SOCKET Native(SocketHandle handle) { return handle < 0 ? INVALID_SOCKET : static_cast<SOCKET>(static_cast<std::uint32_t>(handle)); }

}  // namespace

SocketHandle OpenMulticastListener(std::uint16_t port) {
    const SocketHandle handle = OpenSocket(kAddressFamilyInet, kSocketTypeDatagram, kProtocolUdp);
    if (handle == kNoSocket) return kNoSocket;
    const SOCKET s = Native(handle);
    const BOOL on = TRUE;
    u_long nonBlocking = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = port;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    // X-Plane's own tools and other panels listen to the same port on the same machine.
    if (::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on) != 0 ||
        ::ioctlsocket(s, FIONBIO, &nonBlocking) != 0 ||
        ::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(s);
        ::WSASetLastError(error);
        return kNoSocket;
    }
    return handle;
}

std::int32_t JoinMulticastEverywhere(SocketHandle handle, std::uint32_t group) {
    std::vector<INTERFACE_INFO> interfaces(64);
    DWORD bytes = 0;
    if (::WSAIoctl(Native(handle), SIO_GET_INTERFACE_LIST, nullptr, 0, interfaces.data(),
                   static_cast<DWORD>(interfaces.size() * sizeof(INTERFACE_INFO)), &bytes, nullptr, nullptr) != 0)
        return -1;
    std::int32_t members = 0;
    for (std::size_t i = 0; i < bytes / sizeof(INTERFACE_INFO); ++i) {
        const INTERFACE_INFO& info = interfaces[i];
        if ((info.iiFlags & IFF_UP) == 0 || (info.iiFlags & IFF_MULTICAST) == 0) continue;
        if (info.iiAddress.Address.sa_family != AF_INET) continue;
        ip_mreq request{};
        request.imr_multiaddr.s_addr = group;
        request.imr_interface = info.iiAddress.AddressIn.sin_addr;
        if (::setsockopt(Native(handle), IPPROTO_IP, IP_ADD_MEMBERSHIP, reinterpret_cast<const char*>(&request),
                         sizeof request) == 0 ||
            ::WSAGetLastError() == WSAEADDRINUSE)
            ++members;
    }
    if (members == 0) ::WSASetLastError(WSAEADDRNOTAVAIL);  // no interface that could carry the group
    return members;
}

std::int32_t SetMulticastInterface(SocketHandle handle, std::uint32_t interfaceAddress) {
    in_addr local{};
    local.s_addr = interfaceAddress;
    if (::setsockopt(Native(handle), IPPROTO_IP, IP_MULTICAST_IF, reinterpret_cast<const char*>(&local), sizeof local) != 0)
        return -1;
    return 0;
}

}  // namespace plat
