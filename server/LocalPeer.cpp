// The rule for which client addresses are on the local network.
#include "server/LocalPeer.h"

#include "runtime/AddressRanges.h"

#include <algorithm>

namespace server {

namespace {

constexpr int kShortestIPv4Prefix = 16;
constexpr int kShortestIPv6Prefix = 64;

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
    return runtime::localRangeOf(unmapped(address)).has_value();
}

QList<Subnet> LocalPeer::onLinkSubnets(const QList<runtime::InterfaceInfo>& interfaces) {
    QList<Subnet> subnets;
    // The adapter the pairing code names is on-link whatever its kind (a bridge or a virtual
    // switch often carries the LAN); other software adapters are not: a VPN's may be numbered
    // from public space, and its far side is no neighbour.
    const int advertised = runtime::advertisedAddress(interfaces).adapter;
    const int adapters = static_cast<int>(interfaces.size());
    for (int a = 0; a < adapters; ++a) {
        const runtime::InterfaceInfo& adapter = interfaces.at(a);
        if (!adapter.up || adapter.pointToPoint || (adapter.isVirtual && a != advertised))
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
