// The address watch: a light periodic read, hastened by the platform's network notices.
#include "runtime/AddressWatch.h"

#include <QTimer>
#include <QtGlobal>

#if QT_VERSION >= QT_VERSION_CHECK(6, 1, 0)
#include <QNetworkInformation>
#endif

#include <utility>

namespace runtime {

AddressWatch::AddressWatch(std::function<QString()> address, std::chrono::milliseconds interval,
                           QObject* parent)
    : QObject(parent)
    , m_address(std::move(address))
    , m_timer(new QTimer(this)) {
    m_timer->setInterval(static_cast<int>(interval.count()));
    connect(m_timer, &QTimer::timeout, this, &AddressWatch::check);
}

QString AddressWatch::read() {
    m_last = m_address();
    return m_last;
}

void AddressWatch::start() {
    // Compared with the address last read (by read() when the code was drawn), so starting
    // costs no second look at the interfaces.
    if (m_timer->isActive())
        return;
    m_timer->start();
    followPlatformNotices();
}

void AddressWatch::check() {
    const QString address = m_address();
    if (address == m_last)
        return;
    m_last = address;
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
