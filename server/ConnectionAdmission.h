// Who may hold one of the key server's bounded places: the rule that keeps the phone's connection
// whatever the address space of a flood, as plain bookkeeping with no sockets.
#pragma once

#include <QHash>
#include <QHostAddress>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace server {

/// What admission knows of one open connection.
struct ConnectionFacts {
    /// How far the client's request got.
    enum class Stage {
        Nothing,  ///< not a byte yet
        Begun,    ///< bytes, but no complete request line
        Complete, ///< a request line handled, nothing left to send for it
    };
    Stage stage = Stage::Nothing;
    std::chrono::steady_clock::time_point acceptedAt;
    /// When it last sent a byte; acceptedAt until it does.
    std::chrono::steady_clock::time_point lastHeardAt;
    /// A reply on its way out or waiting for its key file: giving way would lose it.
    bool replying = false;
    /// While a reply has bytes the system has not taken: when it last took some.
    std::optional<std::chrono::steady_clock::time_point> replyMovedAt;
    /// Its last reply has left; it only waits for the client to close.
    bool lingering = false;
};

/// Open connections are bounded. A phone connects and sends its request line within
/// milliseconds; a flood cannot both do that and hold places. So, at the bound, a newcomer
/// takes the place of a connection that is waiting (never of one whose reply is moving): first
/// one whose last reply has left and that only waits for its client to close; then one that has
/// sent nothing, then one that has begun but not ended its request line (a phone on a slow
/// network may split one), the longest waiting first either way; then the one silent longest
/// since its request line; then one whose reply the client has not taken for `stuckAfter`, the
/// longest stuck first: such a reply is lost either way, and its client would hold the place.
/// Places are taken from whoever holds most: an address (IPv4) or a /64 (IPv6, where one host may
/// hold a whole /64) holds at most `perAddress`, and at that share its newcomers take the places of
/// its own connections only. Below the share, a newcomer takes a place from an address holding at
/// least two more than its own (any that holds one, for an address that holds none), the largest
/// first, or from its own when none holds more: places never pass back and forth between two
/// addresses, and an address whose connection was taken cannot churn through another's in return. A
/// newcomer from an address that holds none, when no connection can give way, gets one of `reserve`
/// places above the bound. Otherwise it is refused.
class ConnectionAdmission {
public:
    /// A connection, as the caller knows it; never dereferenced here.
    using Id = void*;
    /// The facts of an open connection, read at the moment of judging.
    using FactsOf = std::function<ConnectionFacts(Id)>;

    struct Verdict {
        enum class Kind { Admit, Displace, Refuse };
        Kind kind = Kind::Refuse;
        /// With Displace: the connection to close for the newcomer.
        Id victim = nullptr;
    };

    /// A reply that has not moved for this long is stuck.
    static constexpr std::chrono::milliseconds kStuckAfter{3'000};

    /// `bound` at least 1 place, `perAddress` at least 1, `reserve` 0 or more.
    ConnectionAdmission(int bound, int perAddress, int reserve,
                        std::chrono::milliseconds stuckAfter = kStuckAfter);

    /// What to do with a newcomer from `peer` at the time `now`; changes nothing. Without
    /// `mayDisplace` (the caller cannot take anyone's place now), only room or the reserve.
    Verdict judge(const QHostAddress& peer, const FactsOf& factsOf,
                  std::chrono::steady_clock::time_point now, bool mayDisplace = true) const;

    /// Counts `id`, opened now from `peer`, until remove(); accepted in this order.
    void add(Id id, const QHostAddress& peer);
    /// Forgets `id`; nothing happens for one not counted.
    void remove(Id id);

    /// Open connections counted.
    int size() const { return static_cast<int>(m_shareOf.size()); }

    /// What `peer` is counted under: the address itself (IPv4, an IPv4-mapped IPv6 address as
    /// IPv4), or its /64 (IPv6).
    static QHostAddress shareOf(const QHostAddress& peer);

private:
    using Pool = std::vector<Id>;
    int m_bound;
    int m_perAddress;
    int m_reserve;
    std::chrono::milliseconds m_stuckAfter;
    /// Each address's (or /64's) open connections, in the order they were accepted.
    QHash<QHostAddress, Pool> m_pools;
    QHash<Id, QHostAddress> m_shareOf;
};

} // namespace server
