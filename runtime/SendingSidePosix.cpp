// Ending a socket's sending side on Linux and other POSIX systems.
#include "runtime/SendingSide.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#else
#error "This file holds the POSIX call; Windows has SendingSideWin.cpp."
#endif

namespace runtime {

bool shutdownSending(std::intptr_t descriptor) {
    return ::shutdown(static_cast<int>(descriptor), SHUT_WR) == 0;
}

} // namespace runtime
