// Raw socket descriptor calls, one form per platform.
#include "runtime/SocketDescriptor.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace runtime {

SocketDescriptor::Accepted SocketDescriptor::accept(qintptr listening) {
#ifdef Q_OS_WIN
    const SOCKET accepted = ::accept(static_cast<SOCKET>(listening), nullptr, nullptr);
    if (accepted != INVALID_SOCKET)
        return {static_cast<qintptr>(accepted), AcceptFailure::Other};
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
#else
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
#endif
}

void SocketDescriptor::close(qintptr descriptor) {
#ifdef Q_OS_WIN
    ::closesocket(static_cast<SOCKET>(descriptor));
#else
    ::close(static_cast<int>(descriptor));
#endif
}

bool SocketDescriptor::peerFinishedSending(qintptr descriptor) {
    char byte = 0;
#ifdef Q_OS_WIN
    return ::recv(static_cast<SOCKET>(descriptor), &byte, 1, MSG_PEEK) == 0;
#else
    return ::recv(static_cast<int>(descriptor), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
#endif
}

} // namespace runtime
