// The rule for who holds the key server's places.
#include "server/ConnectionAdmission.h"

#include "server/LocalPeer.h"

#include <algorithm>

namespace server {

namespace {

constexpr int kIPv6SharePrefix = 64;

// Lower gives way first.
int rank(ConnectionFacts::Stage stage) {
    return static_cast<int>(stage);
}

// Whether `a` gives way before `b`; both are waiting, not replying.
bool goesBefore(const ConnectionFacts& a, const ConnectionFacts& b) {
    if (a.stage != b.stage)
        return rank(a.stage) < rank(b.stage);
    if (a.stage == ConnectionFacts::Stage::Complete)
        return a.lastHeardAt < b.lastHeardAt;
    return a.acceptedAt < b.acceptedAt;
}

} // namespace

ConnectionAdmission::ConnectionAdmission(int bound, int perAddress, int reserve)
    : m_bound(std::max(1, bound))
    , m_perAddress(std::max(1, perAddress))
    , m_reserve(std::max(0, reserve)) {}

QHostAddress ConnectionAdmission::shareOf(const QHostAddress& peer) {
    const QHostAddress address = LocalPeer::unmapped(peer);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(std::begin(bytes.c) + kIPv6SharePrefix / 8, std::end(bytes.c), quint8(0));
    return QHostAddress(bytes);
}

ConnectionAdmission::Verdict ConnectionAdmission::judge(const QHostAddress& peer,
                                                        const FactsOf& factsOf) const {
    using Kind = Verdict::Kind;
    const auto own = m_pools.constFind(shareOf(peer));
    const std::size_t held = own == m_pools.constEnd() ? 0 : own->size();
    const auto displace = [](Id victim) {
        return victim ? Verdict{Kind::Displace, victim} : Verdict{Kind::Refuse, nullptr};
    };
    if (held >= static_cast<std::size_t>(m_perAddress))
        return displace(firstToGo(*own, factsOf));
    if (size() < m_bound)
        return {Kind::Admit, nullptr};
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
        Id victim = nullptr;
        ConnectionFacts victimFacts;
        for (; group != groupEnd; ++group)
            consider(**group, factsOf, victim, victimFacts);
        if (victim)
            return {Kind::Displace, victim};
    }
    if (held == 0 && size() < m_bound + m_reserve)
        return {Kind::Admit, nullptr};
    return {Kind::Refuse, nullptr};
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

ConnectionAdmission::Id ConnectionAdmission::firstToGo(const Pool& pool, const FactsOf& factsOf) {
    Id victim = nullptr;
    ConnectionFacts victimFacts;
    consider(pool, factsOf, victim, victimFacts);
    return victim;
}

void ConnectionAdmission::consider(const Pool& pool, const FactsOf& factsOf, Id& victim,
                                   ConnectionFacts& victimFacts) {
    for (const Id candidate : pool) {
        const ConnectionFacts facts = factsOf(candidate);
        if (!facts.replying && (!victim || goesBefore(facts, victimFacts))) {
            victim = candidate;
            victimFacts = facts;
        }
    }
}

} // namespace server
