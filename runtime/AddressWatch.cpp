// The address watch: a light periodic read, hastened by the platform's network notices.
#include "runtime/AddressWatch.h"

#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 1, 0)
#include <QNetworkInformation>
#endif

#include <utility>

namespace runtime {

AddressWatch::AddressWatch(std::function<QList<InterfaceInfo>()> interfaces,
                           std::chrono::milliseconds interval, Clock& clock, QObject* parent)
    : QObject(parent)
    , m_read(std::move(interfaces))
    , m_timer(clock, [this] {
        m_timer.start();
        check();
    }) {
    m_timer.setInterval(interval);
}

void AddressWatch::read() {
    take(m_read());
}

bool AddressWatch::take(QList<InterfaceInfo> interfaces) {
    m_interfaces = std::move(interfaces);
    const AdvertisedAddress chosen = advertisedAddress(m_interfaces);
    const QString address =
        chosen.adapter < 0 ? QStringLiteral("127.0.0.1") : chosen.address.toString();
    m_advertisedIndex = chosen.adapter < 0 ? 0 : m_interfaces.at(chosen.adapter).index;
    if (address == m_address)
        return false;
    m_address = address;
    return true;
}

void AddressWatch::start() {
    // Compared with what was last read (by read() when the window opened), so starting costs no
    // second look at the interfaces.
    if (m_timer.isActive())
        return;
    m_timer.start();
    followPlatformNotices();
}

void AddressWatch::check() {
    QList<InterfaceInfo> interfaces = m_read();
    // Loopback is always there, so a read with no interface at all is one the system refused
    // (no descriptor left for the socket that asks, as under a flood of connections). The
    // network has not gone: taking that read as news would lose the address, redraw the code
    // for loopback and ask about a network that did not change.
    if (interfaces.isEmpty() || interfaces == m_interfaces)
        return;
    const bool moved = take(std::move(interfaces));
    emit interfacesChanged(m_interfaces);
    if (moved)
        emit changed(m_address);
}

void AddressWatch::followPlatformNotices() {
#if QT_VERSION >= QT_VERSION_CHECK(6, 1, 0)
    // Where a backend exists (NetworkManager, GLib's monitor, Windows' network list) a network
    // that comes or goes is noticed at once. None reports a renewed address on a network that
    // stays up, so the periodic read remains the dependable path.
#if QT_VERSION >= QT_VERSION_CHECK(6, 4, 0)
    QNetworkInformation::loadBackendByFeatures(QNetworkInformation::Feature::Reachability);
#else
    QNetworkInformation::load(QNetworkInformation::Feature::Reachability);
#endif
    if (QNetworkInformation* information = QNetworkInformation::instance())
        connect(information, &QNetworkInformation::reachabilityChanged, this, &AddressWatch::check);
#endif
}

} // namespace runtime
