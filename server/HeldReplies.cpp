// Replies held in request order.
#include "server/HeldReplies.h"

namespace server {

HeldReplies::Ticket HeldReplies::expect() {
    m_replies.push_back({m_next, std::nullopt});
    return m_next++;
}

void HeldReplies::append(const QByteArray& reply) {
    m_replies.push_back({m_next++, reply});
}

void HeldReplies::fill(Ticket ticket, const QByteArray& reply) {
    for (Held& held : m_replies) {
        if (held.ticket == ticket)
            held.bytes = reply;
    }
}

QList<QByteArray> HeldReplies::takeReady() {
    QList<QByteArray> ready;
    while (!m_replies.empty() && m_replies.front().bytes) {
        ready.append(*m_replies.front().bytes);
        m_replies.pop_front();
    }
    return ready;
}

} // namespace server
