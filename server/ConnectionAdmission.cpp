// The parts of the rule for who holds the key server's places that do not depend on how the
// caller names its connections.
#include "server/ConnectionAdmission.h"

#include "server/Deadlines.h"
#include "server/LocalPeer.h"

namespace server::admission {

namespace {
constexpr int kIPv6SharePrefix = 64;

qint64 ticksOf(std::chrono::steady_clock::time_point time) {
    return time.time_since_epoch().count();
}
} // namespace

std::optional<Standing> standingOf(const ConnectionFacts& facts,
                                   std::chrono::steady_clock::time_point now) {
    if (facts.lingering)
        return Standing{0, ticksOf(facts.acceptedAt)};
    if (!facts.replying)
        return Standing{1, ticksOf(facts.acceptedAt)};
    const std::optional<qint64> pace =
        facts.sending ? Deadlines::paceOf(*facts.sending, now) : std::nullopt;
    if (pace && Deadlines::replyIsStuck(*facts.sending, now))
        return Standing{2, *pace};
    return std::nullopt;
}

std::optional<Standing> takenBackOf(const ConnectionFacts& facts,
                                    std::chrono::steady_clock::time_point now) {
    const std::optional<qint64> pace =
        facts.sending ? Deadlines::paceOf(*facts.sending, now) : std::nullopt;
    if (!pace)
        return std::nullopt;
    return Standing{3, *pace};
}

bool givesWayBefore(const Standing& a, const Standing& b) {
    return a.rank < b.rank || (a.rank == b.rank && a.order < b.order);
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
