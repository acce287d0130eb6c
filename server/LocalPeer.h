// Which client addresses may fetch a key: only those that cannot come from beyond the local
// network.
#pragma once

class QHostAddress;

namespace server {

class LocalPeer {
public:
    LocalPeer() = delete;

    /// True for loopback, the private IPv4 ranges (10/8, 172.16/12, 192.168/16), IPv4
    /// link-local (169.254/16), the shared range (100.64/10), IPv6 unique-local (fc00::/7) and
    /// link-local (fe80::/10), and for the IPv4-mapped IPv6 form of any of those IPv4 ranges.
    /// False for every globally routable or malformed address.
    static bool allows(const QHostAddress& address);
};

} // namespace server
