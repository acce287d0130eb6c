// One connection's replies that have not left yet, in request order: some still waiting for their
// key file, the rest written but not yet taken whole by the system.
#pragma once

#include "server/DeviceEvent.h"

#include <QByteArray>
#include <QList>

#include <deque>
#include <optional>

namespace server {

class HeldReplies {
public:
    /// Names a reply whose key file is being read.
    using Ticket = quint64;

    /// One reply, and what it tells the device.
    struct Reply {
        QByteArray bytes;
        DeviceEvent::Outcome outcome = DeviceEvent::Outcome::KeySent;
        QByteArray keyName;
    };

    /// Whether a reply is held back, for its key file or behind one that is.
    bool waiting() const { return !m_held.empty(); }
    /// Replies that have not left: held back, or written and not yet taken whole.
    qsizetype size() const {
        return static_cast<qsizetype>(m_held.size()) + static_cast<qsizetype>(m_written.size());
    }
    /// The bytes of the replies held back (one still waiting for its key file counts none).
    qint64 heldBytes() const;

    /// Holds a place for a reply still to come.
    Ticket expect();

    /// Holds `reply` behind every place already held.
    void append(const Reply& reply);

    /// Fills the place `ticket` holds; nothing happens for a ticket not held.
    void fill(Ticket ticket, const Reply& reply);

    /// Takes the replies that can be written now, in order: those before the first still empty
    /// place.
    QList<Reply> takeReady();

    /// Counts `reply` as written behind those written before.
    void written(const Reply& reply);

    /// The written replies that have left, in order, now that `unsent` bytes of all written are
    /// still to be taken by the system; they are no longer counted.
    QList<Reply> left(qint64 unsent);

private:
    struct Held {
        Ticket ticket = 0;
        std::optional<Reply> reply;
    };
    struct Written {
        /// Bytes written up to its end, counted from the first reply written.
        qint64 end = 0;
        Reply reply;
    };
    std::deque<Held> m_held;
    std::deque<Written> m_written;
    qint64 m_writtenBytes = 0;
    Ticket m_next = 0;
};

} // namespace server
