// Raw socket descriptor calls, one form per platform.
#include "runtime/SocketDescriptor.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#else
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace runtime {

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
