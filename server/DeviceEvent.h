// What the key server did for one device, as plain facts for whoever tells the user about it.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QMetaType>

namespace server {

struct DeviceEvent {
    /// How the server answered a GET (its reply's error, or the key), or that it refused the
    /// device unanswered.
    enum class Outcome {
        KeySent,
        NoPath,      // -2
        NoKey,       // -3
        NotSelected, // -4
        NotFound,    // -43
        Unreadable,  // -49
        BadSize,     // -33
        ReadFailed,  // -1
        Refused,     // not on this computer's local network: no reply at all
    };

    Outcome outcome = Outcome::KeySent;
    /// The key name as the device asked for it; empty when it was refused or named none.
    QByteArray keyName;
    /// The device's address, an IPv4 client as IPv4.
    QHostAddress peer;
};

} // namespace server

Q_DECLARE_METATYPE(server::DeviceEvent)
