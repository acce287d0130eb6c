// The address a phone on the same network can reach this computer at: the primary LAN IPv4
// address, never the wildcard the server listens on.
#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>

namespace runtime {

struct RouteFacts;

/// What the address choice and the rule for on-link peers need to know of one network interface.
struct InterfaceInfo {
    QString name;
    /// The system's interface index; 0 when unknown.
    int index = 0;
    bool up = false;
    bool running = false;
    bool loopback = false;
    bool pointToPoint = false;
    /// A container bridge, VPN tunnel, hypervisor host-only adapter or the like.
    bool isVirtual = false;
    /// The interface that carries the default route.
    bool defaultRoute = false;
    QList<QHostAddress> addresses;
    /// The prefix length of each of `addresses`, in the same order; -1 (or a shorter list) where
    /// the system gives none.
    QList<int> prefixLengths;

    bool operator==(const InterfaceInfo& other) const = default;
};

/// The interface the address choice advertises and the address it gives for it.
struct AdvertisedAddress {
    /// Position of the interface in the list it was chosen from.
    int adapter = -1;
    QHostAddress address;
};

/// The best IPv4 address among `interfaces` and the interface that carries it: interfaces that
/// are up and running, not loopback or point-to-point, no 169.254/16 address; real adapters
/// before virtual ones, then the one with the default route, then private ranges, then the rest,
/// keeping the given order among equals. `adapter` stays -1 when nothing qualifies. The address
/// choice and the rule for on-link peers both ask this, so the code never names an address whose
/// neighbours are refused.
AdvertisedAddress advertisedAddress(const QList<InterfaceInfo>& interfaces);

/// advertisedAddress(interfaces) as text; "127.0.0.1" when nothing qualifies.
QString chooseLanAddress(const QList<InterfaceInfo>& interfaces);

/// Marks the interfaces that `facts` names by index: the default-route one, and the software-only
/// ones as virtual. Flags already set stay set; an interface of index 0 matches nothing.
void applyRouteFacts(QList<InterfaceInfo>& interfaces, const RouteFacts& facts);

/// This machine's interfaces as the choice sees them, read afresh.
QList<InterfaceInfo> systemInterfaces();

/// chooseLanAddress(systemInterfaces()).
QString localLanAddress();

} // namespace runtime
