// The key server's listening socket: accepts clients from the local network, each into its own
// connection as admission allows, rides out a lack of descriptors, and reports a listening failure
// to the user.
#pragma once

#include "runtime/SocketDescriptor.h"
#include "server/ConnectionAdmission.h"
#include "server/DeviceEvent.h"
#include "server/LocalPeer.h"
#include "server/RequestHandler.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace server {

class HTTPConnection;
class KeyReads;

struct ServerLimits {
    /// How long a client has, from being accepted, to complete its request line, after that
    /// how long it may go without completing another, and how long a reply may go without the
    /// client taking a byte of it; then its connection is closed.
    std::chrono::milliseconds idleTimeout{10'000};
    /// At most this many connections are open; who gives way to a newcomer at the bound is
    /// ConnectionAdmission's rule. Bytes waiting in the system are read before judging.
    int maxConnections = 512;
    /// After an accept that fails (no descriptors or buffers left), accepting pauses this long,
    /// doubling at each failure in a row up to the longest pause.
    std::chrono::milliseconds firstAcceptPause{50};
    std::chrono::milliseconds longestAcceptPause{1'000};
    /// No one peer address (IPv6: one /64) holds more connections than this.
    int connectionsPerAddress = 64;
    /// Places above maxConnections for newcomers from addresses that hold none, used only when
    /// every open connection is replying.
    int reservedConnections = 64;
};

/// What the server needs of the person at the computer.
struct UserNotices {
    /// Sounds the computer's alert; called for every GET. Empty: silence.
    std::function<void()> alert;
    /// Shows `text` ("Server Error: " and the code of `error`) modally and returns once the user
    /// has dismissed it. Empty: the text goes to standard error.
    std::function<void(const QString& text, QAbstractSocket::SocketError error)> messageBox;
};

/// Whether a client from this address may be served at all.
using PeerRule = std::function<bool(const QHostAddress&)>;

/// Accepts one waiting client on the listening descriptor without blocking: the system's own
/// accept, or a stand-in that fails as an exhausted system would (tests).
using Acceptor = std::function<runtime::SocketDescriptor::Accepted(std::intptr_t listening)>;

class HTTPServer : public QTcpServer {
    Q_OBJECT

public:
    static constexpr quint16 kPort = 10999;
    static constexpr int kSpareSockets = 10;

    /// `notices` sound the alert and show the listening error. `peerRule` decides which clients
    /// are served; the others are closed at once, unanswered. Empty: LocalPeer::allowsOnLink()
    /// with the subnets of the interfaces last given to setLocalInterfaces(). `reader` reads key
    /// files, on a worker thread; empty: the file system's own.
    explicit HTTPServer(KeySource source, UserNotices notices, QObject* parent = nullptr,
                        ServerLimits limits = {}, PeerRule peerRule = {}, KeyFileReader reader = {},
                        Acceptor accept = &runtime::SocketDescriptor::accept);
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

    /// How many client connections are open.
    int ActiveConnections() const { return m_admission.size(); }

    /// A new connection object for the next client.
    HTTPConnection* AddSocket();

    /// Tells listenFailed(), shows "Server Error: " and the code of `error` in a modal message
    /// box, then stops listening for good.
    void Error(QAbstractSocket::SocketError error);

signals:
    /// A client has been handed `connection`; it belongs to the server.
    void connectionAdded(server::HTTPConnection* connection);

    /// An accept failed for want of descriptors, buffers or memory (or for a reason unknown);
    /// accepting resumes after `pauseMs` milliseconds.
    void acceptPaused(qint64 pauseMs);

    /// A GET has been answered, or a client refused for not being on the local network.
    void deviceEvent(const server::DeviceEvent& event);

    /// Listening failed with `error`; the server accepts no one from now on.
    void listenFailed(QAbstractSocket::SocketError error);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    /// Accepts the clients that are waiting, a bounded number per event-loop pass.
    void acceptWaiting();
    void pauseAcceptingAfterFailure();
    /// Whether a newcomer from `peer` fits, displacing one open connection if need be.
    bool makeRoom(const QHostAddress& peer);

    std::function<void(const QString&, QAbstractSocket::SocketError)> m_messageBox;
    std::shared_ptr<const RequestHandler> m_handler;
    KeyReads* m_reads;
    ServerLimits m_limits;
    PeerRule m_peerRule;
    Acceptor m_accept;
    QList<Subnet> m_onLink;
    ConnectionAdmission m_admission;
    QSocketNotifier* m_acceptNotifier = nullptr;
    QTimer m_acceptPause;
    std::chrono::milliseconds m_nextAcceptPause;
    quint16 m_port = 0;
    int m_minimumSockets = 0;
};

} // namespace server
