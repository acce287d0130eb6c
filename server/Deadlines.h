// When a connection's time is up, and when its reply counts as stuck: plain times and byte
// counts, no sockets, so that every rule is tested on a clock the test moves.
#pragma once

#include "server/ConnectionFacts.h"

#include <chrono>
#include <optional>

namespace server {

/// One connection's deadlines. Which one applies depends on where the connection is:
/// - the request line: from the accept, `timeout` to read a GET; bytes that complete no line,
///   and lines that are not GETs, never move it;
/// - send progress: while Qt holds bytes the system has not taken, `timeout` from the last
///   time the system took some (or from the write that began the wait). A new request, a
///   write that the system takes nothing of, or a line that is not a GET never move it;
/// - the linger: after the sending side is ended, `min(timeout, linger)`; while the system
///   is still delivering the reply, `timeout` from the last time it did.
/// While a reply waits for its key file and nothing is unsent, none applies.
///
/// Apart from these, a reply is judged by its pace (replyIsStuck()): a phone on a poor Wi-Fi
/// still receives the largest reply (20,117 bytes) within kReplyBound, and a client that
/// receives more slowly holds a place that a phone may need.
class Deadlines {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    /// How long a reply may take to reach the client once its first byte went. The largest
    /// reply is 20,117 bytes: the system's first window (ten segments, about 14 KB) carries most
    /// of it in one round trip, the rest in one more. A phone in power save on a poor Wi-Fi has
    /// round trips of a few hundred milliseconds and loses a segment now and then, which costs
    /// a retransmission timeout of about one second, doubled at worst once more: about three
    /// seconds in all. Five seconds leave room for that and ask only 4 KB/s of a client.
    static constexpr std::chrono::milliseconds kReplyBound{5'000};
    /// A reply's pace is judged only from this long after its first byte: before, the first
    /// round trips and one lost segment say nothing of the link.
    static constexpr std::chrono::milliseconds kPaceGrace{1'000};

    enum class Kind { None, RequestLine, SendProgress, Linger };
    struct Due {
        Kind kind = Kind::None;
        TimePoint at;
    };

    Deadlines(std::chrono::milliseconds timeout, std::chrono::milliseconds linger);

    /// The client was accepted at `now`: the request line's time runs.
    void accepted(TimePoint now);
    /// A GET has been read: the request line's time no longer applies.
    void requestRead() { m_requestRead = true; }
    /// After a write or a report of the system: it took `taken` bytes and Qt still holds
    /// `unsent`. The send progress restarts only when the system took bytes, or when bytes wait
    /// where none did.
    void sending(TimePoint now, qint64 taken, qint64 unsent);
    /// The sending side has been ended at `now`.
    void lingering(TimePoint now);
    /// While lingering, the system has delivered more of the reply at `now`.
    void delivering(TimePoint now);

    /// The deadline that applies now.
    Due due() const;

    /// The bytes per second a reply moves at, once its pace can be judged (kPaceGrace after its
    /// first byte) and while bytes remain; nothing otherwise.
    static std::optional<qint64> paceOf(const ReplyProgress& progress, TimePoint now);
    /// Whether the reply cannot reach the client within kReplyBound of its first byte at the pace
    /// it has moved so far, or has not within it, whatever trickles.
    static bool replyIsStuck(const ReplyProgress& progress, TimePoint now);

private:
    std::chrono::milliseconds m_timeout;
    std::chrono::milliseconds m_linger;
    std::chrono::milliseconds m_lingerFor{0};
    TimePoint m_acceptedAt;
    TimePoint m_progressAt;
    TimePoint m_lingerFrom;
    bool m_requestRead = false;
    bool m_unsent = false;
    bool m_lingering = false;
};

} // namespace server
