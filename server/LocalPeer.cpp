// The rule for which client addresses are on the local network.
#include "server/LocalPeer.h"

#include <QHostAddress>
#include <QPair>

#include <algorithm>

namespace server {

namespace {

using Subnet = QPair<QHostAddress, int>;

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

bool LocalPeer::allows(const QHostAddress& address) {
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        return inAny(address, localIPv4());
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    // A dual-stack listener may see an IPv4 client as ::ffff:a.b.c.d.
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    if (mapped)
        return inAny(QHostAddress(ipv4), localIPv4());
    return inAny(address, localIPv6());
}

} // namespace server
