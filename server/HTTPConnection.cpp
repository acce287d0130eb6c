// One client connection of the key server.
#include "server/HTTPConnection.h"

#include "runtime/SocketDescriptor.h"
#include "server/RequestHandler.h"

#include <QNetworkProxy>

#include <utility>

namespace server {

HTTPConnection::HTTPConnection(std::shared_ptr<const RequestHandler> handler,
                               std::chrono::milliseconds timeout, QObject* parent)
    : QTcpSocket(parent)
    , m_handler(std::move(handler)) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(timeout);
    connect(&m_timer, &QTimer::timeout, this, &HTTPConnection::onTimeout);
    connect(this, &QTcpSocket::readyRead, this, &HTTPConnection::DataAvailable);
    connect(this, &QTcpSocket::bytesWritten, this, &HTTPConnection::onBytesWritten);
    connect(this, &QTcpSocket::disconnected, this, &QObject::deleteLater);
}

bool HTTPConnection::attach(qintptr socketDescriptor) {
    // Buffered (the default), Qt reads the end of the client's stream on its own and then
    // closes the socket outright, dropping a reply that has not left yet: a client that
    // half-closes after its request would lose it. Unbuffered, Qt reads from the system only
    // when asked, so DataAvailable() can see the end coming and answer first. Qt honours
    // Unbuffered only in connectToHost(), and keeps it once set. Without a proxy to look up
    // and with an empty host name, that call touches neither network nor files: it only posts
    // a "host not found" that setSocketDescriptor() makes moot, since a lookup's answer is
    // ignored once the socket has left the lookup state. No abort() in between: aborting a
    // lookup leaves its number in a process-wide list that every later abort searches, so
    // each new client would cost a little more than the last.
    setProxy(QNetworkProxy::NoProxy);
    connectToHost(QString(), 0, QIODevice::ReadWrite | QIODevice::Unbuffered);
    if (!setSocketDescriptor(socketDescriptor, ConnectedState,
                             QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        // Qt has not taken the descriptor over.
        runtime::SocketDescriptor::close(socketDescriptor);
        return false;
    }
    m_acceptedAt = m_lastHeardAt = std::chrono::steady_clock::now();
    m_timer.start();
    return true;
}

void HTTPConnection::ProcessHeaders(const QByteArray& data) {
    const std::optional<QByteArray> reply = m_handler->handle(data);
    if (!reply)
        return;
    if (write(*reply) < 0) {
        abort();
        return;
    }
    // An unbuffered write that the system takes whole emits no bytesWritten, so whether it has
    // all left is also looked at once control is back in the event loop.
    if (!m_sendCheckQueued) {
        m_sendCheckQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_sendCheckQueued = false;
                if (bytesToWrite() == 0 && state() == ConnectedState)
                    SendComplete(false);
            },
            Qt::QueuedConnection);
    }
}

void HTTPConnection::DataAvailable() {
    const qint64 available = bytesAvailable();
    if (available == 0 && runtime::SocketDescriptor::peerFinishedSending(socketDescriptor())) {
        onEndOfStream();
        return;
    }
    // Never more than is waiting, so Qt never reads the end of the stream itself. With nothing
    // waiting, one byte is asked for only so that Qt re-arms its notifier or notices an error.
    const qint64 room = kMaxGatheredBytes - m_gathered.size();
    const QByteArray bytes = read(qBound<qint64>(1, available, room));
    if (bytes.isEmpty()) {
        // A failed read leaves the socket unconnected without a disconnected signal.
        if (state() == UnconnectedState)
            deleteLater();
        return;
    }
    m_lastHeardAt = std::chrono::steady_clock::now();
    // Until the request line is complete the clock runs from the accept, whatever trickles in.
    if (m_requestLineSeen)
        m_timer.start();
    m_gathered += bytes;
    // Gathered bytes never hold a line end: they would have been handled when it came.
    if (bytes.contains('\r') || bytes.contains('\n') || m_gathered.size() >= kMaxGatheredBytes)
        handleGathered();
}

void HTTPConnection::SendComplete(bool /*userAborted*/) {
    // Bytes left unread would make the system reset the connection instead of closing it, and
    // the client could lose the reply it has not read yet.
    if (const qint64 unread = bytesAvailable(); unread > 0)
        read(unread);
    close();
}

void HTTPConnection::handleGathered() {
    m_requestLineSeen = true;
    m_timer.start();
    ProcessHeaders(std::exchange(m_gathered, {}));
    // A reply the system took whole has left already: close now rather than from the queued
    // check, which under load waits behind every socket event and keeps each connection open
    // that much longer.
    if (m_sendCheckQueued && bytesToWrite() == 0 && state() == ConnectedState)
        SendComplete(false);
}

void HTTPConnection::onEndOfStream() {
    if (!m_gathered.isEmpty())
        handleGathered();
    // Nothing more can arrive; a reply on its way out closes the connection once it has left.
    if (!isReplying())
        close();
}

void HTTPConnection::onBytesWritten() {
    if (bytesToWrite() == 0)
        SendComplete(false);
}

void HTTPConnection::onTimeout() {
    if (!m_gathered.isEmpty()) {
        handleGathered();
        // A reply has just been queued: it gets one more timeout to leave.
        if (isReplying())
            return;
    }
    abort();
}

} // namespace server
