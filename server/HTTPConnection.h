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

    /// `timeout`: how long the client has, from being accepted, to complete its request line
    /// (bytes now and then do not extend it), and after that how long it may stay silent.
    /// Either way the connection is then closed, bytes it left unfinished handled first.
    HTTPConnection(std::shared_ptr<const RequestHandler> handler, std::chrono::milliseconds timeout,
                   QObject* parent = nullptr);

    /// Takes over the accepted `socketDescriptor` and starts the clock of the request line.
    /// On failure the descriptor is closed and false returned; the object is then unusable.
    bool attach(qintptr socketDescriptor);

    /// Handles `data` as one whole request and queues its reply, if it gets one. Does not close
    /// the connection: that happens once everything written has been sent.
    void ProcessHeaders(const QByteArray& data);

    /// Called when bytes have arrived: gathers them until the request line is complete (a CR or
    /// LF), so a line split across TCP segments is still answered once and in full. At the end
    /// of the client's stream the gathered bytes are handled as they stand.
    void DataAvailable();

    /// Called when everything written has been sent: closes the connection.
    void SendComplete(bool userAborted);

    /// Whether a request line has been completed (or handled as it stood) on this connection.
    bool hasRequestLine() const { return m_requestLineSeen; }

    /// Whether the client has sent nothing at all yet.
    bool hasSentNothing() const { return !m_requestLineSeen && m_gathered.isEmpty(); }

    /// Whether a reply is still on its way out.
    bool isReplying() const { return bytesToWrite() > 0 || m_sendCheckQueued; }

    /// When the client was accepted, and when it last sent a byte (the same until it does).
    std::chrono::steady_clock::time_point acceptedAt() const { return m_acceptedAt; }
    std::chrono::steady_clock::time_point lastHeardAt() const { return m_lastHeardAt; }

private:
    void handleGathered();
    void onEndOfStream();
    void onBytesWritten();
    void onTimeout();

    std::shared_ptr<const RequestHandler> m_handler;
    QByteArray m_gathered;
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_acceptedAt;
    std::chrono::steady_clock::time_point m_lastHeardAt;
    bool m_requestLineSeen = false;
    bool m_peerFinished = false;
    bool m_sendCheckQueued = false;
};

} // namespace server
