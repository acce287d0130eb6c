// The key server's listening socket.
#include "server/HTTPServer.h"

#include "runtime/ExclusiveListener.h"
#include "runtime/SocketDescriptor.h"
#include "server/HTTPConnection.h"
#include "server/KeyReads.h"

#include <QtEndian>

#include <utility>

namespace server {

namespace {
// Room for a burst of clients arriving together before the event loop accepts them, so that a
// flood does not crowd the phone's connection out of the system's queue; on Linux, Qt before 6.3
// has no setter and keeps its own 50.
[[maybe_unused]] constexpr int kListenBacklog = 1024;
// Connections whose waiting bytes are read while looking for one to displace, per newcomer. Each
// such read can only make its connection less displaceable, so the bound only caps the work.
constexpr int kReadsPerDisplacement = 16;

// The peer of an accepted descriptor, an IPv4 client of the dual-stack listener as IPv4: one
// address, whichever form the system reports. Null when the system cannot tell.
QHostAddress peerOf(qintptr descriptor) {
    using Family = runtime::SocketDescriptor::PeerAddress::Family;
    const runtime::SocketDescriptor::PeerAddress peer =
        runtime::SocketDescriptor::peerAddress(descriptor);
    switch (peer.family) {
    case Family::IPv4:
        return QHostAddress(qFromBigEndian<quint32>(peer.bytes.data()));
    case Family::IPv6:
        return LocalPeer::unmapped(QHostAddress(peer.bytes.data()));
    case Family::Unknown:
        break;
    }
    return {};
}

#ifdef Q_OS_WIN
QAbstractSocket::SocketError socketErrorOf(runtime::ExclusiveListener::Failure failure) {
    using Failure = runtime::ExclusiveListener::Failure;
    switch (failure) {
    case Failure::AddressInUse:
        return QAbstractSocket::AddressInUseError;
    case Failure::Access:
        return QAbstractSocket::SocketAccessError;
    case Failure::OutOfResources:
        return QAbstractSocket::SocketResourceError;
    case Failure::None:
    case Failure::Other:
        break;
    }
    return QAbstractSocket::UnknownSocketError;
}
#endif

} // namespace

HTTPServer::HTTPServer(KeySource source, QObject* parent, ServerOptions options)
    : QObject(parent)
    , m_handler(std::make_shared<const RequestHandler>(std::move(source)))
    , m_limits(options.limits)
    , m_peerRule(std::move(options.peerRule))
    , m_clock(*options.clock)
    , m_reads(new KeyReads(
          options.reader ? std::move(options.reader) : KeyFileReader(&KeyReads::readKeyFile), this))
    , m_acceptLoop(new AcceptLoop(std::move(options.accept), m_limits.firstAcceptPause,
                                  m_limits.longestAcceptPause, m_clock, this))
    , m_admission(m_limits.maxConnections, m_limits.connectionsPerAddress,
                  m_limits.reservedConnections) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
    m_listener.setListenBacklogSize(kListenBacklog);
#endif
    connect(m_acceptLoop, &AcceptLoop::accepted, this, &HTTPServer::admit);
    connect(m_acceptLoop, &AcceptLoop::paused, this, &HTTPServer::acceptPaused);
}

HTTPServer::~HTTPServer() = default;

void HTTPServer::setLocalInterfaces(const QList<runtime::InterfaceInfo>& interfaces) {
    m_onLink = LocalPeer::onLinkSubnets(interfaces);
}

void HTTPServer::Listen() {
#ifdef Q_OS_WIN
    // Qt's listener shares its port: another program binding the LAN address with SO_REUSEADDR
    // would take the phone's requests. The server's own socket holds the port exclusively.
    const runtime::ExclusiveListener own = runtime::listenExclusively(m_port, kListenBacklog);
    if (own.descriptor >= 0 && !m_listener.setSocketDescriptor(own.descriptor))
        runtime::SocketDescriptor::close(own.descriptor);
    const QAbstractSocket::SocketError error =
        own.descriptor >= 0 ? m_listener.serverError() : socketErrorOf(own.failure);
#else
    m_listener.listen(QHostAddress::Any, m_port);
    const QAbstractSocket::SocketError error = m_listener.serverError();
#endif
    if (m_listener.isListening()) {
        // Qt's listener only binds and holds the port: the server accepts for itself. Qt's
        // listening socket keeps the first error it ever met, so once an accept has found no
        // client waiting it reports a later failure (out of descriptors) as "try again" without
        // a signal, and its event loop spins on it.
        m_listener.pauseAccepting();
        m_acceptLoop->start(m_listener.socketDescriptor());
        return;
    }
    // Reported from the event loop, so the window finishes opening behind the message box.
    QMetaObject::invokeMethod(
        this, [this, error] { Error(error); }, Qt::QueuedConnection);
}

void HTTPServer::StopListening() {
    m_acceptLoop->stop();
    m_listener.close();
}

HTTPConnection* HTTPServer::AddSocket() {
    return new HTTPConnection(m_handler, *m_reads, m_limits.idleTimeout, m_clock, this);
}

void HTTPServer::Error(QAbstractSocket::SocketError error) {
    emit listenFailed(error);
    StopListening();
}

void HTTPServer::admit(qintptr descriptor) {
    // A refused client is closed at once, before any object is made for it: no reply, no alert,
    // and little work however fast the newcomers come.
    const QHostAddress peer = peerOf(descriptor);
    const bool allowed = m_peerRule ? m_peerRule(peer) : LocalPeer::allowsOnLink(peer, m_onLink);
    if (!peer.isNull() && !allowed)
        emit deviceEvent({DeviceEvent::Outcome::Refused, {}, peer});
    if (peer.isNull() || !allowed || !makeRoom(peer)) {
        runtime::SocketDescriptor::close(descriptor);
        return;
    }
    HTTPConnection* connection = AddSocket();
    if (!connection->attach(descriptor)) {
        connection->deleteLater();
        return;
    }
    m_admission.add(connection, peer);
    connect(connection, &HTTPConnection::ended, this,
            [this, connection] { m_admission.remove(connection); });
    connect(connection, &HTTPConnection::getReceived, this, &HTTPServer::getReceived);
    connect(connection, &HTTPConnection::answered, this,
            [this, peer](DeviceEvent::Outcome outcome, const QByteArray& keyName) {
                emit deviceEvent({outcome, keyName, peer});
            });
}

bool HTTPServer::makeRoom(const QHostAddress& peer) {
    using Kind = ConnectionAdmission<HTTPConnection*>::Verdict::Kind;
    const auto factsOf = [](const HTTPConnection* connection) { return connection->facts(); };
    const auto now = m_clock.now();
    for (int reads = 0;;) {
        const auto verdict = m_admission.judge(peer, factsOf, now);
        if (verdict.kind != Kind::Displace)
            return verdict.kind == Kind::Admit;
        HTTPConnection* victim = verdict.victim;
        // Its request may be waiting in the system, unread only because newcomers came first:
        // read it, and judge again. Past the bound on that work, only the reserve is left.
        if (victim->requestWaiting()) {
            if (reads++ == kReadsPerDisplacement)
                return m_admission.judge(peer, factsOf, now, false).kind == Kind::Admit;
            victim->readBeforeJudging();
            continue;
        }
        // Its end tells admission.
        victim->giveWay();
        return true;
    }
}

} // namespace server
