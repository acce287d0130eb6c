// Notices when the machine's network interfaces or its chosen LAN address change (network joined
// or left, address renewed, VPN up or down, an adapter added), so that what shows the address and
// what judges peers can follow them.
#pragma once

#include "runtime/Clock.h"
#include "runtime/LocalAddress.h"

#include <QList>
#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

namespace runtime {

class AddressWatch : public QObject {
    Q_OBJECT

public:
    /// How often the address is read when the platform reports nothing: a few seconds keeps the
    /// pairing code current without costing anything noticeable.
    static constexpr std::chrono::milliseconds kInterval{3000};

    /// `interfaces` reads the machine's interfaces now; they are read every `interval` once
    /// started (on `clock`), and at once whenever the platform reports a change of network. Each
    /// look reads them once, for the address, the advertised adapter and the interfaces alike; a
    /// look that reads none (the system could not tell) keeps the interfaces last read.
    explicit AddressWatch(std::function<QList<InterfaceInfo>()> interfaces,
                          std::chrono::milliseconds interval = kInterval,
                          Clock& clock = Clock::system(), QObject* parent = nullptr);

    /// Reads the interfaces now and takes them, and the address chosen from them, as the ones in
    /// use; emits nothing.
    void read();

    /// The address chosen from the interfaces last read; "127.0.0.1" before any.
    QString address() const { return m_address; }
    /// The system's index of the interface that carries address(); 0 when loopback stands in.
    int advertisedIndex() const { return m_advertisedIndex; }
    /// The interfaces last read.
    const QList<InterfaceInfo>& interfaces() const { return m_interfaces; }

    /// Starts watching, against the address last read(); harmless when already started.
    void start();

signals:
    /// The interfaces differ in any way from the ones last read or reported; emitted before
    /// changed() when the address changed with them.
    void interfacesChanged(const QList<runtime::InterfaceInfo>& interfaces);
    /// The address differs from the one last read or reported.
    void changed(const QString& address);

private:
    void check();
    /// Takes `interfaces` as the ones in use; whether the address chosen from them changed.
    bool take(QList<InterfaceInfo> interfaces);
    void followPlatformNotices();

    std::function<QList<InterfaceInfo>()> m_read;
    Timer m_timer;
    QList<InterfaceInfo> m_interfaces;
    QString m_address = QStringLiteral("127.0.0.1");
    int m_advertisedIndex = 0;
};

} // namespace runtime
