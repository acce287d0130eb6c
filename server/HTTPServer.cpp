// The key server's listening socket.
#include "server/HTTPServer.h"

#include "runtime/ExclusiveListener.h"
#include "runtime/SocketDescriptor.h"
#include "server/HTTPConnection.h"
#include "server/KeyReads.h"

#include <QSocketNotifier>
#include <QtEndian>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace server {

namespace {
// Room for a burst of clients arriving together before the event loop accepts them, so that a
// flood does not crowd the phone's connection out of the system's queue; on Linux, Qt before 6.3
// has no setter and keeps its own 50.
[[maybe_unused]] constexpr int kListenBacklog = 1024;
// Clients accepted in one pass of the event loop. Bounded, so that a flood of newcomers cannot
// starve the open connections; a newcomer with no room costs little, so many fit in a pass.
constexpr int kAcceptsPerPass = 64;
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

HTTPServer::HTTPServer(KeySource source, UserNotices notices, QObject* parent, ServerLimits limits,
                       PeerRule peerRule, KeyFileReader reader, Acceptor accept)
    : QTcpServer(parent)
    , m_messageBox(std::move(notices.messageBox))
    , m_handler(std::make_shared<const RequestHandler>(std::move(source), std::move(reader),
                                                       std::move(notices.alert)))
    , m_reads(new KeyReads(m_handler, this))
    , m_limits(limits)
    , m_peerRule(std::move(peerRule))
    , m_accept(std::move(accept))
    , m_admission(limits.maxConnections, limits.connectionsPerAddress, limits.reservedConnections)
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

void HTTPServer::setLocalInterfaces(const QList<runtime::InterfaceInfo>& interfaces) {
    m_onLink = LocalPeer::onLinkSubnets(interfaces);
}

void HTTPServer::Listen() {
#ifdef Q_OS_WIN
    // Qt's listener shares its port: another program binding the LAN address with SO_REUSEADDR
    // would take the phone's requests. The server's own socket holds the port exclusively.
    const runtime::ExclusiveListener own = runtime::listenExclusively(m_port, kListenBacklog);
    if (own.descriptor >= 0 && !setSocketDescriptor(own.descriptor))
        runtime::SocketDescriptor::close(own.descriptor);
    const QAbstractSocket::SocketError error =
        own.descriptor >= 0 ? serverError() : socketErrorOf(own.failure);
#else
    listen(QHostAddress::Any, m_port);
    const QAbstractSocket::SocketError error = serverError();
#endif
    if (isListening()) {
        // The server accepts for itself. Qt's listening socket keeps the first error it ever
        // met, so once an accept has found no client waiting it reports a later failure (out
        // of descriptors) as "try again" without a signal, and its event loop spins on it.
        pauseAccepting();
        m_acceptNotifier = new QSocketNotifier(socketDescriptor(), QSocketNotifier::Read, this);
        connect(m_acceptNotifier, &QSocketNotifier::activated, this, &HTTPServer::acceptWaiting);
        return;
    }
    // Reported from the event loop, so the window finishes opening behind the message box.
    QMetaObject::invokeMethod(
        this, [this, error] { Error(error); }, Qt::QueuedConnection);
}

void HTTPServer::StopListening() {
    m_acceptPause.stop();
    delete m_acceptNotifier;
    m_acceptNotifier = nullptr;
    close();
}

HTTPConnection* HTTPServer::AddSocket() {
    return new HTTPConnection(m_handler, m_limits.idleTimeout, m_reads, this);
}

void HTTPServer::Error(QAbstractSocket::SocketError error) {
    emit listenFailed(error);
    const QString text = QStringLiteral("Server Error: ") + QString::number(error);
    if (m_messageBox)
        m_messageBox(text, error);
    else
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
    StopListening();
}

void HTTPServer::incomingConnection(qintptr socketDescriptor) {
    m_nextAcceptPause = m_limits.firstAcceptPause;
    // A refused client is closed at once, before any object is made for it: no reply, no alert,
    // and little work however fast the newcomers come.
    const QHostAddress peer = peerOf(socketDescriptor);
    const bool allowed = m_peerRule ? m_peerRule(peer) : LocalPeer::allowsOnLink(peer, m_onLink);
    if (!peer.isNull() && !allowed)
        emit deviceEvent({DeviceEvent::Outcome::Refused, {}, peer});
    if (peer.isNull() || !allowed || !makeRoom(peer)) {
        runtime::SocketDescriptor::close(socketDescriptor);
        return;
    }
    HTTPConnection* connection = AddSocket();
    if (!connection->attach(socketDescriptor)) {
        connection->deleteLater();
        return;
    }
    m_admission.add(connection, peer);
    connect(connection, &QObject::destroyed, this,
            [this, connection] { m_admission.remove(connection); });
    connect(connection, &HTTPConnection::answered, this,
            [this, peer](DeviceEvent::Outcome outcome, const QByteArray& keyName) {
                emit deviceEvent({outcome, keyName, peer});
            });
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

bool HTTPServer::makeRoom(const QHostAddress& peer) {
    const auto factsOf = [](ConnectionAdmission::Id id) {
        return static_cast<const HTTPConnection*>(id)->facts();
    };
    const auto now = std::chrono::steady_clock::now();
    for (int reads = 0;;) {
        const ConnectionAdmission::Verdict verdict = m_admission.judge(peer, factsOf, now);
        if (verdict.kind != ConnectionAdmission::Verdict::Kind::Displace)
            return verdict.kind == ConnectionAdmission::Verdict::Kind::Admit;
        auto* victim = static_cast<HTTPConnection*>(verdict.victim);
        // Its request may be waiting in the system, unread only because newcomers came first:
        // read it, and judge again. Past the bound on that work, only the reserve is left.
        if (victim->requestWaiting()) {
            if (reads++ == kReadsPerDisplacement)
                return m_admission.judge(peer, factsOf, now, false).kind ==
                       ConnectionAdmission::Verdict::Kind::Admit;
            victim->DataAvailable();
            continue;
        }
        m_admission.remove(victim);
        victim->giveWay();
        return true;
    }
}

} // namespace server
