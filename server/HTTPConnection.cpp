// One client connection of the key server.
#include "server/HTTPConnection.h"

#include "server/RequestHandler.h"

#include <utility>

namespace server {

HTTPConnection::HTTPConnection(std::shared_ptr<const RequestHandler> handler,
                               std::chrono::milliseconds idleTimeout, QObject* parent)
    : QTcpSocket(parent)
    , m_handler(std::move(handler)) {
    m_idle.setSingleShot(true);
    m_idle.setInterval(idleTimeout);
    connect(&m_idle, &QTimer::timeout, this, &HTTPConnection::onIdle);
    connect(this, &QTcpSocket::readyRead, this, &HTTPConnection::DataAvailable);
    connect(this, &QTcpSocket::bytesWritten, this, &HTTPConnection::onBytesWritten);
    connect(this, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    m_idle.start();
}

void HTTPConnection::ProcessHeaders(const QByteArray& data) {
    if (const std::optional<QByteArray> reply = m_handler->handle(data))
        write(*reply);
}

void HTTPConnection::DataAvailable() {
    m_idle.start();
    m_gathered += readAll();
    if (m_gathered.contains('\r') || m_gathered.contains('\n') ||
        m_gathered.size() >= kMaxGatheredBytes)
        ProcessHeaders(std::exchange(m_gathered, {}));
}

void HTTPConnection::SendComplete(bool /*userAborted*/) {
    close();
}

void HTTPConnection::onBytesWritten() {
    if (bytesToWrite() == 0)
        SendComplete(false);
}

void HTTPConnection::onIdle() {
    if (!m_gathered.isEmpty()) {
        ProcessHeaders(std::exchange(m_gathered, {}));
        // A reply has just been queued: SendComplete closes once it has left, and a client that
        // will not take it is dropped at the next timeout.
        if (bytesToWrite() > 0) {
            m_idle.start();
            return;
        }
    }
    abort();
}

} // namespace server
