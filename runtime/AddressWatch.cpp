// The address watch: a light periodic read, hastened by the platform's network notices.
#include "runtime/AddressWatch.h"

#include <QTimer>
#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 1, 0)
#include <QNetworkInformation>
#endif

#include <utility>

namespace runtime {

AddressWatch::AddressWatch(std::function<QList<InterfaceInfo>()> interfaces,
                           std::chrono::milliseconds interval, QObject* parent)
    : QObject(parent)
    , m_read(std::move(interfaces))
    , m_timer(new QTimer(this)) {
    m_timer->setInterval(static_cast<int>(interval.count()));
    connect(m_timer, &QTimer::timeout, this, &AddressWatch::check);
}

void AddressWatch::read() {
    m_interfaces = m_read();
    m_address = chooseLanAddress(m_interfaces);
}

void AddressWatch::start() {
    // Compared with what was last read (by read() when the window opened), so starting costs no
    // second look at the interfaces.
    if (m_timer->isActive())
        return;
    m_timer->start();
    followPlatformNotices();
}

void AddressWatch::check() {
    QList<InterfaceInfo> interfaces = m_read();
    if (interfaces == m_interfaces)
        return;
    m_interfaces = std::move(interfaces);
    emit interfacesChanged(m_interfaces);
    const QString address = chooseLanAddress(m_interfaces);
    if (address == m_address)
        return;
    m_address = address;
    emit changed(address);
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
