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

HTTPConnection::HTTPConnection(std::shared_ptr<const RequestHandler> handler, KeyReads& reads,
                               std::chrono::milliseconds timeout, runtime::Clock& clock,
                               QObject* parent)
    : ClientSocket(parent)
    , m_handler(std::move(handler))
    , m_reads(reads)
    , m_clock(clock)
    , m_timer(clock, [this] { onTimeout(); })
    , m_timeout(timeout) {
    m_timer.setInterval(timeout);
    connect(this, &QTcpSocket::readyRead, this, &HTTPConnection::DataAvailable);
    connect(this, &QTcpSocket::bytesWritten, this, [this] {
        noteProgress();
        finishIfDone();
    });
    connect(this, &QTcpSocket::disconnected, this, [this] {
        m_phase = Phase::Closed;
        m_timer.stop();
        deleteLater();
    });
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
    m_timer.start();
    return true;
}

void HTTPConnection::ProcessHeaders(const QByteArray& data) {
    const RequestHandler::Decision decision = m_handler->decide(data);
    if (decision.kind == RequestHandler::Decision::Kind::None)
        return;
    emit getReceived();
    if (m_phase == Phase::Gathering)
        m_phase = Phase::Replying;
    if (decision.kind == RequestHandler::Decision::Kind::Reply) {
        queueReply({decision.reply, decision.outcome, decision.keyName});
        return;
    }
    const HeldReplies::Ticket ticket = m_replies.expect();
    const QByteArray keyName = decision.keyName;
    // Its reply, and any after it, wait for the read; the callback comes from the event loop.
    const bool started = m_reads.read(
        decision.file, this, [this, ticket, keyName](const runtime::RegularFileRead& read) {
            onKeyRead(ticket, keyReplyFor(keyName, read));
        });
    if (!started) {
        // Too many other files are being read at once: this one cannot be, for now.
        m_replies.fill(ticket,
                       keyReplyFor(keyName, {runtime::RegularFileRead::Outcome::Unopenable, {}}));
        sendReady();
    }
}

void HTTPConnection::DataAvailable() {
    if (m_phase == Phase::Lingering) {
        discardArrived();
        return;
    }
    // Unread, the requests wait in the system, and its flow control slows the client down. Qt
    // reports no more arrivals until the next read, which comes once replies have left.
    if (atCap()) {
        m_readingPaused = true;
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
            abortNow();
        return;
    }
    // The clock runs on: only a complete request line restarts it, whatever trickles in.
    m_lastHeardAt = m_clock.now();
    m_gathered += bytes;
    // Gathered bytes never hold a line end: they would have been handled when it came.
    if (bytes.contains('\r') || bytes.contains('\n') || m_gathered.size() >= kMaxGatheredBytes)
        handleGathered();
}

void HTTPConnection::SendComplete(bool /*userAborted*/) {
    if (m_phase != Phase::Replying)
        return;
    if (m_clientFinished || !endSending()) {
        closeQuietly();
        return;
    }
    m_phase = Phase::Lingering;
    m_timer.start(std::min(m_timeout, kLingerTime));
}

void HTTPConnection::giveWay() {
    if (m_phase == Phase::Lingering)
        closeQuietly();
    else
        abortNow();
}

bool HTTPConnection::requestWaiting() const {
    return state() == ConnectedState && m_phase != Phase::Lingering && !atCap() &&
           bytesAvailable() > 0;
}

ConnectionFacts HTTPConnection::facts() const {
    ConnectionFacts facts;
    facts.stage = stage();
    facts.acceptedAt = m_acceptedAt;
    facts.lastHeardAt = m_lastHeardAt;
    facts.replying = isReplying();
    if (bytesToWrite() > 0)
        facts.replyMovedAt = m_replyMovedAt;
    facts.lingering = m_phase == Phase::Lingering;
    return facts;
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
    if (write(reply.bytes) < 0) {
        abortNow();
        return;
    }
    m_replies.written(reply);
    // An unbuffered write that the system takes whole emits no bytesWritten: whoever sends
    // (handleGathered, onKeyRead, the resumed reading) looks at finishIfDone() next.
    noteProgress();
}

void HTTPConnection::sendReady() {
    for (const HeldReplies::Reply& ready : m_replies.takeReady()) {
        if (state() == ConnectedState)
            sendNow(ready);
    }
}

void HTTPConnection::noteProgress() {
    m_replyMovedAt = m_clock.now();
    // A reply gets the whole timeout again from each byte the system takes.
    if (bytesToWrite() > 0)
        m_timer.start();
    for (const HeldReplies::Reply& gone : m_replies.left(bytesToWrite()))
        emit answered(gone.outcome, gone.keyName);
    if (m_readingPaused && !atCap()) {
        m_readingPaused = false;
        // The requests left waiting are answered before the connection ends.
        m_resumeQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_resumeQueued = false;
                DataAvailable();
                finishIfDone();
            },
            Qt::QueuedConnection);
    }
}

void HTTPConnection::onKeyRead(HeldReplies::Ticket ticket, const HeldReplies::Reply& reply) {
    m_replies.fill(ticket, reply);
    sendReady();
    finishIfDone();
}

bool HTTPConnection::allSent() const {
    // A reply still waiting for its key file has not been sent either, nor one whose request
    // waits to be read: closing now would lose it.
    return bytesToWrite() == 0 && !m_replies.waiting() && !m_resumeQueued;
}

void HTTPConnection::finishIfDone() {
    // A reply the system took whole has left already: end now, not from a check queued behind
    // every socket event, which under load would keep each connection open that much longer.
    if (m_phase == Phase::Replying && allSent() && state() == ConnectedState)
        SendComplete(false);
}

void HTTPConnection::handleGathered() {
    m_requestLineSeen = true;
    m_timer.start();
    ProcessHeaders(std::exchange(m_gathered, {}));
    finishIfDone();
}

void HTTPConnection::onEndOfStream() {
    m_clientFinished = true;
    if (!m_gathered.isEmpty())
        handleGathered();
    // Nothing more can arrive; a reply on its way out closes the connection once it has left.
    if (m_phase != Phase::Replying) {
        closeQuietly();
        return;
    }
    silenceReading();
}

void HTTPConnection::onTimeout() {
    if (m_phase == Phase::Lingering) {
        closeQuietly();
        return;
    }
    // A reply the system has taken nothing of for the whole timeout is abandoned.
    if (bytesToWrite() > 0) {
        abortNow();
        return;
    }
    // Waiting for its key file is replying, however long the file takes.
    if (m_replies.waiting())
        return;
    if (!m_gathered.isEmpty()) {
        handleGathered();
        // A reply has just been queued, or has left and the linger begun: it gets its time.
        if (m_phase != Phase::Gathering)
            return;
    }
    abortNow();
}

void HTTPConnection::discardArrived() {
    for (int read = 0; read < kDiscardsPerArrival; ++read) {
        const Arrival arrival = readArrived(kMaxGatheredBytes);
        if (arrival.endOfStream) {
            closeQuietly();
            return;
        }
        if (arrival.bytes.isEmpty()) {
            if (state() == UnconnectedState)
                abortNow();
            return;
        }
    }
}

void HTTPConnection::closeQuietly() {
    m_phase = Phase::Closed;
    m_timer.stop();
    // Bytes left unread would make the system reset the connection instead of closing it, and
    // the client could lose the reply it has not read yet.
    read(bytesAvailable());
    close();
}

void HTTPConnection::abortNow() {
    m_phase = Phase::Closed;
    m_timer.stop();
    abort();
    // A socket that was no longer connected emits no disconnected signal.
    deleteLater();
}

} // namespace server
