// The rule for who holds the key server's places.
#include "server/ConnectionAdmission.h"

#include "server/LocalPeer.h"

#include <algorithm>

namespace server {

namespace {

constexpr int kIPv6SharePrefix = 64;

// Who gives way first: lower ranks first; in a rank, the earlier `since`.
struct Standing {
    int rank = 0;
    std::chrono::steady_clock::time_point since;
};

// Where `facts` stand in the order of giving way; nothing when the connection keeps its place.
std::optional<Standing> standingOf(const ConnectionFacts& facts,
                                   std::chrono::steady_clock::time_point now,
                                   std::chrono::milliseconds stuckAfter) {
    using Stage = ConnectionFacts::Stage;
    if (facts.lingering)
        return Standing{0, facts.acceptedAt};
    if (facts.replying) {
        if (facts.replyMovedAt && now - *facts.replyMovedAt >= stuckAfter)
            return Standing{4, *facts.replyMovedAt};
        return std::nullopt;
    }
    switch (facts.stage) {
    case Stage::Nothing:
        return Standing{1, facts.acceptedAt};
    case Stage::Begun:
        return Standing{2, facts.acceptedAt};
    case Stage::Complete:
        break;
    }
    return Standing{3, facts.lastHeardAt};
}

struct Candidate {
    ConnectionAdmission::Id id = nullptr;
    Standing standing;
};

// Makes `victim` the one of `pool` and itself that gives way first (none yet: no id).
void consider(const std::vector<ConnectionAdmission::Id>& pool,
              const ConnectionAdmission::FactsOf& factsOf,
              std::chrono::steady_clock::time_point now, std::chrono::milliseconds stuckAfter,
              Candidate& victim) {
    for (const ConnectionAdmission::Id candidate : pool) {
        const std::optional<Standing> standing = standingOf(factsOf(candidate), now, stuckAfter);
        if (!standing)
            continue;
        const Standing& best = victim.standing;
        if (!victim.id || standing->rank < best.rank ||
            (standing->rank == best.rank && standing->since < best.since))
            victim = {candidate, *standing};
    }
}

} // namespace

ConnectionAdmission::ConnectionAdmission(int bound, int perAddress, int reserve,
                                         std::chrono::milliseconds stuckAfter)
    : m_bound(std::max(1, bound))
    , m_perAddress(std::max(1, perAddress))
    , m_reserve(std::max(0, reserve))
    , m_stuckAfter(stuckAfter) {}

QHostAddress ConnectionAdmission::shareOf(const QHostAddress& peer) {
    const QHostAddress address = LocalPeer::unmapped(peer);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(std::begin(bytes.c) + kIPv6SharePrefix / 8, std::end(bytes.c), quint8(0));
    return QHostAddress(bytes);
}

ConnectionAdmission::Verdict ConnectionAdmission::judge(const QHostAddress& peer,
                                                        const FactsOf& factsOf,
                                                        std::chrono::steady_clock::time_point now,
                                                        bool mayDisplace) const {
    using Kind = Verdict::Kind;
    const auto own = m_pools.constFind(shareOf(peer));
    const std::size_t held = own == m_pools.constEnd() ? 0 : own->size();
    if (held >= static_cast<std::size_t>(m_perAddress)) {
        Candidate victim;
        if (mayDisplace)
            consider(*own, factsOf, now, m_stuckAfter, victim);
        return victim.id ? Verdict{Kind::Displace, victim.id} : Verdict{Kind::Refuse, nullptr};
    }
    if (size() < m_bound)
        return {Kind::Admit, nullptr};
    const bool reserved = held == 0 && size() < m_bound + m_reserve;
    if (!mayDisplace)
        return {reserved ? Kind::Admit : Kind::Refuse, nullptr};
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
            consider(**group, factsOf, now, m_stuckAfter, victim);
        if (victim.id)
            return {Kind::Displace, victim.id};
    }
    return {reserved ? Kind::Admit : Kind::Refuse, nullptr};
}

void ConnectionAdmission::add(Id id, const QHostAddress& peer) {
    const QHostAddress share = shareOf(peer);
    m_pools[share].push_back(id);
    m_shareOf.insert(id, share);
}

void ConnectionAdmission::remove(Id id) {
    const auto share = m_shareOf.constFind(id);
    if (share == m_shareOf.constEnd())
        return;
    const auto pool = m_pools.find(*share);
    std::erase(*pool, id);
    if (pool->empty())
        m_pools.erase(pool);
    m_shareOf.erase(share);
}

} // namespace server
