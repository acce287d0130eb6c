// One client connection of the key server.
#include "server/HTTPConnection.h"

#include "runtime/SocketDescriptor.h"
#include "server/KeyReads.h"
#include "server/RequestHandler.h"

#include <QNetworkProxy>
#include <QSocketNotifier>

#include <utility>

namespace server {

HTTPConnection::HTTPConnection(std::shared_ptr<const RequestHandler> handler,
                               std::chrono::milliseconds timeout, KeyReads* reads, QObject* parent)
    : QTcpSocket(parent)
    , m_handler(std::move(handler))
    , m_reads(reads) {
    m_timer.setSingleShot(true);
    m_timer.setInterval(timeout);
    connect(&m_timer, &QTimer::timeout, this, &HTTPConnection::onTimeout);
    connect(this, &QTcpSocket::readyRead, this, &HTTPConnection::DataAvailable);
    connect(this, &QTcpSocket::bytesWritten, this, &HTTPConnection::onBytesWritten);
    connect(this, &QTcpSocket::disconnected, this, &QObject::deleteLater);
}

bool HTTPConnection::attach(qintptr socketDescriptor) {
    // Buffered (the default), Qt reads the end of the client's stream on its own and then
    // closes the socket outright, dropping a reply that has not left yet: a client that
    // half-closes after its request would lose it. Unbuffered, Qt reads from the system only
    // when asked, so DataAvailable() can see the end coming and answer first. Qt honours
    // Unbuffered only in connectToHost(), and keeps it once set. Without a proxy to look up
    // and with an empty host name, that call touches neither network nor files: it only posts
    // a "host not found" that setSocketDescriptor() makes moot, since a lookup's answer is
    // ignored once the socket has left the lookup state. No abort() in between: aborting a
    // lookup leaves its number in a process-wide list that every later abort searches, so
    // each new client would cost a little more than the last.
    setProxy(QNetworkProxy::NoProxy);
    connectToHost(QString(), 0, QIODevice::ReadWrite | QIODevice::Unbuffered);
    if (!setSocketDescriptor(socketDescriptor, ConnectedState,
                             QIODevice::ReadWrite | QIODevice::Unbuffered)) {
        // Qt has not taken the descriptor over.
        runtime::SocketDescriptor::close(socketDescriptor);
        return false;
    }
    m_acceptedAt = m_lastHeardAt = std::chrono::steady_clock::now();
    m_timer.start();
    return true;
}

void HTTPConnection::ProcessHeaders(const QByteArray& data) {
    // A client that pipelines requests behind a slow read, or does not read its replies, is not
    // answered beyond a few: what a connection holds stays bounded however long it keeps sending.
    if (qsizetype(m_heldReplies.size()) + (bytesToWrite() > 0 ? 1 : 0) >= kMaxHeldReplies)
        return;
    const RequestHandler::Decision decision = m_handler->decide(data);
    switch (decision.kind) {
    case RequestHandler::Decision::Kind::None:
        return;
    case RequestHandler::Decision::Kind::Reply:
        queueReply(decision.reply);
        return;
    case RequestHandler::Decision::Kind::ReadKey:
        break;
    }
    if (!m_reads) {
        queueReply(
            RequestHandler::keyReply(decision.keyName, m_handler->readKeyFile(decision.file)));
        return;
    }
    const quint64 id = m_nextReplyId++;
    const QByteArray keyName = decision.keyName;
    const bool started = m_reads->read(decision.file, this,
                                       [this, id, keyName](const runtime::RegularFileRead& read) {
                                           onKeyRead(id, RequestHandler::keyReply(keyName, read));
                                       });
    if (!started) {
        // Too many other files are being read at once: this one cannot be, for now.
        queueReply(
            RequestHandler::keyReply(keyName, {runtime::RegularFileRead::Outcome::Unopenable, {}}));
        return;
    }
    // Its reply, and any after it, wait for the read; the callback comes from the event loop.
    m_heldReplies.push_back({id, std::nullopt});
}

void HTTPConnection::DataAvailable() {
    const qint64 available = bytesAvailable();
    if (available == 0 && runtime::SocketDescriptor::peerFinishedSending(socketDescriptor())) {
        onEndOfStream();
        return;
    }
    // Never more than is waiting, so Qt never reads the end of the stream itself. With nothing
    // waiting, one byte is asked for only so that Qt re-arms its notifier or notices an error.
    const qint64 room = kMaxGatheredBytes - m_gathered.size();
    const QByteArray bytes = read(qBound<qint64>(1, available, room));
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
    if (m_heldReplies.empty())
        sendNow(reply);
    else
        m_heldReplies.push_back({m_nextReplyId++, reply});
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

void HTTPConnection::onKeyRead(quint64 id, const QByteArray& reply) {
    for (HeldReply& held : m_heldReplies) {
        if (held.id == id)
            held.bytes = reply;
    }
    while (!m_heldReplies.empty() && m_heldReplies.front().bytes) {
        const QByteArray ready = *m_heldReplies.front().bytes;
        m_heldReplies.pop_front();
        if (state() == ConnectedState)
            sendNow(ready);
    }
    if (!m_heldReplies.empty())
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
    if (m_heldReplies.empty())
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
    // The system goes on reporting the end of the stream for as long as the socket is open. While
    // the reply waits for its key read, those reports would spin the event loop, and on Windows
    // (where Qt re-arms the notice after every one) starve the very event that delivers the read.
    // Only the reading side is silenced: the reply still leaves through the writing side.
    for (QSocketNotifier* notifier : findChildren<QSocketNotifier*>()) {
        if (notifier->type() == QSocketNotifier::Read)
            notifier->setEnabled(false);
    }
}

bool HTTPConnection::allSent() const {
    // A reply still waiting for its key file has not been sent either: closing now would lose it.
    return bytesToWrite() == 0 && m_heldReplies.empty();
}

void HTTPConnection::onBytesWritten() {
    if (allSent())
        SendComplete(false);
}

void HTTPConnection::onTimeout() {
    // Waiting for its key file is replying, however long the file takes.
    if (!m_heldReplies.empty())
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
