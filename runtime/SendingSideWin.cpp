// Ending a socket's sending side on Windows, through Winsock.
#include "runtime/SendingSide.h"

#include <winsock2.h>

namespace runtime {

bool shutdownSending(std::intptr_t descriptor) {
    return ::shutdown(static_cast<SOCKET>(descriptor), SD_SEND) == 0;
}

int unsentInSystem(std::intptr_t /*descriptor*/) {
    return -1;
}

void resetOnClose(std::intptr_t descriptor) {
    const linger abortive{1, 0};
    ::setsockopt(static_cast<SOCKET>(descriptor), SOL_SOCKET, SO_LINGER,
                 reinterpret_cast<const char*>(&abortive), sizeof abortive);
}

} // namespace runtime
