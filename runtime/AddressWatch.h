// Notices when the machine's chosen LAN address changes (network joined or left, address renewed,
// VPN up or down), so that what shows the address can follow it.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <functional>

class QTimer;

namespace runtime {

class AddressWatch : public QObject {
    Q_OBJECT

public:
    /// How often the address is read when the platform reports nothing: a few seconds keeps the
    /// pairing code current without costing anything noticeable.
    static constexpr std::chrono::milliseconds kInterval{3000};

    /// `address` gives the chosen address now; it is read every `interval` once started, and at
    /// once whenever the platform reports a change of network.
    explicit AddressWatch(std::function<QString()> address,
                          std::chrono::milliseconds interval = kInterval,
                          QObject* parent = nullptr);

    /// Reads the address now and takes it as the one in use; emits nothing.
    QString read();

    /// Starts watching, against the address last read(); harmless when already started.
    void start();

signals:
    /// The address differs from the one last read or reported.
    void changed(const QString& address);

private:
    void check();
    void followPlatformNotices();

    std::function<QString()> m_address;
    QTimer* m_timer;
    QString m_last;
};

} // namespace runtime
