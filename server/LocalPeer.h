// Which client addresses may fetch a key: only those that cannot come from beyond the local
// network.
#pragma once

#include "runtime/LocalAddress.h"

#include <QHostAddress>
#include <QList>
#include <QPair>

namespace server {

/// A network address and its prefix length, as QHostAddress::isInSubnet() takes them.
using Subnet = QPair<QHostAddress, int>;

class LocalPeer {
public:
    LocalPeer() = delete;

    /// True for loopback, the private IPv4 ranges (10/8, 172.16/12, 192.168/16), IPv4
    /// link-local (169.254/16), the shared range (100.64/10), IPv6 unique-local (fc00::/7) and
    /// link-local (fe80::/10), and for the IPv4-mapped IPv6 form of any of those IPv4 ranges.
    /// False for every globally routable or malformed address.
    static bool allows(const QHostAddress& address);

    /// `address` as one client is always known by: a dual-stack listener may see an IPv4 client
    /// as ::ffff:a.b.c.d, which is taken as the IPv4 address a.b.c.d.
    static QHostAddress unmapped(const QHostAddress& address);

    /// The subnets this computer is attached to directly, whatever address space they are
    /// numbered from: of each interface that is up, not point-to-point (whose far end is no
    /// neighbour), and either the one runtime::advertisedAddress() picks or not virtual (a
    /// tunnel, VPN adapter or container bridge), every IPv4 address with a prefix of /16 to /32
    /// and every IPv6 address with a prefix of /64 to /128. Shorter prefixes are too wide to
    /// vouch for.
    static QList<Subnet> onLinkSubnets(const QList<runtime::InterfaceInfo>& interfaces);

    /// allows(address), or `address` (or the IPv4 address it maps) lies in one of `onLink`.
    static bool allowsOnLink(const QHostAddress& address, const QList<Subnet>& onLink);
};

} // namespace server
