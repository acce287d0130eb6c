// A client's socket that outlives the end of the client's stream.
#include "server/ClientSocket.h"

#include "runtime/SendingSide.h"
#include "runtime/SocketDescriptor.h"

#include <QNetworkProxy>
#include <QSocketNotifier>

#include <algorithm>

namespace server {

ClientSocket::ClientSocket(QObject* parent)
    : QTcpSocket(parent) {}

bool ClientSocket::attach(qintptr socketDescriptor) {
    // Qt honours Unbuffered only in connectToHost(), and keeps it once set. Without a proxy to
    // look up and with an empty host name, that call touches neither network nor files: it only
    // posts a "host not found" that setSocketDescriptor() makes moot, since a lookup's answer is
    // ignored once the socket has left the lookup state. No abort() in between: aborting a
    // lookup leaves its number in a process-wide list that every later abort searches, so each
    // new client would cost a little more than the last.
    setProxy(QNetworkProxy::NoProxy);
    connectToHost(QString(), 0, QIODevice::ReadWrite | QIODevice::Unbuffered);
    if (!setSocketDescriptor(socketDescriptor, ConnectedState,
                             QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        // Qt has not taken the descriptor over.
        runtime::SocketDescriptor::close(socketDescriptor);
        return false;
    }
    return true;
}

ClientSocket::Arrival ClientSocket::readArrived(qint64 maxBytes) {
    const qint64 available = bytesAvailable();
    if (available == 0 && runtime::SocketDescriptor::peerFinishedSending(socketDescriptor()))
        return {{}, true};
    // Never more than is waiting, so Qt never reads the end of the stream itself. With nothing
    // waiting, one byte is asked for only so that Qt re-arms its notifier or notices an error.
    return {read(qBound<qint64>(1, available, maxBytes)), false};
}

void ClientSocket::silenceReading() {
    for (QSocketNotifier* notifier : findChildren<QSocketNotifier*>()) {
        if (notifier->type() == QSocketNotifier::Read)
            notifier->setEnabled(false);
    }
}

bool ClientSocket::endSending() {
    m_sendingEnded = runtime::shutdownSending(socketDescriptor());
    return m_sendingEnded;
}

std::optional<qint64> ClientSocket::unsentInSystem() const {
    const int unsent = runtime::unsentInSystem(socketDescriptor());
    if (unsent < 0)
        return std::nullopt;
    // The end of the stream counts as one byte once the sending side is ended.
    return std::max(0, m_sendingEnded ? unsent - 1 : unsent);
}

void ClientSocket::resetOnClose() {
    runtime::resetOnClose(socketDescriptor());
}

} // namespace server
