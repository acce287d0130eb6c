// Raw socket descriptor calls on Windows, through Winsock.
#include "runtime/SocketDescriptor.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace runtime {

SocketDescriptor::Accepted SocketDescriptor::accept(std::intptr_t listening) {
    const SOCKET accepted = ::accept(static_cast<SOCKET>(listening), nullptr, nullptr);
    if (accepted != INVALID_SOCKET)
        return {static_cast<std::intptr_t>(accepted), AcceptFailure::Other};
    switch (::WSAGetLastError()) {
    case WSAEWOULDBLOCK:
        return {-1, AcceptFailure::NoneWaiting};
    case WSAECONNRESET:
    case WSAEINTR:
        return {-1, AcceptFailure::Transient};
    case WSAEMFILE:
    case WSAENOBUFS:
        return {-1, AcceptFailure::OutOfResources};
    default:
        return {-1, AcceptFailure::Other};
    }
}

void SocketDescriptor::close(std::intptr_t descriptor) {
    ::closesocket(static_cast<SOCKET>(descriptor));
}

bool SocketDescriptor::peerFinishedSending(std::intptr_t descriptor) {
    char byte = 0;
    return ::recv(static_cast<SOCKET>(descriptor), &byte, 1, MSG_PEEK) == 0;
}

SocketDescriptor::PeerAddress SocketDescriptor::peerAddress(std::intptr_t descriptor) {
    sockaddr_storage storage{};
    int length = static_cast<int>(sizeof storage);
    PeerAddress peer;
    if (::getpeername(static_cast<SOCKET>(descriptor), reinterpret_cast<sockaddr*>(&storage),
                      &length) != 0)
        return peer;
    if (storage.ss_family == AF_INET) {
        const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(&storage);
        peer.family = PeerAddress::Family::IPv4;
        std::memcpy(peer.bytes.data(), &ipv4->sin_addr, 4);
    } else if (storage.ss_family == AF_INET6) {
        const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(&storage);
        peer.family = PeerAddress::Family::IPv6;
        std::memcpy(peer.bytes.data(), &ipv6->sin6_addr, 16);
    }
    return peer;
}

} // namespace runtime
