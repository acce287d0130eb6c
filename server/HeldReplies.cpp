// Replies held in request order until they have left.
#include "server/HeldReplies.h"

namespace server {

qint64 HeldReplies::heldBytes() const {
    qint64 bytes = 0;
    for (const Held& held : m_held)
        bytes += held.reply ? held.reply->bytes.size() : 0;
    return bytes;
}

HeldReplies::Ticket HeldReplies::expect() {
    m_held.push_back({m_next, std::nullopt});
    return m_next++;
}

void HeldReplies::append(const Reply& reply) {
    m_held.push_back({m_next++, reply});
}

void HeldReplies::fill(Ticket ticket, const Reply& reply) {
    for (Held& held : m_held) {
        if (held.ticket == ticket)
            held.reply = reply;
    }
}

QList<HeldReplies::Reply> HeldReplies::takeReady() {
    QList<Reply> ready;
    while (!m_held.empty() && m_held.front().reply) {
        ready.append(*m_held.front().reply);
        m_held.pop_front();
    }
    return ready;
}

void HeldReplies::written(const Reply& reply) {
    m_writtenBytes += reply.bytes.size();
    m_written.push_back({m_writtenBytes, reply});
}

QList<HeldReplies::Reply> HeldReplies::left(qint64 unsent) {
    QList<Reply> gone;
    while (!m_written.empty() && m_written.front().end <= m_writtenBytes - unsent) {
        gone.append(m_written.front().reply);
        m_written.pop_front();
    }
    return gone;
}

} // namespace server
