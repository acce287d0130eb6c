// The rule for which client addresses are on the local network.
#include "server/LocalPeer.h"

#include <QHostAddress>

#include <array>
#include <utility>

namespace server {

namespace {

using Subnet = std::pair<const char*, int>;

constexpr std::array<Subnet, 6> kLocalIPv4{{
    {"127.0.0.0", 8},
    {"10.0.0.0", 8},
    {"172.16.0.0", 12},
    {"192.168.0.0", 16},
    {"169.254.0.0", 16},
    {"100.64.0.0", 10},
}};

constexpr std::array<Subnet, 3> kLocalIPv6{{
    {"::1", 128},
    {"fc00::", 7},
    {"fe80::", 10},
}};

template <std::size_t N>
bool inAny(const QHostAddress& address, const std::array<Subnet, N>& subnets) {
    for (const auto& [network, prefix] : subnets) {
        if (address.isInSubnet(QHostAddress(QString::fromLatin1(network)), prefix))
            return true;
    }
    return false;
}

} // namespace

bool LocalPeer::allows(const QHostAddress& address) {
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        return inAny(address, kLocalIPv4);
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return false;
    // A dual-stack listener may see an IPv4 client as ::ffff:a.b.c.d.
    bool mapped = false;
    const quint32 ipv4 = address.toIPv4Address(&mapped);
    if (mapped)
        return inAny(QHostAddress(ipv4), kLocalIPv4);
    return inAny(address, kLocalIPv6);
}

} // namespace server
