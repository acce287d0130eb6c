// Choosing the LAN address that goes into the pairing code.
#include "runtime/LocalAddress.h"

#include "runtime/AddressRanges.h"
#include "runtime/RouteTable.h"

#include <QNetworkInterface>

#include <algorithm>
#include <optional>

namespace runtime {

namespace {

bool isPrivate(const QHostAddress& address) {
    return localRangeOf(address) == LocalRange::Private;
}

bool usable(const QHostAddress& address) {
    const std::optional<LocalRange> range = localRangeOf(address);
    return address.protocol() == QAbstractSocket::IPv4Protocol && range != LocalRange::Loopback &&
           range != LocalRange::LinkLocal && address != QHostAddress(QHostAddress::AnyIPv4);
}

// Lower is better.
int rank(const InterfaceInfo& adapter, const QHostAddress& address) {
    int value = adapter.isVirtual ? 4 : 0;
    if (!adapter.defaultRoute)
        value += isPrivate(address) ? 1 : 2;
    return value;
}

// Names that stand for software-only adapters on the platforms the tool runs on.
bool looksVirtual(const QString& name, const QString& humanName) {
    static const char* const prefixes[] = {"docker",  "br-",    "veth",  "virbr", "vboxnet",
                                           "vmnet",   "tun",    "tap",   "wg",    "tailscale",
                                           "zt",      "utun",   "lxcbr", "lxdbr", "cni",
                                           "flannel", "podman", "ifb",   "dummy"};
    for (const char* prefix : prefixes)
        if (name.startsWith(QLatin1String(prefix), Qt::CaseInsensitive))
            return true;
    static const char* const markers[] = {"VirtualBox", "VMware", "Hyper-V", "vEthernet",
                                          "TAP-",       "VPN",    "WSL",     "Npcap"};
    for (const char* marker : markers)
        if (humanName.contains(QLatin1String(marker), Qt::CaseInsensitive))
            return true;
    return false;
}

} // namespace

AdvertisedAddress advertisedAddress(const QList<InterfaceInfo>& interfaces) {
    AdvertisedAddress best;
    int bestRank = 0;
    const int count = static_cast<int>(interfaces.size());
    for (int i = 0; i < count; ++i) {
        const InterfaceInfo& adapter = interfaces.at(i);
        if (!adapter.up || !adapter.running || adapter.loopback || adapter.pointToPoint)
            continue;
        for (const QHostAddress& address : adapter.addresses) {
            if (!usable(address))
                continue;
            const int value = rank(adapter, address);
            if (best.adapter < 0 || value < bestRank) {
                best = {i, address};
                bestRank = value;
            }
        }
    }
    return best;
}

QString chooseLanAddress(const QList<InterfaceInfo>& interfaces) {
    const AdvertisedAddress chosen = advertisedAddress(interfaces);
    return chosen.adapter < 0 ? QStringLiteral("127.0.0.1") : chosen.address.toString();
}

void applyRouteFacts(QList<InterfaceInfo>& interfaces, const RouteFacts& facts) {
    for (InterfaceInfo& adapter : interfaces) {
        if (adapter.index <= 0)
            continue;
        const auto index = static_cast<unsigned>(adapter.index);
        if (index == facts.defaultRouteIndex)
            adapter.defaultRoute = true;
        if (std::find(facts.softwareIndexes.begin(), facts.softwareIndexes.end(), index) !=
            facts.softwareIndexes.end())
            adapter.isVirtual = true;
    }
}

QList<InterfaceInfo> systemInterfaces() {
    QList<InterfaceInfo> result;
    for (const QNetworkInterface& adapter : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = adapter.flags();
        InterfaceInfo info;
        info.name = adapter.name();
        info.index = adapter.index();
        info.up = flags.testFlag(QNetworkInterface::IsUp);
        info.running = flags.testFlag(QNetworkInterface::IsRunning);
        info.loopback = flags.testFlag(QNetworkInterface::IsLoopBack);
        info.pointToPoint = flags.testFlag(QNetworkInterface::IsPointToPoint);
        info.isVirtual = adapter.type() == QNetworkInterface::Virtual ||
                         looksVirtual(adapter.name(), adapter.humanReadableName());
        for (const QNetworkAddressEntry& entry : adapter.addressEntries()) {
            info.addresses.append(entry.ip());
            info.prefixLengths.append(entry.prefixLength());
        }
        result.append(info);
    }
    applyRouteFacts(result, readRouteFacts());
    return result;
}

QString localLanAddress() {
    return chooseLanAddress(systemInterfaces());
}

} // namespace runtime
