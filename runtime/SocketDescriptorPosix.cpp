// Raw socket descriptor calls on Linux and other POSIX systems.
#include "runtime/SocketDescriptor.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <cerrno>
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

} // namespace runtime
