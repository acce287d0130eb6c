// Raw socket descriptor calls on Linux and other POSIX systems.
#include "runtime/SocketDescriptor.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#else
#error "This file holds the POSIX socket calls; Windows has SocketDescriptorWin.cpp."
#endif

namespace runtime {

SocketDescriptor::Accepted SocketDescriptor::accept(std::intptr_t listening) {
#ifdef Q_OS_LINUX
    const int accepted = ::accept4(static_cast<int>(listening), nullptr, nullptr, SOCK_CLOEXEC);
#else
    const int accepted = ::accept(static_cast<int>(listening), nullptr, nullptr);
#endif
    if (accepted >= 0)
        return {accepted, AcceptFailure::Other};
    switch (errno) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return {-1, AcceptFailure::NoneWaiting};
    case ECONNABORTED:
    case EINTR:
    case EPROTO:
        return {-1, AcceptFailure::Transient};
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ENOMEM:
        return {-1, AcceptFailure::OutOfResources};
    default:
        return {-1, AcceptFailure::Other};
    }
}

void SocketDescriptor::close(std::intptr_t descriptor) {
    ::close(static_cast<int>(descriptor));
}

bool SocketDescriptor::peerFinishedSending(std::intptr_t descriptor) {
    char byte = 0;
    return ::recv(static_cast<int>(descriptor), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

SocketDescriptor::PeerAddress SocketDescriptor::peerAddress(std::intptr_t descriptor) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    PeerAddress peer;
    if (::getpeername(static_cast<int>(descriptor), reinterpret_cast<sockaddr*>(&storage),
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
