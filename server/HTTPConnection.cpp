// One client connection of the key server.
#include "server/HTTPConnection.h"

#include "server/KeyReads.h"
#include "server/ReplyText.h"
#include "server/RequestHandler.h"

#include <algorithm>
#include <utility>

namespace server {

namespace {
// Reads of discarded bytes per arrival while lingering; more come with the next arrival.
constexpr int kDiscardsPerArrival = 16;

HeldReplies::Reply keyReplyFor(const QByteArray& keyName, const runtime::RegularFileRead& read) {
    return {ReplyText::keyReply(keyName, read), ReplyText::keyOutcome(read), keyName};
}
} // namespace

HTTPConnection::Step HTTPConnection::next(Phase phase, Event event) {
    const Step stay{phase, How::Stay};
    const auto end = [](How how) { return Step{Phase::Closed, how}; };
    if (phase == Phase::Closed)
        return stay;
    const bool reading = phase == Phase::Gathering || phase == Phase::Replying;
    // The sending side is ended: only the delivery of what the system holds is left.
    const bool ended = phase == Phase::Lingering || phase == Phase::Draining;
    switch (event) {
    case Event::Bytes:
    case Event::OtherLine:
        break;
    case Event::Get:
        return phase == Phase::Gathering ? Step{Phase::Replying, How::Stay} : stay;
    case Event::LastGet:
        return reading ? Step{Phase::LastReplies, How::Stay} : stay;
    case Event::AtCap:
        return phase == Phase::Replying ? Step{Phase::Paused, How::Stay} : stay;
    case Event::Taken:
        return phase == Phase::Paused ? Step{Phase::Resuming, How::Stay} : stay;
    case Event::Resume:
        return phase == Phase::Resuming ? Step{Phase::Replying, How::Stay} : stay;
    case Event::AllSent:
        if (phase == Phase::Replying || phase == Phase::LastReplies)
            return {Phase::Lingering, How::EndSending};
        return phase == Phase::HalfClosed ? Step{Phase::Draining, How::EndSending} : stay;
    case Event::EndOfStream:
        if (phase == Phase::Gathering)
            return end(How::Close);
        if (phase == Phase::Lingering || phase == Phase::Draining)
            return {Phase::Draining, How::Stay};
        return {Phase::HalfClosed, How::Stay};
    case Event::Reset:
    case Event::Stalled:
        return end(How::Reset);
    case Event::RequestLineDue:
        return phase == Phase::Gathering ? end(How::Reset) : stay;
    case Event::SendProgressDue:
        return phase == Phase::Gathering || ended ? stay : end(How::Reset);
    case Event::LingerDue:
        return ended ? end(How::Close) : stay;
    case Event::Displaced:
        return end(ended ? How::Close : How::Reset);
    }
    return stay;
}

HTTPConnection::HTTPConnection(std::shared_ptr<const RequestHandler> handler, KeyReads& reads,
                               std::chrono::milliseconds timeout, runtime::Clock& clock,
                               QObject* parent)
    : ClientSocket(parent)
    , m_handler(std::move(handler))
    , m_reads(reads)
    , m_clock(clock)
    , m_deadlines(timeout, kLingerTime)
    , m_timer(clock, [this] { onDeadline(); }) {
    connect(this, &QTcpSocket::readyRead, this, &HTTPConnection::DataAvailable);
    connect(this, &QTcpSocket::bytesWritten, this, [this](qint64 taken) {
        noteProgress(taken);
        finishIfDone();
    });
    connect(this, &QTcpSocket::disconnected, this, [this] { on(Event::Reset); });
}

HTTPConnection::~HTTPConnection() {
    // The socket's own destructor still reports a disconnection, when this part is gone.
    disconnect(this, &QTcpSocket::disconnected, this, nullptr);
}

bool HTTPConnection::attach(qintptr socketDescriptor) {
    if (!ClientSocket::attach(socketDescriptor))
        return false;
    setSocketOption(SendBufferSizeSocketOption, kSendBufferBytes);
    m_acceptedAt = m_lastHeardAt = m_clock.now();
    m_deadlines.accepted(m_acceptedAt);
    rearm();
    return true;
}

void HTTPConnection::on(Event event) {
    const Step step = next(m_phase, event);
    if (step.how == How::Close || step.how == How::Reset) {
        finish(step.how);
        return;
    }
    if (step.next == m_phase)
        return;
    const Phase previous = m_phase;
    m_phase = step.next;
    switch (m_phase) {
    case Phase::Resuming:
        // The requests left waiting are answered before the connection ends; read from the
        // event loop, not from inside the write that made room.
        QMetaObject::invokeMethod(
            this,
            [this] {
                on(Event::Resume);
                DataAvailable();
                finishIfDone();
            },
            Qt::QueuedConnection);
        break;
    case Phase::HalfClosed:
        silenceReading();
        break;
    case Phase::Lingering:
        // Requests left unread at the last one still wait: read them now, to discard.
        if (startLinger())
            discardArrived();
        break;
    case Phase::Draining:
        // Nothing more can come: only what the system still holds of the reply is waited for,
        // so that no closed socket is left holding it for a client that never reads.
        silenceReading();
        if (previous == Phase::HalfClosed && !startLinger())
            break;
        // Delivered already, or a system that does not tell (Windows): nothing to wait for.
        if (unsentInSystem().value_or(0) == 0)
            on(Event::LingerDue);
        break;
    default:
        break;
    }
}

void HTTPConnection::finish(How how) {
    if (m_phase == Phase::Closed)
        return;
    m_phase = Phase::Closed;
    m_timer.stop();
    emit ended();
    if (how == How::Close) {
        // Bytes left unread would make the system reset the connection instead of closing it,
        // and the client could lose the reply it has not read yet.
        read(bytesAvailable());
        close();
    } else {
        // Nothing the system still holds for this client is kept in an orphaned socket.
        resetOnClose();
        abort();
    }
    deleteLater();
}

bool HTTPConnection::startLinger() {
    if (!endSending()) {
        // The connection is gone already.
        on(Event::Reset);
        return false;
    }
    m_lingerSince = m_clock.now();
    m_systemUnsent = unsentInSystem().value_or(0);
    m_deadlines.lingering(m_lingerSince);
    rearm();
    return true;
}

void HTTPConnection::rearm() {
    if (m_phase == Phase::Closed)
        return;
    const Deadlines::Due due = m_deadlines.due();
    if (due.kind == Deadlines::Kind::None) {
        m_timer.stop();
        return;
    }
    m_timer.start(std::max(std::chrono::milliseconds(0),
                           std::chrono::ceil<std::chrono::milliseconds>(due.at - m_clock.now())));
}

void HTTPConnection::onDeadline() {
    // Every change of the deadline that applies restarts the timer (rearm()), so the one that
    // applies now is due; one that no longer applies has none.
    switch (m_deadlines.due().kind) {
    case Deadlines::Kind::None:
        break;
    case Deadlines::Kind::RequestLine:
        // What has come by then is answered as it stands; a reply then gets its own time.
        if (!m_gathered.isEmpty())
            handleGathered();
        on(Event::RequestLineDue);
        break;
    case Deadlines::Kind::SendProgress:
        on(Event::SendProgressDue);
        break;
    case Deadlines::Kind::Linger:
        lingerEnded();
        break;
    }
}

void HTTPConnection::lingerEnded() {
    const std::optional<qint64> unsent = unsentInSystem();
    if (!unsent || *unsent == 0) {
        on(Event::LingerDue);
        return;
    }
    if (*unsent < m_systemUnsent) {
        // Still on its way: it is given the send progress time again.
        m_systemUnsent = *unsent;
        m_deadlines.delivering(m_clock.now());
        rearm();
        return;
    }
    on(Event::Stalled);
}

bool HTTPConnection::delivered() const {
    const std::optional<qint64> unsent = unsentInSystem();
    if (unsent)
        return *unsent == 0;
    return m_clock.now() - m_lingerSince >= kUntoldDeliveryTime;
}

void HTTPConnection::ProcessHeaders(const QByteArray& data) {
    const RequestHandler::Decision decision = m_handler->decide(data);
    if (decision.kind == RequestHandler::Decision::Kind::None) {
        on(Event::OtherLine);
        return;
    }
    emit getReceived();
    on(++m_requests >= kMaxRequests ? Event::LastGet : Event::Get);
    m_deadlines.requestRead();
    if (decision.kind == RequestHandler::Decision::Kind::Reply) {
        queueReply({decision.reply, decision.outcome, decision.keyName});
    } else {
        const HeldReplies::Ticket ticket = m_replies.expect();
        const QByteArray keyName = decision.keyName;
        // Its reply, and any after it, wait for the read; the callback comes from the event
        // loop.
        const bool started = m_reads.read(
            decision.file, this, [this, ticket, keyName](const runtime::RegularFileRead& read) {
                onKeyRead(ticket, keyReplyFor(keyName, read));
            });
        if (!started) {
            // Too many other files are being read at once: this one cannot be, for now.
            m_replies.fill(
                ticket, keyReplyFor(keyName, {runtime::RegularFileRead::Outcome::Unopenable, {}}));
            sendReady();
        }
    }
    finishIfDone();
}

void HTTPConnection::DataAvailable() {
    if (m_phase == Phase::Lingering) {
        discardArrived();
        return;
    }
    // Unread, the requests wait in the system, and its flow control slows the client down. Qt
    // reports no more arrivals until the next read, which comes once replies have left.
    if (m_phase != Phase::Gathering && m_phase != Phase::Replying)
        return;
    if (atCap()) {
        on(Event::AtCap);
        return;
    }
    const Arrival arrival = readArrived(kMaxGatheredBytes - m_gathered.size());
    if (arrival.endOfStream) {
        onEndOfStream();
        return;
    }
    const QByteArray& bytes = arrival.bytes;
    if (bytes.isEmpty()) {
        // A failed read leaves the socket unconnected without a disconnected signal.
        if (state() == UnconnectedState)
            on(Event::Reset);
        return;
    }
    // No deadline moves: only a GET ends the request line's time, whatever trickles in.
    m_lastHeardAt = m_clock.now();
    m_gathered += bytes;
    // Gathered bytes never hold a line end: they would have been handled when it came.
    if (bytes.contains('\r') || bytes.contains('\n') || m_gathered.size() >= kMaxGatheredBytes)
        handleGathered();
    else
        on(Event::Bytes);
}

void HTTPConnection::SendComplete(bool /*userAborted*/) {
    on(Event::AllSent);
}

void HTTPConnection::giveWay() {
    const bool ended = m_phase == Phase::Lingering || m_phase == Phase::Draining;
    on(ended && !delivered() ? Event::Stalled : Event::Displaced);
}

bool HTTPConnection::requestWaiting() const {
    return state() == ConnectedState &&
           (m_phase == Phase::Gathering || m_phase == Phase::Replying) && !atCap() &&
           bytesAvailable() > 0;
}

void HTTPConnection::readBeforeJudging() {
    if (requestWaiting())
        DataAvailable();
}

RequestStage HTTPConnection::stage() const {
    if (m_phase != Phase::Gathering)
        return RequestStage::Complete;
    return m_gathered.isEmpty() ? RequestStage::Nothing : RequestStage::Begun;
}

ConnectionFacts HTTPConnection::facts() const {
    ConnectionFacts facts;
    facts.stage = stage();
    facts.acceptedAt = m_acceptedAt;
    facts.lastHeardAt = m_lastHeardAt;
    const bool settled = (m_phase == Phase::Lingering || m_phase == Phase::Draining) && delivered();
    facts.replying = m_phase != Phase::Gathering && m_phase != Phase::Closed && !settled;
    facts.lingering = settled;
    const qint64 unsent = unsentBytes();
    if (unsent > 0) {
        facts.sending =
            ReplyProgress{m_stretchSince, m_writtenBytes - unsent - m_stretchBase, unsent};
    }
    return facts;
}

qint64 HTTPConnection::unsentBytes() const {
    // Most connections under a flood have written nothing: no need to ask the system.
    if (m_writtenBytes == 0)
        return 0;
    return bytesToWrite() + unsentInSystem().value_or(0);
}

bool HTTPConnection::atCap() const {
    return m_replies.size() >= kMaxUnsentReplies ||
           bytesToWrite() + m_replies.heldBytes() >= kMaxUnsentBytes;
}

void HTTPConnection::queueReply(const HeldReplies::Reply& reply) {
    if (m_replies.waiting())
        m_replies.append(reply);
    else
        sendNow(reply);
}

void HTTPConnection::sendNow(const HeldReplies::Reply& reply) {
    if (unsentBytes() == 0) {
        // Nothing on its way: this reply's first byte starts a new stretch.
        m_stretchSince = m_clock.now();
        m_stretchBase = m_writtenBytes;
    }
    if (write(reply.bytes) < 0) {
        on(Event::Reset);
        return;
    }
    m_writtenBytes += reply.bytes.size();
    m_replies.written(reply);
    // An unbuffered write that the system takes whole emits no bytesWritten: whoever sends
    // (ProcessHeaders, onKeyRead) looks at finishIfDone() next.
    noteProgress(0);
}

void HTTPConnection::sendReady() {
    for (const HeldReplies::Reply& ready : m_replies.takeReady()) {
        if (state() == ConnectedState)
            sendNow(ready);
    }
}

void HTTPConnection::noteProgress(qint64 taken) {
    m_deadlines.sending(m_clock.now(), taken, bytesToWrite());
    for (const HeldReplies::Reply& gone : m_replies.left(bytesToWrite()))
        emit answered(gone.outcome, gone.keyName);
    if (!atCap())
        on(Event::Taken);
    rearm();
}

void HTTPConnection::onKeyRead(HeldReplies::Ticket ticket, const HeldReplies::Reply& reply) {
    m_replies.fill(ticket, reply);
    sendReady();
    finishIfDone();
}

void HTTPConnection::finishIfDone() {
    // A reply the system took whole has left already: end now, not from a check queued behind
    // every socket event, which under load would keep each connection open that much longer.
    // A reply still waiting for its key file has not been sent either.
    if (bytesToWrite() == 0 && !m_replies.waiting() && state() == ConnectedState)
        SendComplete(false);
}

void HTTPConnection::handleGathered() {
    ProcessHeaders(std::exchange(m_gathered, {}));
}

void HTTPConnection::onEndOfStream() {
    if (!m_gathered.isEmpty())
        handleGathered();
    // Nothing more can arrive; a reply on its way out closes the connection once it has left.
    on(Event::EndOfStream);
}

void HTTPConnection::discardArrived() {
    for (int read = 0; read < kDiscardsPerArrival && m_phase == Phase::Lingering; ++read) {
        const Arrival arrival = readArrived(kMaxGatheredBytes);
        if (arrival.endOfStream) {
            on(Event::EndOfStream);
            return;
        }
        if (arrival.bytes.isEmpty()) {
            if (state() == UnconnectedState)
                on(Event::Reset);
            return;
        }
    }
}

} // namespace server
