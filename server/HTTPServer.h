// The key server's listening socket: hands every client its own connection and reports a
// listening failure to the user.
#pragma once

#include "server/RequestHandler.h"

#include <QTcpServer>

#include <chrono>
#include <memory>

namespace server {

class HTTPConnection;

struct ServerLimits {
    /// A connection whose client stays silent this long is closed.
    std::chrono::milliseconds idleTimeout{10'000};
    /// Clients beyond this many open connections are closed as soon as they arrive.
    int maxConnections = 256;
};

class HTTPServer : public QTcpServer {
    Q_OBJECT

public:
    static constexpr quint16 kPort = 10999;
    static constexpr int kSpareSockets = 10;

    explicit HTTPServer(KeySource source, QObject* parent = nullptr, ServerLimits limits = {});
    ~HTTPServer() override;

    /// The port Listen() uses; 0 lets the system choose (tests).
    void setPort(quint16 port) { m_port = port; }
    quint16 port() const { return m_port; }

    /// Kept for the configuration the window applies; every client gets a fresh connection, so
    /// no pool needs to be filled.
    void setMinimumSocketsAvailable(int count) { m_minimumSockets = count; }
    int minimumSocketsAvailable() const { return m_minimumSockets; }

    /// Starts listening on the port, on every interface, IPv4 and IPv6. A failure is reported
    /// through Error() once control is back in the event loop.
    void Listen();

    /// Stops accepting clients; open connections are left alone.
    void StopListening();

    /// How many client connections are open.
    int ActiveConnections() const { return m_active; }

    /// A new connection object for the next client.
    HTTPConnection* AddSocket();

    /// Shows "Server Error: " and `code` in a modal message box, then stops listening for good.
    void Error(qint64 code);

signals:
    /// A client has been handed `connection`; it belongs to the server.
    void connectionAdded(server::HTTPConnection* connection);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    std::shared_ptr<const RequestHandler> m_handler;
    ServerLimits m_limits;
    quint16 m_port = 0;
    int m_minimumSockets = 0;
    int m_active = 0;
};

} // namespace server
