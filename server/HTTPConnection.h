// One client of the key server: gathers its request line, answers it, and closes once the reply
// has left.
#pragma once

#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <memory>

namespace server {

class RequestHandler;

class HTTPConnection : public QTcpSocket {
    Q_OBJECT

public:
    /// Bytes gathered without a line end that are handled as they stand.
    static constexpr qsizetype kMaxGatheredBytes = 8192;

    /// `idleTimeout`: how long the client may stay silent before the connection is closed
    /// (bytes it left unfinished are handled first).
    HTTPConnection(std::shared_ptr<const RequestHandler> handler,
                   std::chrono::milliseconds idleTimeout, QObject* parent = nullptr);

    /// Handles `data` as one whole request and queues its reply, if it gets one. Does not close
    /// the connection: that happens once everything written has been sent.
    void ProcessHeaders(const QByteArray& data);

    /// Called when bytes have arrived: gathers them until the request line is complete (a CR or
    /// LF), so a line split across TCP segments is still answered once and in full.
    void DataAvailable();

    /// Called when everything written has been sent: closes the connection.
    void SendComplete(bool userAborted);

private:
    void onBytesWritten();
    void onIdle();

    std::shared_ptr<const RequestHandler> m_handler;
    QByteArray m_gathered;
    QTimer m_idle;
};

} // namespace server
