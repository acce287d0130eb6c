// Ending a test client's sending side through the system's own call: Qt has none.
#include "support/HalfClose.h"

#include <QTcpSocket>

#if defined(Q_OS_WIN)
#include <winsock2.h>
#else
#include <sys/socket.h>
#endif

bool shutdownSending(QTcpSocket& socket) {
#if defined(Q_OS_WIN)
    return ::shutdown(static_cast<SOCKET>(socket.socketDescriptor()), SD_SEND) == 0;
#else
    return ::shutdown(static_cast<int>(socket.socketDescriptor()), SHUT_WR) == 0;
#endif
}
