// A client's TCP socket set up so that the end of the client's stream never costs a reply: the
// ways around Qt's own handling of that end, in one place.
#pragma once

#include <QByteArray>
#include <QTcpSocket>

#include <optional>

namespace server {

class ClientSocket : public QTcpSocket {
    Q_OBJECT

public:
    explicit ClientSocket(QObject* parent = nullptr);

    /// Takes over the accepted `socketDescriptor`, unbuffered: Qt then reads from the system
    /// only when asked, so it never reads the end of the client's stream on its own and closes
    /// the socket with a reply still to send. On failure the descriptor is closed and false
    /// returned; the object is then unusable.
    bool attach(qintptr socketDescriptor);

    /// What the client sent and this socket has not read yet.
    struct Arrival {
        /// At most the `maxBytes` asked for; empty when nothing was waiting (or the read failed).
        QByteArray bytes;
        /// The client has ended its sending side and everything it sent has been read.
        bool endOfStream = false;
    };

    /// Reads what is waiting, up to `maxBytes` (at least 1), never the end of the stream: that
    /// is reported instead, with the socket left open for the reply.
    Arrival readArrived(qint64 maxBytes);

    /// Stops the reports of the end of the client's stream: the system repeats them for as long
    /// as the socket is open, and while a reply waits for its key file they would spin the event
    /// loop (on Windows, starving the very event that delivers the read). Writing goes on.
    void silenceReading();

    /// Ends this side's stream once every byte written has left Qt's buffer (call it only then):
    /// the client reads the end of the stream after the last of them, and reading goes on.
    /// False when the system refuses (the connection is gone).
    bool endSending();

    /// Bytes written that the system still holds because the client has not acknowledged them
    /// (Linux: the send queue). Nothing where the system does not tell (Windows, others).
    std::optional<qint64> unsentInSystem() const;

    /// Makes the next close a reset: the system then drops what it still holds for a client
    /// that does not read, instead of keeping it in an orphaned socket that probes a closed
    /// window for as long as the client keeps its end.
    void resetOnClose();

private:
    /// endSending() has queued the end of the stream, which the system counts as one byte.
    bool m_sendingEnded = false;
};

} // namespace server
