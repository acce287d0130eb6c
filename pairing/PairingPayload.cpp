// The pairing payload and the canvas placement.
#include "pairing/PairingPayload.h"

#include "runtime/Text.h"

namespace pairing {

QString pairingPayload(const QString& serverAddress, const QString& keyName) {
    // The port is written as fixed text: the phone app expects exactly this one.
    return QStringLiteral("<URL>http://") + serverAddress + QStringLiteral(":10999/") +
           QStringLiteral("</URL><N>") + keyName + QStringLiteral("</N>\r\n\r\n");
}

int canvasLeft(int windowWidth, int pictureWidth) {
    return runtime::Round((windowWidth - pictureWidth) / 2.0);
}

} // namespace pairing
