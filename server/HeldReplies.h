// One connection's replies in request order, some still waiting for their key file.
#pragma once

#include <QByteArray>
#include <QList>

#include <deque>
#include <optional>

namespace server {

class HeldReplies {
public:
    /// Names a reply whose key file is being read.
    using Ticket = quint64;

    /// Whether a reply waits, for its key file or behind one that does.
    bool empty() const { return m_replies.empty(); }
    qsizetype size() const { return static_cast<qsizetype>(m_replies.size()); }

    /// Holds a place for a reply still to come.
    Ticket expect();

    /// Holds `reply` behind every place already held.
    void append(const QByteArray& reply);

    /// Fills the place `ticket` holds; nothing happens for a ticket not held.
    void fill(Ticket ticket, const QByteArray& reply);

    /// Takes the replies that can leave now, in order: those before the first still empty place.
    QList<QByteArray> takeReady();

private:
    struct Held {
        Ticket ticket = 0;
        std::optional<QByteArray> bytes;
    };
    std::deque<Held> m_replies;
    Ticket m_next = 0;
};

} // namespace server
