// A listening socket on Windows that no other socket can share, through Winsock.
#include "runtime/ExclusiveListener.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace runtime {

namespace {

ExclusiveListener::Failure failureOf(int error) {
    using Failure = ExclusiveListener::Failure;
    switch (error) {
    case WSAEADDRINUSE:
        return Failure::AddressInUse;
    case WSAEACCES:
        return Failure::Access;
    case WSAEMFILE:
    case WSAENOBUFS:
        return Failure::OutOfResources;
    default:
        return Failure::Other;
    }
}

// A socket of `family` listening on `port` of every address, held exclusively, or
// INVALID_SOCKET with the reason left in WSAGetLastError().
SOCKET listenOn(int family, std::uint16_t port, int backlog) {
    const SOCKET socket = ::socket(family, SOCK_STREAM, IPPROTO_TCP);
    if (socket == INVALID_SOCKET)
        return socket;
    // All zeros: every address of the family.
    sockaddr_in6 ipv6{};
    ipv6.sin6_family = AF_INET6;
    ipv6.sin6_port = htons(port);
    sockaddr_in ipv4{};
    ipv4.sin_family = AF_INET;
    ipv4.sin_port = htons(port);
    const bool isIPv6 = family == AF_INET6;
    const DWORD on = 1;
    const DWORD off = 0;
    u_long nonBlocking = 1;
    // The option must be set before the bind to have any effect.
    const bool listening =
        (!isIPv6 || ::setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY,
                                 reinterpret_cast<const char*>(&off), sizeof off) == 0) &&
        ::setsockopt(socket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                     sizeof on) == 0 &&
        (isIPv6 ? ::bind(socket, reinterpret_cast<const sockaddr*>(&ipv6), sizeof ipv6)
                : ::bind(socket, reinterpret_cast<const sockaddr*>(&ipv4), sizeof ipv4)) == 0 &&
        ::listen(socket, backlog) == 0 && ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
    if (listening)
        return socket;
    const int error = ::WSAGetLastError();
    ::closesocket(socket);
    ::WSASetLastError(error);
    return INVALID_SOCKET;
}

} // namespace

ExclusiveListener listenExclusively(std::uint16_t port, int backlog) {
    // Qt starts Winsock only while it has a socket of its own; this one is handed to Qt, so
    // Winsock stays started for the life of the process.
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        return {-1, ExclusiveListener::Failure::Other};
    SOCKET socket = listenOn(AF_INET6, port, backlog);
    // A system with IPv6 removed still serves IPv4.
    if (socket == INVALID_SOCKET && ::WSAGetLastError() == WSAEAFNOSUPPORT)
        socket = listenOn(AF_INET, port, backlog);
    if (socket == INVALID_SOCKET)
        return {-1, failureOf(::WSAGetLastError())};
    return {static_cast<std::intptr_t>(socket), ExclusiveListener::Failure::None};
}

} // namespace runtime
