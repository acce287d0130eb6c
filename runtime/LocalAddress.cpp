// Choosing the LAN address that goes into the pairing code.
#include "runtime/LocalAddress.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkInterface>

#include <algorithm>
#include <optional>

namespace runtime {

namespace {

bool isPrivate(const QHostAddress& address) {
    return address.isInSubnet(QHostAddress(QStringLiteral("10.0.0.0")), 8) ||
           address.isInSubnet(QHostAddress(QStringLiteral("172.16.0.0")), 12) ||
           address.isInSubnet(QHostAddress(QStringLiteral("192.168.0.0")), 16);
}

bool usable(const QHostAddress& address) {
    return address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback() &&
           !address.isInSubnet(QHostAddress(QStringLiteral("169.254.0.0")), 16) &&
           address != QHostAddress(QHostAddress::AnyIPv4);
}

// Lower is better.
int rank(const InterfaceInfo& interface, const QHostAddress& address) {
    int value = interface.isVirtual ? 4 : 0;
    if (!interface.defaultRoute)
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

// The interface of the IPv4 default route, where the system says (Linux).
std::optional<QString> defaultRouteInterface() {
    QFile routes(QStringLiteral("/proc/net/route"));
    if (!routes.open(QIODevice::ReadOnly))
        return std::nullopt;
    routes.readLine(); // column titles
    while (!routes.atEnd()) {
        const QList<QByteArray> fields = routes.readLine().simplified().split(' ');
        if (fields.size() > 1 && fields.at(1) == "00000000")
            return QString::fromLatin1(fields.at(0));
    }
    return std::nullopt;
}

} // namespace

QString chooseLanAddress(const QList<InterfaceInfo>& interfaces) {
    std::optional<QHostAddress> best;
    int bestRank = 0;
    for (const InterfaceInfo& interface : interfaces) {
        if (!interface.up || !interface.running || interface.loopback || interface.pointToPoint)
            continue;
        for (const QHostAddress& address : interface.addresses) {
            if (!usable(address))
                continue;
            const int value = rank(interface, address);
            if (!best || value < bestRank) {
                best = address;
                bestRank = value;
            }
        }
    }
    return best ? best->toString() : QStringLiteral("127.0.0.1");
}

QList<InterfaceInfo> systemInterfaces() {
    const std::optional<QString> routed = defaultRouteInterface();
    QList<InterfaceInfo> result;
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const QNetworkInterface::InterfaceFlags flags = interface.flags();
        InterfaceInfo info;
        info.name = interface.name();
        info.up = flags.testFlag(QNetworkInterface::IsUp);
        info.running = flags.testFlag(QNetworkInterface::IsRunning);
        info.loopback = flags.testFlag(QNetworkInterface::IsLoopBack);
        info.pointToPoint = flags.testFlag(QNetworkInterface::IsPointToPoint);
        info.isVirtual =
            interface.type() == QNetworkInterface::Virtual ||
            looksVirtual(interface.name(), interface.humanReadableName()) ||
            QFileInfo::exists(QStringLiteral("/sys/devices/virtual/net/") + interface.name());
        info.defaultRoute = routed && *routed == interface.name();
        for (const QNetworkAddressEntry& entry : interface.addressEntries())
            info.addresses.append(entry.ip());
        result.append(info);
    }
    return result;
}

QString localLanAddress() {
    return chooseLanAddress(systemInterfaces());
}

} // namespace runtime
