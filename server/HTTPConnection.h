// One client of the key server: gathers its request line, answers it, and closes once the reply
// has left.
#pragma once

#include "runtime/RegularFile.h"
#include "server/ClientSocket.h"
#include "server/ConnectionAdmission.h"
#include "server/DeviceEvent.h"
#include "server/HeldReplies.h"

#include <QTimer>

#include <chrono>
#include <memory>

namespace server {

class KeyReads;
class RequestHandler;

class HTTPConnection : public ClientSocket {
    Q_OBJECT

public:
    /// Bytes gathered without a line end that are handled as they stand.
    static constexpr qsizetype kMaxGatheredBytes = 8192;
    /// Replies a connection holds at most (waiting for their key file, or not yet taken by the
    /// system); a request that comes while it holds this many is not answered.
    static constexpr qsizetype kMaxHeldReplies = 4;

    /// `timeout`: how long the client has, from being accepted, to complete its request line
    /// (bytes now and then do not extend it), and after that how long it may stay silent.
    /// Either way the connection is then closed, bytes it left unfinished handled first; not
    /// while a key file is being read for it. `reads` reads key files off this thread; without
    /// it they are read here and now.
    HTTPConnection(std::shared_ptr<const RequestHandler> handler, std::chrono::milliseconds timeout,
                   KeyReads* reads = nullptr, QObject* parent = nullptr);

    /// Takes over the accepted `socketDescriptor` and starts the clock of the request line.
    /// On failure the descriptor is closed and false returned; the object is then unusable.
    bool attach(qintptr socketDescriptor);

    /// Handles `data` as one whole request and queues its reply, if it gets one, behind the
    /// replies still waiting for their key file. Does not close the connection: that happens once
    /// everything written has been sent.
    void ProcessHeaders(const QByteArray& data);

    /// Called when bytes have arrived: gathers them until the request line is complete (a CR or
    /// LF), so a line split across TCP segments is still answered once and in full. At the end
    /// of the client's stream the gathered bytes are handled as they stand.
    void DataAvailable();

    /// Called when everything written has been sent: closes the connection.
    void SendComplete(bool userAborted);

    /// How far the client's request got.
    ConnectionFacts::Stage stage() const {
        return m_requestLineSeen      ? ConnectionFacts::Stage::Complete
               : m_gathered.isEmpty() ? ConnectionFacts::Stage::Nothing
                                      : ConnectionFacts::Stage::Begun;
    }

    /// Whether a reply is still on its way out, or waiting for its key file to be read.
    bool isReplying() const { return bytesToWrite() > 0 || m_sendCheckQueued || !m_held.empty(); }

    /// When the client was accepted, and when it last sent a byte (the same until it does).
    std::chrono::steady_clock::time_point acceptedAt() const { return m_acceptedAt; }
    std::chrono::steady_clock::time_point lastHeardAt() const { return m_lastHeardAt; }

signals:
    /// A GET's reply is decided: `outcome` for the key `keyName` as asked for. Emitted once per
    /// GET, before the reply leaves; a reply that waits for its key file, once the file is read.
    void answered(server::DeviceEvent::Outcome outcome, const QByteArray& keyName);

private:
    /// The reply for the key file `read`, told through answered() first.
    QByteArray keyReply(const QByteArray& keyName, const runtime::RegularFileRead& read);
    void queueReply(const QByteArray& reply);
    void sendNow(const QByteArray& reply);
    /// Sends the held replies that no longer wait for a key file, in order.
    void sendReady();
    void onKeyRead(HeldReplies::Ticket ticket, const QByteArray& reply);
    void closeIfAllSent();
    /// Whether every reply has left: none waits for its key file or in the write buffer.
    bool allSent() const;
    void handleGathered();
    void onEndOfStream();
    void onBytesWritten();
    void onTimeout();

    std::shared_ptr<const RequestHandler> m_handler;
    KeyReads* m_reads;
    HeldReplies m_held;
    QByteArray m_gathered;
    QTimer m_timer;
    std::chrono::steady_clock::time_point m_acceptedAt;
    std::chrono::steady_clock::time_point m_lastHeardAt;
    bool m_requestLineSeen = false;
    bool m_peerFinished = false;
    bool m_sendCheckQueued = false;
};

} // namespace server
