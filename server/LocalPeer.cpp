// The rule for which client addresses are on the local network.
#include "server/LocalPeer.h"

#include <algorithm>

namespace server {

namespace {

constexpr int kShortestIPv4Prefix = 16;
constexpr int kShortestIPv6Prefix = 64;

// Parsed once: the rule runs for every client that connects.
const QList<Subnet>& localIPv4() {
    static const QList<Subnet> subnets{
        QHostAddress::parseSubnet(QStringLiteral("127.0.0.0/8")),
        QHostAddress::parseSubnet(QStringLiteral("10.0.0.0/8")),
        QHostAddress::parseSubnet(QStringLiteral("172.16.0.0/12")),
        QHostAddress::parseSubnet(QStringLiteral("192.168.0.0/16")),
        QHostAddress::parseSubnet(QStringLiteral("169.254.0.0/16")),
        QHostAddress::parseSubnet(QStringLiteral("100.64.0.0/10")),
    };
    return subnets;
}

const QList<Subnet>& localIPv6() {
    static const QList<Subnet> subnets{
        QHostAddress::parseSubnet(QStringLiteral("::1/128")),
        QHostAddress::parseSubnet(QStringLiteral("fc00::/7")),
        QHostAddress::parseSubnet(QStringLiteral("fe80::/10")),
    };
    return subnets;
}

bool inAny(const QHostAddress& address, const QList<Subnet>& subnets) {
    return std::any_of(subnets.begin(), subnets.end(),
                       [&address](const Subnet& subnet) { return address.isInSubnet(subnet); });
}

} // namespace

QHostAddress LocalPeer::unmapped(const QHostAddress& address) {
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return address;
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    return mapped ? QHostAddress(ipv4) : address;
}

bool LocalPeer::allows(const QHostAddress& address) {
    const QHostAddress peer = unmapped(address);
    if (peer.protocol() == QAbstractSocket::IPv4Protocol)
        return inAny(peer, localIPv4());
    if (peer.protocol() == QAbstractSocket::IPv6Protocol)
        return inAny(peer, localIPv6());
    return false;
}

QList<Subnet> LocalPeer::onLinkSubnets(const QList<runtime::InterfaceInfo>& interfaces) {
    QList<Subnet> subnets;
    for (const runtime::InterfaceInfo& adapter : interfaces) {
        if (!adapter.up || adapter.pointToPoint)
            continue;
        const int count = static_cast<int>(adapter.addresses.size());
        for (int i = 0; i < count; ++i) {
            const QHostAddress address = unmapped(adapter.addresses.at(i));
            const int prefix = i < static_cast<int>(adapter.prefixLengths.size())
                                   ? adapter.prefixLengths.at(i)
                                   : -1;
            const bool ipv4 = address.protocol() == QAbstractSocket::IPv4Protocol;
            const bool ipv6 = address.protocol() == QAbstractSocket::IPv6Protocol;
            if ((ipv4 && prefix >= kShortestIPv4Prefix && prefix <= 32) ||
                (ipv6 && prefix >= kShortestIPv6Prefix && prefix <= 128))
                subnets.append({address, prefix});
        }
    }
    return subnets;
}

bool LocalPeer::allowsOnLink(const QHostAddress& address, const QList<Subnet>& onLink) {
    return allows(address) || inAny(unmapped(address), onLink);
}

} // namespace server
