// POSIX multicast: interfaces from getifaddrs, memberships through IP_ADD_MEMBERSHIP.
#include "platform/multicast.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace plat {

namespace {

// The few errors these calls give, numbered as the socket seam numbers every error (WinSock codes).
std::int32_t FailWithErrno() {
    const int error = errno;
    std::int32_t code = error;
    switch (error) {
        case EACCES: code = 10013; break;
        case EINVAL: code = 10022; break;
        case EMFILE: case ENFILE: code = 10024; break;
        case EADDRINUSE: code = 10048; break;
        case EADDRNOTAVAIL: case ENODEV: code = 10049; break;
        case ENOBUFS: case ENOMEM: code = 10055; break;
        default: break;
    }
    SetLastSocketError(code);
    return -1;
}

}  // namespace

SocketHandle OpenMulticastListener(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_UDP);
    if (fd < 0) return FailWithErrno();
    const int on = 1;
    // X-Plane's own tools and other panels listen to the same port on the same machine.
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) {
        FailWithErrno();
        close(fd);
        return kNoSocket;
    }
#ifdef IP_MULTICAST_ALL
    // Linux would otherwise hand this socket every group any socket on the machine joined for its port.
    const int off = 0;
    setsockopt(fd, IPPROTO_IP, IP_MULTICAST_ALL, &off, sizeof off);
#endif
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = port;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        FailWithErrno();
        close(fd);
        return kNoSocket;
    }
    return fd;
}

std::int32_t JoinMulticastEverywhere(SocketHandle handle, std::uint32_t group) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return FailWithErrno();
    std::int32_t members = 0;
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if ((i->ifa_flags & IFF_UP) == 0 || (i->ifa_flags & IFF_MULTICAST) == 0) continue;
        ip_mreq request{};
        request.imr_multiaddr.s_addr = group;
        request.imr_interface = reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr;
        if (setsockopt(handle, IPPROTO_IP, IP_ADD_MEMBERSHIP, &request, sizeof request) == 0 || errno == EADDRINUSE)
            ++members;
    }
    freeifaddrs(list);
    if (members == 0) SetLastSocketError(10049);  // no interface that could carry the group
    return members;
}

std::int32_t SetMulticastInterface(SocketHandle handle, std::uint32_t interfaceAddress) {
    in_addr local{};
    local.s_addr = interfaceAddress;
    if (setsockopt(handle, IPPROTO_IP, IP_MULTICAST_IF, &local, sizeof local) != 0) return FailWithErrno();
    return 0;
}

}  // namespace plat
