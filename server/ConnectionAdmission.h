// Who may hold one of the key server's bounded places: the rule that keeps the phone's connection
// whatever the address space of a flood, as plain bookkeeping with no sockets.
#pragma once

#include "server/ConnectionFacts.h"

#include <QHash>
#include <QHostAddress>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace server {

namespace admission {

/// Who gives way first: lower ranks first; in a rank, the lower `order`.
struct Standing {
    int rank = 0;
    qint64 order = 0;
};

/// Where `facts` stand in the order of giving way; nothing when the connection keeps its place.
std::optional<Standing> standingOf(const ConnectionFacts& facts,
                                   std::chrono::steady_clock::time_point now);

/// Where `facts` stand when a full reserve is taken back: a reply whose pace can be judged,
/// the slowest first; nothing for any other.
std::optional<Standing> takenBackOf(const ConnectionFacts& facts,
                                    std::chrono::steady_clock::time_point now);

/// Whether a connection standing at `a` gives way before one at `b`.
bool givesWayBefore(const Standing& a, const Standing& b);

/// What `peer` is counted under: the address itself (IPv4, an IPv4-mapped IPv6 address as
/// IPv4), or its /64 (IPv6).
QHostAddress shareOf(const QHostAddress& peer);

} // namespace admission

/// Open connections are bounded. A phone connects and sends its request line within
/// milliseconds, or a little later on a slow Wi-Fi; a flood cannot both do that and hold places.
/// So, at the bound, a newcomer takes the place of a connection that is waiting (never of one
/// whose reply keeps its pace): first one whose last reply has reached its client and that only
/// waits for it to close; then one that has not sent a GET, the OLDEST first whatever bytes it
/// sent (a byte is no merit, and so a connection just accepted lives about places / accept rate
/// before it can be displaced, which is what a slow phone needs); then one whose reply cannot
/// reach its client within Deadlines::kReplyBound at its pace, the slowest first: such a reply
/// is lost either way, and its client would hold the place.
/// Places are taken from whoever holds most: an address (IPv4) or a /64 (IPv6, where one host may
/// hold a whole /64) holds at most `perAddress`, and at that share its newcomers take the places of
/// its own connections only. Below the share, a newcomer takes a place from an address holding at
/// least two more than its own (any that holds one, for an address that holds none), the largest
/// first, or from its own when none holds more: places never pass back and forth between two
/// addresses, and an address whose connection was taken cannot churn through another's in return. A
/// newcomer from an address that holds none, when no connection can give way, gets one of `reserve`
/// places above the bound; when those are full too, it takes back the place of the slowest reply
/// whose pace can be judged. Otherwise it is refused.
/// `Connection` is how the caller names a connection (a pointer); never dereferenced here.
template <typename Connection> class ConnectionAdmission {
public:
    using Id = Connection;
    /// The facts of an open connection, read at the moment of judging.
    using FactsOf = std::function<ConnectionFacts(Id)>;

    struct Verdict {
        enum class Kind { Admit, Displace, Refuse };
        Kind kind = Kind::Refuse;
        /// With Displace: the connection to close for the newcomer.
        Id victim{};
    };

    /// `bound` at least 1 place, `perAddress` at least 1, `reserve` 0 or more.
    ConnectionAdmission(int bound, int perAddress, int reserve)
        : m_bound(std::max(1, bound))
        , m_perAddress(std::max(1, perAddress))
        , m_reserve(std::max(0, reserve)) {}

    /// What to do with a newcomer from `peer` at the time `now`; changes nothing. Without
    /// `mayDisplace` (the caller cannot take anyone's place now), only room or the reserve.
    Verdict judge(const QHostAddress& peer, const FactsOf& factsOf,
                  std::chrono::steady_clock::time_point now, bool mayDisplace = true) const;

    /// Counts `id`, opened now from `peer`, until remove(); accepted in this order.
    void add(Id id, const QHostAddress& peer) {
        const QHostAddress share = admission::shareOf(peer);
        m_pools[share].push_back(id);
        m_shareOf.insert(id, share);
    }
    /// Forgets `id`; nothing happens for one not counted.
    void remove(Id id) {
        const auto share = m_shareOf.constFind(id);
        if (share == m_shareOf.constEnd())
            return;
        const auto pool = m_pools.find(*share);
        std::erase(*pool, id);
        if (pool->empty())
            m_pools.erase(pool);
        m_shareOf.erase(share);
    }

    /// Open connections counted.
    int size() const { return static_cast<int>(m_shareOf.size()); }

private:
    using Pool = std::vector<Id>;
    struct Candidate {
        Id id{};
        admission::Standing standing;
    };
    using StandingOf = std::optional<admission::Standing> (*)(
        const ConnectionFacts&, std::chrono::steady_clock::time_point);
    /// Makes `victim` the one of `pool` and itself that gives way first by `standingOf` (none
    /// yet: no id).
    static void consider(const Pool& pool, const FactsOf& factsOf,
                         std::chrono::steady_clock::time_point now, Candidate& victim,
                         StandingOf standingOf = &admission::standingOf) {
        for (const Id candidate : pool) {
            const std::optional<admission::Standing> standing = standingOf(factsOf(candidate), now);
            if (standing && (!victim.id || admission::givesWayBefore(*standing, victim.standing)))
                victim = {candidate, *standing};
        }
    }

    int m_bound;
    int m_perAddress;
    int m_reserve;
    /// Each address's (or /64's) open connections, in the order they were accepted.
    QHash<QHostAddress, Pool> m_pools;
    QHash<Id, QHostAddress> m_shareOf;
};

template <typename Connection>
auto ConnectionAdmission<Connection>::judge(const QHostAddress& peer, const FactsOf& factsOf,
                                            std::chrono::steady_clock::time_point now,
                                            bool mayDisplace) const -> Verdict {
    using Kind = typename Verdict::Kind;
    const auto own = m_pools.constFind(admission::shareOf(peer));
    const std::size_t held = own == m_pools.constEnd() ? 0 : own->size();
    if (held >= static_cast<std::size_t>(m_perAddress)) {
        Candidate victim;
        if (mayDisplace)
            consider(*own, factsOf, now, victim);
        return victim.id ? Verdict{Kind::Displace, victim.id} : Verdict{Kind::Refuse, {}};
    }
    if (size() < m_bound)
        return {Kind::Admit, {}};
    const bool reserved = held == 0 && size() < m_bound + m_reserve;
    if (!mayDisplace)
        return {reserved ? Kind::Admit : Kind::Refuse, {}};
    std::size_t largest = 0;
    for (const Pool& pool : m_pools)
        largest = std::max(largest, pool.size());
    std::vector<const Pool*> pools;
    for (auto pool = m_pools.constBegin(); pool != m_pools.constEnd(); ++pool) {
        if (pool == own ? held >= largest : held == 0 || pool->size() >= held + 2)
            pools.push_back(&pool.value());
    }
    std::stable_sort(pools.begin(), pools.end(),
                     [](const Pool* a, const Pool* b) { return a->size() > b->size(); });
    // Among addresses holding as many, whoever waited longest gives way.
    for (auto group = pools.begin(); group != pools.end();) {
        const auto groupEnd = std::find_if(group, pools.end(), [group](const Pool* pool) {
            return pool->size() != (*group)->size();
        });
        Candidate victim;
        for (; group != groupEnd; ++group)
            consider(**group, factsOf, now, victim);
        if (victim.id)
            return {Kind::Displace, victim.id};
    }
    if (reserved)
        return {Kind::Admit, {}};
    // The reserve is full: it is for addresses that hold none, and its slowest reply gives way.
    Candidate victim;
    if (held == 0 && m_reserve > 0) {
        for (const Pool& pool : m_pools)
            consider(pool, factsOf, now, victim, &admission::takenBackOf);
    }
    return victim.id ? Verdict{Kind::Displace, victim.id} : Verdict{Kind::Refuse, {}};
}

} // namespace server
