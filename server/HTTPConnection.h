// One client of the key server: gathers its request line, answers it, ends the connection once
// the reply has left, and bounds what a client that does not read its replies can cost.
#pragma once

#include "runtime/Clock.h"
#include "server/ClientSocket.h"
#include "server/ConnectionFacts.h"
#include "server/Deadlines.h"
#include "server/DeviceEvent.h"
#include "server/HeldReplies.h"

#include <chrono>
#include <memory>

namespace server {

class KeyReads;
class RequestHandler;

/// A connection's life is one Phase, moved only by next(): what the flags of a connection would
/// otherwise say (a GET seen, reading paused at the cap, a read queued, the client's stream
/// ended, the last request read) is the phase itself. The one way out is finish(): it alone
/// sets Closed, stops the deadline, tells admission (ended()) and schedules the deletion, once.
///
/// Transitions (next(phase, event) -> phase, what leaves: /f = the sending side ends after the
/// reply, close = a graceful close, reset = an abort, the system dropping what it holds; the
/// phases Gathering, Replying, Paused, Resuming, LastReplies, HalfClosed, Lingering, Draining):
///
///   event \ phase   Gather   Reply    Paused   Resume   Last     HalfCl   Linger   Drain
///   Bytes           -        -        -        -        -        -        -        -
///   OtherLine       -        -        -        -        -        -        -        -
///   Get             Reply    -        -        -        -        -        -        -
///   LastGet         Last     Last     -        -        -        -        -        -
///   AtCap           -        Paused   -        -        -        -        -        -
///   Taken           -        -        Resume   -        -        -        -        -
///   Resume          -        -        -        Reply    -        -        -        -
///   AllSent         -        Linger/f -        -        Linger/f Drain/f  -        -
///   EndOfStream     close    HalfCl   HalfCl   HalfCl   HalfCl   -        Drain    -
///   Reset           reset    reset    reset    reset    reset    reset    reset    reset
///   RequestLineDue  reset    -        -        -        -        -        -        -
///   SendProgressDue -        reset    reset    reset    reset    reset    -        -
///   LingerDue       -        -        -        -        -        -        close    close
///   Stalled         reset    reset    reset    reset    reset    reset    reset    reset
///   Displaced       reset    reset    reset    reset    reset    reset    close    close
///
/// "-": the phase stays and nothing leaves. Closed stays Closed whatever comes. Events the
/// phase cannot meet (a Paused connection reads nothing, so sees no Get) stay too.
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
    /// GETs a connection answers in its whole life: pipelined ones up to this many, then it reads
    /// no more and ends after its last reply, so that no client keeps one connection busy for
    /// ever by asking again and again. A phone asks once.
    static constexpr int kMaxRequests = 8;
    /// The system's own send buffer for a client, in which a reply counts as sent: small, so
    /// that a client that does not read holds only a few replies there too (left to itself, the
    /// system grows it to megabytes on a fast link).
    static constexpr int kSendBufferBytes = 16'384;
    /// After its last reply, how long a connection reads and discards what the client still
    /// sends (a header line behind the request line, a retransmission) before it closes, unless
    /// the client closes first; never longer than the connection's timeout. Closing earlier
    /// would make the system answer those bytes with a reset, which discards the rest of the
    /// reply on its way. Five seconds outlast a few retransmissions on a lossy network. While
    /// the system still delivers the reply at the end, the linger goes on; a reply that has not
    /// moved is reset away.
    static constexpr std::chrono::milliseconds kLingerTime{5'000};
    /// Where the system does not tell what it still holds of a reply (Windows), a lingering
    /// connection counts as replying for this long after its sending side ended: the last
    /// segments of a reply reach a phone on a poor Wi-Fi within it.
    static constexpr std::chrono::milliseconds kUntoldDeliveryTime{1'000};

    enum class Phase {
        /// No GET read yet: gathers the request line.
        Gathering,
        /// A GET read: its replies wait for key files or leave; further requests are read.
        Replying,
        /// Replying with the unsent replies at their cap: reads nothing until some leave.
        Paused,
        /// Replying, below the cap again, with the read of the waiting requests queued.
        Resuming,
        /// Replying to its last requests (kMaxRequests read): reads no more, lingers after.
        LastReplies,
        /// Replying to a client that has ended its stream: drains after the last reply.
        HalfClosed,
        /// Its sending side ended after the last reply: discards what still comes until the
        /// client closes or the linger ends.
        Lingering,
        /// Both streams ended, the system still delivering the reply: reads nothing, closes once
        /// it is delivered (at once if it already is, or where the system does not tell), and is
        /// reset when the linger finds it stalled, so that no closed socket is left holding a
        /// reply its client never reads.
        Draining,
        /// finish() has run; the object is deleted from the event loop.
        Closed,
    };
    Q_ENUM(Phase)
    enum class Event {
        Bytes,           ///< bytes without a line end
        OtherLine,       ///< a complete line that is not a GET
        Get,             ///< a GET read, below kMaxRequests
        LastGet,         ///< the GET that reaches kMaxRequests
        AtCap,           ///< bytes arrived with the unsent replies at their cap
        Taken,           ///< the system took bytes, and the replies are below the cap
        Resume,          ///< the queued read runs
        AllSent,         ///< no reply waits for its key file or in Qt's buffer
        EndOfStream,     ///< the client ended its stream
        Reset,           ///< the connection is gone (reset by the client, a failed read)
        RequestLineDue,  ///< no GET by the request line's deadline
        SendProgressDue, ///< the system took nothing for the send-progress time
        LingerDue,       ///< the reply delivered: at the linger's end, or once both streams end
        Stalled,         ///< the reply cannot leave: the system holds it and it does not move
        Displaced,       ///< admission gives the place to a newcomer
    };
    /// What leaves the connection on a transition.
    enum class How { Stay, EndSending, Close, Reset };
    struct Step {
        Phase next = Phase::Closed;
        How how = How::Stay;
    };

    /// The transition table above.
    static Step next(Phase phase, Event event);

    /// `timeout`: how long the client has, from being accepted, to send a GET (bytes now and
    /// then, and lines that are not GETs, do not extend it), and how long Qt may hold a reply
    /// without the system taking a byte of it (Deadlines). The connection is then closed (a
    /// reply abandoned with a reset), bytes left unfinished handled first; not while a key
    /// file is being read for it. `reads` reads key files off this thread. Every time is
    /// `clock`'s.
    HTTPConnection(std::shared_ptr<const RequestHandler> handler, KeyReads& reads,
                   std::chrono::milliseconds timeout,
                   runtime::Clock& clock = runtime::Clock::system(), QObject* parent = nullptr);
    ~HTTPConnection() override;

    /// Takes over the accepted `socketDescriptor` and starts the clock of the request line.
    /// On failure the descriptor is closed and false returned; the object is then unusable.
    bool attach(qintptr socketDescriptor);

    /// Called when bytes have arrived: gathers them until the request line is complete (a CR or
    /// LF), so a line split across TCP segments is still answered once and in full. At the end
    /// of the client's stream the gathered bytes are handled as they stand. Reads nothing while
    /// the unsent replies are at their cap or the last request is read; after the last reply,
    /// reads only to discard.
    void DataAvailable();

    /// Called when everything written has been sent: ends the sending side (the client sees the
    /// end of the connection after the reply) and lingers until the client closes.
    void SendComplete(bool userAborted);

    /// Gives the connection's place away: a lingering one whose reply has arrived closes as
    /// after its linger, any other is aborted.
    void giveWay();

    /// Whether reading now would take in bytes the client has sent: it is open, its requests
    /// are read (not at a cap, not lingering), and bytes wait in the system.
    bool requestWaiting() const;

    /// For a judge of how far the request got, who must not wait for the event loop to deliver
    /// it: reads what requestWaiting() says waits, as its arrival will, and answers it.
    void readBeforeJudging();

    Phase phase() const { return m_phase; }

    /// How far the client's request got.
    RequestStage stage() const;

    /// What admission judges it by, now.
    ConnectionFacts facts() const;

signals:
    /// A GET has been read and is about to be answered: once per GET, whatever its answer.
    void getReceived();

    /// A GET's reply has been handed whole to the system: `outcome` for the key `keyName` as
    /// asked for. Emitted once per reply that leaves, in the order they leave.
    void answered(server::DeviceEvent::Outcome outcome, const QByteArray& keyName);

    /// The connection has ended (closed or reset) and holds its place no longer; emitted once.
    void ended();

private:
    /// Handles `data` as one whole request: queues its reply, if it gets one, behind the
    /// replies not yet sent, and ends the reply as the phase says once everything has left.
    void ProcessHeaders(const QByteArray& data);

    /// Moves the phase as next() says and does what leaves with it.
    void on(Event event);
    /// The one way out: Closed, the deadline stopped, admission told, deletion scheduled.
    void finish(How how);
    /// Ends the sending side after the last reply and starts the linger; false (and the
    /// connection reset) when the connection is gone.
    bool startLinger();
    /// Starts the timer for the deadline that applies now.
    void rearm();
    void onDeadline();
    void lingerEnded();
    /// Whether a lingering connection's reply has reached the client, as far as can be told.
    bool delivered() const;

    bool atCap() const;
    void queueReply(const HeldReplies::Reply& reply);
    void sendNow(const HeldReplies::Reply& reply);
    /// Sends the held replies that no longer wait for a key file, in order.
    void sendReady();
    /// Notes that the system has taken `taken` bytes: tells the replies that have left, moves
    /// the send progress, and resumes reading once below the cap.
    void noteProgress(qint64 taken);
    void onKeyRead(HeldReplies::Ticket ticket, const HeldReplies::Reply& reply);
    /// AllSent when no reply waits for its key file or in Qt's buffer.
    void finishIfDone();
    void handleGathered();
    void onEndOfStream();
    /// Reads and discards what has arrived while lingering; closes at the end of the stream.
    void discardArrived();
    /// Bytes written that the client has not received: Qt's and, where it tells, the system's.
    qint64 unsentBytes() const;

    std::shared_ptr<const RequestHandler> m_handler;
    KeyReads& m_reads;
    runtime::Clock& m_clock;
    HeldReplies m_replies;
    QByteArray m_gathered;
    Deadlines m_deadlines;
    runtime::Timer m_timer;
    std::chrono::steady_clock::time_point m_acceptedAt;
    std::chrono::steady_clock::time_point m_lastHeardAt;
    std::chrono::steady_clock::time_point m_lingerSince;
    /// The stretch of bytes on their way to the client: since when, and how many were written
    /// before it.
    std::chrono::steady_clock::time_point m_stretchSince;
    qint64 m_stretchBase = 0;
    qint64 m_writtenBytes = 0;
    /// What the system held of the reply when the linger began or last saw it move.
    qint64 m_systemUnsent = 0;
    int m_requests = 0;
    Phase m_phase = Phase::Gathering;
};

} // namespace server
