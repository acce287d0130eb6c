// Ending a socket's sending side on Windows, through Winsock.
#include "runtime/SendingSide.h"

#include <winsock2.h>

namespace runtime {

bool shutdownSending(std::intptr_t descriptor) {
    return ::shutdown(static_cast<SOCKET>(descriptor), SD_SEND) == 0;
}

} // namespace runtime
