// The key server's listening socket.
#include "server/HTTPServer.h"

#include "runtime/Services.h"
#include "runtime/SocketDescriptor.h"
#include "server/HTTPConnection.h"

#include <QHostAddress>
#include <QSocketNotifier>

#include <algorithm>
#include <utility>

namespace server {

namespace {
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
// Room for a burst of clients arriving together before the event loop accepts them; older Qt
// has no setter and keeps its own 50, still ample for one phone.
constexpr int kListenBacklog = 128;
#endif
// Clients accepted in one pass of the event loop. Bounded, so that a flood of newcomers cannot
// starve the open connections, and a phone's request is read before newcomers displace it.
constexpr int kAcceptsPerPass = 32;
} // namespace

HTTPServer::HTTPServer(KeySource source, QObject* parent, ServerLimits limits, PeerRule peerRule,
                       Acceptor accept)
    : QTcpServer(parent)
    , m_handler(std::make_shared<const RequestHandler>(std::move(source)))
    , m_limits(limits)
    , m_peerRule(std::move(peerRule))
    , m_accept(std::move(accept))
    , m_nextAcceptPause(limits.firstAcceptPause) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
    setListenBacklogSize(kListenBacklog);
#endif
    m_acceptPause.setSingleShot(true);
    connect(&m_acceptPause, &QTimer::timeout, this, [this] {
        if (m_acceptNotifier)
            m_acceptNotifier->setEnabled(true);
    });
}

HTTPServer::~HTTPServer() = default;

void HTTPServer::Listen() {
    if (listen(QHostAddress::Any, m_port)) {
        // The server accepts for itself. Qt's listening socket keeps the first error it ever
        // met, so once an accept has found no client waiting it reports a later failure (out
        // of descriptors) as "try again" without a signal, and its event loop spins on it.
        pauseAccepting();
        m_acceptNotifier = new QSocketNotifier(socketDescriptor(), QSocketNotifier::Read, this);
        connect(m_acceptNotifier, &QSocketNotifier::activated, this, &HTTPServer::acceptWaiting);
        return;
    }
    const qint64 code = serverError();
    // Reported from the event loop, so the window finishes opening behind the message box.
    QMetaObject::invokeMethod(
        this, [this, code] { Error(code); }, Qt::QueuedConnection);
}

void HTTPServer::StopListening() {
    m_acceptPause.stop();
    delete m_acceptNotifier;
    m_acceptNotifier = nullptr;
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
    m_nextAcceptPause = m_limits.firstAcceptPause;
    HTTPConnection* connection = AddSocket();
    // A refused client is closed at once: no reply, no alert.
    if (!connection->attach(socketDescriptor) || !m_peerRule(connection->peerAddress()) ||
        (ActiveConnections() >= m_limits.maxConnections && !displaceOne())) {
        connection->abort();
        connection->deleteLater();
        return;
    }
    m_connections.push_back(connection);
    connect(connection, &QObject::destroyed, this, [this, connection] { forget(connection); });
    emit connectionAdded(connection);
}

void HTTPServer::acceptWaiting() {
    using Failure = runtime::SocketDescriptor::AcceptFailure;
    for (int attempt = 0; attempt < kAcceptsPerPass && m_acceptNotifier; ++attempt) {
        const runtime::SocketDescriptor::Accepted result = m_accept(socketDescriptor());
        if (result.descriptor >= 0) {
            incomingConnection(result.descriptor);
            continue;
        }
        if (result.failure == Failure::NoneWaiting)
            return;
        if (result.failure != Failure::Transient) {
            pauseAcceptingAfterFailure();
            return;
        }
    }
}

void HTTPServer::pauseAcceptingAfterFailure() {
    m_acceptNotifier->setEnabled(false);
    const std::chrono::milliseconds pause = m_nextAcceptPause;
    m_nextAcceptPause = std::min(2 * pause, m_limits.longestAcceptPause);
    m_acceptPause.start(pause);
    emit acceptPaused(pause.count());
}

bool HTTPServer::displaceOne() {
    // First whoever has sent nothing at all, then whoever has begun but not ended a request
    // line (a phone on a slow network may split one), the longest waiting first either way;
    // then whoever has been silent longest since its request line. Never one whose reply is
    // still leaving: that would lose a reply, not a mere wait.
    const auto rank = [](const HTTPConnection* c) {
        return c->hasSentNothing() ? 0 : c->hasRequestLine() ? 2 : 1;
    };
    const auto goesFirst = [&rank](const HTTPConnection* a, const HTTPConnection* b) {
        if (rank(a) != rank(b))
            return rank(a) < rank(b);
        return a->hasRequestLine() ? a->lastHeardAt() < b->lastHeardAt()
                                   : a->acceptedAt() < b->acceptedAt();
    };
    HTTPConnection* victim = nullptr;
    for (HTTPConnection* candidate : m_connections) {
        if (!candidate->isReplying() && (!victim || goesFirst(candidate, victim)))
            victim = candidate;
    }
    if (!victim)
        return false;
    forget(victim);
    victim->abort();
    return true;
}

void HTTPServer::forget(HTTPConnection* connection) {
    std::erase(m_connections, connection);
}

} // namespace server
