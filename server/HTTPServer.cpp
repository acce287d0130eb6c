// The key server's listening socket.
#include "server/HTTPServer.h"

#include "runtime/Services.h"
#include "server/HTTPConnection.h"

#include <QHostAddress>

#include <utility>

namespace server {

namespace {
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
// Room for a burst of clients arriving together before the event loop accepts them; older Qt
// has no setter and keeps its own 50, still ample for one phone.
constexpr int kListenBacklog = 128;
#endif
} // namespace

HTTPServer::HTTPServer(KeySource source, QObject* parent, ServerLimits limits)
    : QTcpServer(parent)
    , m_handler(std::make_shared<const RequestHandler>(std::move(source)))
    , m_limits(limits) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
    setListenBacklogSize(kListenBacklog);
#endif
    // Qt stops accepting after a hard accept failure; the user must learn the server is gone.
    connect(this, &QTcpServer::acceptError, this,
            [this](QAbstractSocket::SocketError error) { Error(error); });
}

HTTPServer::~HTTPServer() = default;

void HTTPServer::Listen() {
    if (listen(QHostAddress::Any, m_port))
        return;
    const qint64 code = serverError();
    // Reported from the event loop, so the window finishes opening behind the message box.
    QMetaObject::invokeMethod(
        this, [this, code] { Error(code); }, Qt::QueuedConnection);
}

void HTTPServer::StopListening() {
    close();
}

HTTPConnection* HTTPServer::AddSocket() {
    return new HTTPConnection(m_handler, m_limits.idleTimeout, this);
}

void HTTPServer::Error(qint64 code) {
    runtime::Services::messageBox(QStringLiteral("Server Error: ") + QString::number(code));
    StopListening();
}

void HTTPServer::incomingConnection(qintptr socketDescriptor) {
    if (m_active >= m_limits.maxConnections) {
        QTcpSocket refused;
        refused.setSocketDescriptor(socketDescriptor);
        refused.abort();
        return;
    }
    HTTPConnection* connection = AddSocket();
    if (!connection->setSocketDescriptor(socketDescriptor)) {
        connection->deleteLater();
        return;
    }
    ++m_active;
    connect(connection, &QObject::destroyed, this, [this] { --m_active; });
    emit connectionAdded(connection);
}

} // namespace server
