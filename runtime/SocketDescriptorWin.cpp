// Raw socket descriptor calls on Windows, through Winsock.
#include "runtime/SocketDescriptor.h"

#include <winsock2.h>

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

} // namespace runtime
