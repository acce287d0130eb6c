// The parts of the rule for who holds the key server's places that do not depend on how the
// caller names its connections.
#include "server/ConnectionAdmission.h"

#include "server/LocalPeer.h"

namespace server::admission {

namespace {
constexpr int kIPv6SharePrefix = 64;
} // namespace

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

bool givesWayBefore(const Standing& a, const Standing& b) {
    return a.rank < b.rank || (a.rank == b.rank && a.since < b.since);
}

QHostAddress shareOf(const QHostAddress& peer) {
    const QHostAddress address = LocalPeer::unmapped(peer);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    Q_IPV6ADDR bytes = address.toIPv6Address();
    std::fill(std::begin(bytes.c) + kIPv6SharePrefix / 8, std::end(bytes.c), quint8(0));
    return QHostAddress(bytes);
}

} // namespace server::admission
