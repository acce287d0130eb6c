// Ending a socket's sending side on Linux and other POSIX systems.
#include "runtime/SendingSide.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/ioctl.h>
#include <sys/socket.h>
#ifdef Q_OS_LINUX
#include <linux/sockios.h>
#endif
#else
#error "This file holds the POSIX call; Windows has SendingSideWin.cpp."
#endif

namespace runtime {

bool shutdownSending(std::intptr_t descriptor) {
    return ::shutdown(static_cast<int>(descriptor), SHUT_WR) == 0;
}

int unsentInSystem(std::intptr_t descriptor) {
#ifdef Q_OS_LINUX
    int unsent = 0;
    if (::ioctl(static_cast<int>(descriptor), SIOCOUTQ, &unsent) == 0)
        return unsent;
#else
    Q_UNUSED(descriptor);
#endif
    return -1;
}

void resetOnClose(std::intptr_t descriptor) {
    const linger abortive{1, 0};
    ::setsockopt(static_cast<int>(descriptor), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

} // namespace runtime
