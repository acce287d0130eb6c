// The replies of the key server, as the phone app reads them byte for byte.
#pragma once

#include "runtime/RegularFile.h"
#include "server/DeviceEvent.h"

#include <QByteArray>
#include <QString>

namespace server {

class ReplyText {
public:
    /// The complete reply that hands out the key `keyName` (named as requested) from `read`, or
    /// the error its outcome calls for (-43, -49, -33, -1). Any thread.
    static QByteArray keyReply(const QByteArray& keyName, const runtime::RegularFileRead& read);

    /// What keyReply() tells the device for `read`. Any thread.
    static DeviceEvent::Outcome keyOutcome(const runtime::RegularFileRead& read);

    /// The complete error reply for `outcome`, which must be one with a number.
    static QByteArray errorReply(DeviceEvent::Outcome outcome);

    /// The French words of the error reply for `outcome`, as the device reads them between
    /// <ERRH> and </ERRH>, and its number; empty and 0 for the key itself and for a refusal.
    static QString errorWords(DeviceEvent::Outcome outcome);
    static int errorNumber(DeviceEvent::Outcome outcome);

    /// The status line and headers for `body`, followed by it.
    static QByteArray reply(const QByteArray& body);
};

} // namespace server
