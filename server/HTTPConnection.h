// One client of the key server: gathers its request line, answers it, ends the connection once
// the reply has left, and bounds what a client that does not read its replies can cost.
#pragma once

#include "runtime/Clock.h"
#include "server/ClientSocket.h"
#include "server/ConnectionFacts.h"
#include "server/DeviceEvent.h"
#include "server/HeldReplies.h"

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
    /// Replies a connection has not sent at most (waiting for their key file, or not yet taken
    /// whole by the system), and the bytes of them: at either cap its further requests are not
    /// read, and wait in the system (whose flow control slows the client) until replies leave.
    static constexpr qsizetype kMaxUnsentReplies = 4;
    static constexpr qint64 kMaxUnsentBytes = 65'536;
    /// The system's own send buffer for a client, in which a reply counts as sent: small, so
    /// that a client that does not read holds only a few replies there too (left to itself, the
    /// system grows it to megabytes on a fast link).
    static constexpr int kSendBufferBytes = 16'384;
    /// After its last reply, how long a connection reads and discards what the client still
    /// sends (a header line behind the request line, a retransmission) before it closes, unless
    /// the client closes first; never longer than the connection's timeout. Closing earlier
    /// would make the system answer those bytes with a reset, which discards the rest of the
    /// reply on its way. Five seconds outlast a few retransmissions on a lossy network, and cost
    /// little: a lingering connection is the first to give its place away.
    static constexpr std::chrono::milliseconds kLingerTime{5'000};

    /// Where the connection is in its life: it gathers requests until one calls for a reply,
    /// replies (and may still read requests) until every reply has left, then lingers after
    /// ending its sending side, and is closed.
    enum class Phase { Gathering, Replying, Lingering, Closed };

    /// `timeout`: how long the client has, from being accepted, to complete its request line
    /// (bytes now and then do not extend it), then how long it may stay without completing
    /// another request (bytes that complete none do not extend it either), and how long a reply
    /// may go without the system taking a byte of it. The connection is then closed (a reply
    /// abandoned), bytes left unfinished handled first; not while a key file is being read for
    /// it. `reads` reads key files off this thread. Every time is `clock`'s.
    HTTPConnection(std::shared_ptr<const RequestHandler> handler, KeyReads& reads,
                   std::chrono::milliseconds timeout,
                   runtime::Clock& clock = runtime::Clock::system(), QObject* parent = nullptr);
    ~HTTPConnection() override;

    /// Takes over the accepted `socketDescriptor` and starts the clock of the request line.
    /// On failure the descriptor is closed and false returned; the object is then unusable.
    bool attach(qintptr socketDescriptor);

    /// Handles `data` as one whole request and queues its reply, if it gets one, behind the
    /// replies not yet sent. Does not end the connection: that happens once everything written
    /// has been sent.
    void ProcessHeaders(const QByteArray& data);

    /// Called when bytes have arrived: gathers them until the request line is complete (a CR or
    /// LF), so a line split across TCP segments is still answered once and in full. At the end
    /// of the client's stream the gathered bytes are handled as they stand. Reads nothing while
    /// the unsent replies are at their cap; after the last reply, reads only to discard.
    void DataAvailable();

    /// Called when everything written has been sent: ends the sending side (the client sees the
    /// end of the connection after the reply) and lingers until the client closes.
    void SendComplete(bool userAborted);

    /// Reads what the client has sent and the system holds, as its arrival would have: for a
    /// judge of how far the request got who must not wait for the event loop to deliver it.
    void readWaitingRequest() { DataAvailable(); }

    /// Gives the connection's place away: a lingering one closes as after its linger (its reply
    /// may still be on its way), any other is aborted.
    void giveWay();

    Phase phase() const { return m_phase; }

    /// How far the client's request got.
    RequestStage stage() const {
        return m_requestLineSeen      ? RequestStage::Complete
               : m_gathered.isEmpty() ? RequestStage::Nothing
                                      : RequestStage::Begun;
    }

    /// Whether a reply is still on its way out, or waiting for its key file to be read.
    bool isReplying() const { return m_phase == Phase::Replying; }

    /// Whether reading now would take in bytes the client has sent: it is open, its requests
    /// are read (not lingering, not at the cap), and bytes wait in the system.
    bool requestWaiting() const;

    /// What admission judges it by.
    ConnectionFacts facts() const;

signals:
    /// A GET has been read and is about to be answered: once per GET, whatever its answer.
    void getReceived();

    /// A GET's reply has been handed whole to the system: `outcome` for the key `keyName` as
    /// asked for. Emitted once per reply that leaves, in the order they leave.
    void answered(server::DeviceEvent::Outcome outcome, const QByteArray& keyName);

private:
    bool atCap() const;
    void queueReply(const HeldReplies::Reply& reply);
    void sendNow(const HeldReplies::Reply& reply);
    /// Sends the held replies that no longer wait for a key file, in order.
    void sendReady();
    /// Notes that the system has taken bytes: tells the replies that have left, restarts the
    /// send clock, and resumes reading once below the cap.
    void noteProgress();
    void onKeyRead(HeldReplies::Ticket ticket, const HeldReplies::Reply& reply);
    /// Whether every reply has left: none waits for its key file, in the write buffer, or for its
    /// request to be read now that there is room.
    bool allSent() const;
    /// The one way to the end of a reply: SendComplete() once a replying connection has sent all.
    void finishIfDone();
    void handleGathered();
    void onEndOfStream();
    void onTimeout();
    /// Reads and discards what has arrived while lingering; closes at the end of the stream.
    void discardArrived();
    /// Closes after discarding what waits unread, so that the system does not reset.
    void closeQuietly();
    /// Drops the connection at once, a reply on its way with it.
    void abortNow();

    std::shared_ptr<const RequestHandler> m_handler;
    KeyReads& m_reads;
    runtime::Clock& m_clock;
    HeldReplies m_replies;
    QByteArray m_gathered;
    runtime::Timer m_timer;
    std::chrono::milliseconds m_timeout;
    std::chrono::steady_clock::time_point m_acceptedAt;
    std::chrono::steady_clock::time_point m_lastHeardAt;
    std::chrono::steady_clock::time_point m_replyMovedAt;
    Phase m_phase = Phase::Gathering;
    bool m_requestLineSeen = false;
    /// The client has ended its stream: it sends nothing that could reset the reply away, so
    /// there is nothing to linger for.
    bool m_clientFinished = false;
    bool m_readingPaused = false;
    bool m_resumeQueued = false;
};

} // namespace server
