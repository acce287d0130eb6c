// One client connection of the key server.
#include "server/HTTPConnection.h"

#include "server/KeyReads.h"
#include "server/RequestHandler.h"

#include <utility>

namespace server {

HTTPConnection::HTTPConnection(std::shared_ptr<const RequestHandler> handler,
                               std::chrono::milliseconds timeout, KeyReads* reads, QObject* parent)
    : ClientSocket(parent)
    , m_handler(std::move(handler))
    , m_reads(reads) {
    m_timer.setSingleShot(true);
    // A coarse timer may fire up to 5 % early: 10 seconds must not be 9.5.
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(timeout);
    connect(&m_timer, &QTimer::timeout, this, &HTTPConnection::onTimeout);
    connect(this, &QTcpSocket::readyRead, this, &HTTPConnection::DataAvailable);
    connect(this, &QTcpSocket::bytesWritten, this, &HTTPConnection::onBytesWritten);
    connect(this, &QTcpSocket::disconnected, this, &QObject::deleteLater);
}

bool HTTPConnection::attach(qintptr socketDescriptor) {
    if (!ClientSocket::attach(socketDescriptor))
        return false;
    m_acceptedAt = m_lastHeardAt = std::chrono::steady_clock::now();
    m_timer.start();
    return true;
}

void HTTPConnection::ProcessHeaders(const QByteArray& data) {
    // A client that pipelines requests behind a slow read, or does not read its replies, is not
    // answered beyond a few: what a connection holds stays bounded however long it keeps sending.
    if (m_held.size() + (bytesToWrite() > 0 ? 1 : 0) >= kMaxHeldReplies)
        return;
    const RequestHandler::Decision decision = m_handler->decide(data);
    switch (decision.kind) {
    case RequestHandler::Decision::Kind::None:
        return;
    case RequestHandler::Decision::Kind::Reply:
        emit answered(decision.outcome, decision.keyName);
        queueReply(decision.reply);
        return;
    case RequestHandler::Decision::Kind::ReadKey:
        break;
    }
    if (!m_reads) {
        queueReply(keyReply(decision.keyName, m_handler->readKeyFile(decision.file)));
        return;
    }
    const HeldReplies::Ticket ticket = m_held.expect();
    const QByteArray keyName = decision.keyName;
    const bool started = m_reads->read(
        decision.file, this, [this, ticket, keyName](const runtime::RegularFileRead& read) {
            onKeyRead(ticket, keyReply(keyName, read));
        });
    // Its reply, and any after it, wait for the read; the callback comes from the event loop.
    if (!started) {
        // Too many other files are being read at once: this one cannot be, for now.
        m_held.fill(ticket, keyReply(keyName, {runtime::RegularFileRead::Outcome::Unopenable, {}}));
        sendReady();
    }
}

QByteArray HTTPConnection::keyReply(const QByteArray& keyName,
                                    const runtime::RegularFileRead& read) {
    emit answered(RequestHandler::keyOutcome(read), keyName);
    return RequestHandler::keyReply(keyName, read);
}

void HTTPConnection::DataAvailable() {
    const Arrival arrival = readArrived(kMaxGatheredBytes - m_gathered.size());
    if (arrival.endOfStream) {
        onEndOfStream();
        return;
    }
    const QByteArray& bytes = arrival.bytes;
    if (bytes.isEmpty()) {
        // A failed read leaves the socket unconnected without a disconnected signal.
        if (state() == UnconnectedState)
            deleteLater();
        return;
    }
    m_lastHeardAt = std::chrono::steady_clock::now();
    // Until the request line is complete the clock runs from the accept, whatever trickles in.
    if (m_requestLineSeen)
        m_timer.start();
    m_gathered += bytes;
    // Gathered bytes never hold a line end: they would have been handled when it came.
    if (bytes.contains('\r') || bytes.contains('\n') || m_gathered.size() >= kMaxGatheredBytes)
        handleGathered();
}

void HTTPConnection::SendComplete(bool /*userAborted*/) {
    // Bytes left unread would make the system reset the connection instead of closing it, and
    // the client could lose the reply it has not read yet.
    if (const qint64 unread = bytesAvailable(); unread > 0)
        read(unread);
    close();
}

void HTTPConnection::queueReply(const QByteArray& reply) {
    if (m_held.empty())
        sendNow(reply);
    else
        m_held.append(reply);
}

void HTTPConnection::sendNow(const QByteArray& reply) {
    if (write(reply) < 0) {
        abort();
        return;
    }
    // An unbuffered write that the system takes whole emits no bytesWritten, so whether it has
    // all left is also looked at once control is back in the event loop.
    if (!m_sendCheckQueued) {
        m_sendCheckQueued = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                m_sendCheckQueued = false;
                if (allSent() && state() == ConnectedState)
                    SendComplete(false);
            },
            Qt::QueuedConnection);
    }
}

void HTTPConnection::sendReady() {
    for (const QByteArray& ready : m_held.takeReady()) {
        if (state() == ConnectedState)
            sendNow(ready);
    }
}

void HTTPConnection::onKeyRead(HeldReplies::Ticket ticket, const QByteArray& reply) {
    m_held.fill(ticket, reply);
    sendReady();
    if (!m_held.empty())
        return;
    // Its reply gets one more timeout to leave.
    m_timer.start();
    closeIfAllSent();
}

void HTTPConnection::closeIfAllSent() {
    // A reply the system took whole has left already: close now rather than from the queued
    // check, which under load waits behind every socket event and keeps each connection open
    // that much longer.
    if (m_sendCheckQueued && allSent() && state() == ConnectedState)
        SendComplete(false);
}

void HTTPConnection::handleGathered() {
    m_requestLineSeen = true;
    m_timer.start();
    ProcessHeaders(std::exchange(m_gathered, {}));
    if (m_held.empty())
        closeIfAllSent();
}

void HTTPConnection::onEndOfStream() {
    if (!m_gathered.isEmpty())
        handleGathered();
    // Nothing more can arrive; a reply on its way out closes the connection once it has left.
    if (!isReplying()) {
        close();
        return;
    }
    silenceReading();
}

bool HTTPConnection::allSent() const {
    // A reply still waiting for its key file has not been sent either: closing now would lose it.
    return bytesToWrite() == 0 && m_held.empty();
}

void HTTPConnection::onBytesWritten() {
    if (allSent())
        SendComplete(false);
}

void HTTPConnection::onTimeout() {
    // Waiting for its key file is replying, however long the file takes.
    if (!m_held.empty())
        return;
    if (!m_gathered.isEmpty()) {
        handleGathered();
        // A reply has just been queued: it gets one more timeout to leave.
        if (isReplying())
            return;
    }
    abort();
}

} // namespace server
