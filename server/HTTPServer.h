// The key server's listening socket: accepts clients from the local network, each into its own
// connection as admission allows, and says when it cannot listen.
#pragma once

#include "runtime/Clock.h"
#include "server/AcceptLoop.h"
#include "server/ConnectionAdmission.h"
#include "server/DescriptorBudget.h"
#include "server/DeviceEvent.h"
#include "server/KeyReads.h"
#include "server/LocalPeer.h"
#include "server/RequestHandler.h"

#include <QHostAddress>
#include <QTcpServer>

#include <chrono>
#include <functional>
#include <memory>

namespace server {

class HTTPConnection;

struct ServerLimits {
    /// How long a client has, from being accepted, to send a GET, and how long a reply may go
    /// without the system taking a byte of it; then its connection is closed (Deadlines).
    std::chrono::milliseconds idleTimeout{10'000};
    /// At most this many connections are open; who gives way to a newcomer at the bound is
    /// ConnectionAdmission's rule. Bytes waiting in the system are read before judging. By
    /// default, with reservedConnections, what the process's descriptor limit leaves room for.
    int maxConnections = connectionBudget().maxConnections;
    /// After an accept that fails (no descriptors or buffers left), accepting pauses this long,
    /// doubling at each failure in a row up to the longest pause.
    std::chrono::milliseconds firstAcceptPause{50};
    std::chrono::milliseconds longestAcceptPause{1'000};
    /// No one peer address (IPv6: one /64) holds more connections than this.
    int connectionsPerAddress = 64;
    /// Places above maxConnections for newcomers from addresses that hold none, used only when
    /// every open connection is replying.
    int reservedConnections = connectionBudget().reservedConnections;
};

/// Whether a client from this address may be served at all.
using PeerRule = std::function<bool(const QHostAddress&)>;

/// The server's seams; the product leaves each at its default.
struct ServerOptions {
    ServerLimits limits;
    /// Empty: LocalPeer::allowsOnLink() with the subnets of the interfaces last given to
    /// HTTPServer::setLocalInterfaces(). Refused clients are closed at once, unanswered.
    PeerRule peerRule;
    /// Reads key files, on a worker thread; empty: KeyReads::readKeyFile().
    KeyFileReader reader;
    Acceptor accept = &runtime::SocketDescriptor::accept;
    /// Where every timeout, pause and age is measured; it must outlive the server.
    runtime::Clock* clock = &runtime::Clock::system();
};

class HTTPServer : public QObject {
    Q_OBJECT

public:
    static constexpr quint16 kPort = 10999;
    static constexpr int kSpareSockets = 10;

    /// Answers with the selection and keys folder `source` gives at each request.
    explicit HTTPServer(KeySource source, QObject* parent = nullptr, ServerOptions options = {});
    ~HTTPServer() override;

    /// The port Listen() uses; 0 lets the system choose (tests).
    void setPort(quint16 port) { m_port = port; }
    quint16 port() const { return m_port; }

    /// This computer's network interfaces, whose subnets the default peer rule serves; to be
    /// given again whenever they change.
    void setLocalInterfaces(const QList<runtime::InterfaceInfo>& interfaces);

    /// Kept for the configuration the window applies; every client gets a fresh connection, so
    /// no pool needs to be filled.
    void setMinimumSocketsAvailable(int count) { m_minimumSockets = count; }
    int minimumSocketsAvailable() const { return m_minimumSockets; }

    /// Starts listening on the port, on every interface, IPv4 and IPv6, with the port held for
    /// this server alone. A failure is reported through Error() once control is back in the
    /// event loop.
    void Listen();

    /// Stops accepting clients; open connections are left alone.
    void StopListening();

    bool isListening() const { return m_listener.isListening(); }
    /// The port listened on, as the system chose it for port 0; 0 when not listening.
    quint16 serverPort() const { return m_listener.serverPort(); }

    /// How many client connections are open.
    int ActiveConnections() const { return m_admission.size(); }

    /// A new connection object for the next client.
    HTTPConnection* AddSocket();

    /// Tells listenFailed(), then, once its receivers have returned, stops listening for good.
    void Error(QAbstractSocket::SocketError error);

signals:
    /// An accept failed for want of descriptors, buffers or memory (or for a reason unknown);
    /// accepting resumes after `pauseMs` milliseconds.
    void acceptPaused(qint64 pauseMs);

    /// A GET has been read and is about to be answered: once per GET, whatever its answer.
    void getReceived();

    /// A GET has been answered, or a client refused for not being on the local network.
    void deviceEvent(const server::DeviceEvent& event);

    /// Listening failed with `error`; the server accepts no one from now on.
    void listenFailed(QAbstractSocket::SocketError error);

private:
    /// Serves the client accepted as `descriptor`, or closes it unserved: off the local
    /// network, or with no room for it.
    void admit(qintptr descriptor);
    /// Whether a newcomer from `peer` fits, displacing one open connection if need be.
    bool makeRoom(const QHostAddress& peer);

    std::shared_ptr<const RequestHandler> m_handler;
    ServerLimits m_limits;
    PeerRule m_peerRule;
    runtime::Clock& m_clock;
    KeyReads* m_reads;
    AcceptLoop* m_acceptLoop;
    QTcpServer m_listener;
    QList<Subnet> m_onLink;
    ConnectionAdmission<HTTPConnection*> m_admission;
    quint16 m_port = 0;
    int m_minimumSockets = 0;
};

} // namespace server
