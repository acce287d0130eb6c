// The pairing payload and the canvas placement.
#include "pairing/PairingPayload.h"

#include "runtime/Text.h"

#include <algorithm>
#include <cmath>

namespace pairing {

QString pairingPayload(const QString& serverAddress, const QString& keyName) {
    // The port is written as fixed text: the phone app expects exactly this one.
    return QStringLiteral("<URL>http://") + serverAddress + QStringLiteral(":10999/") +
           QStringLiteral("</URL><N>") + keyName + QStringLiteral("</N>\r\n\r\n");
}

int canvasLeft(int windowWidth, int pictureWidth) {
    return runtime::Round((windowWidth - pictureWidth) / 2.0);
}

ModuleSize fittedModuleSize(int symbolModules, ModuleSize nominal, QSize area, qreal ratio) {
    // The picture is square; the slack absorbs products such as 195 x 1.2 landing just below
    // a whole number.
    const int available =
        static_cast<int>(std::floor(std::min(area.width(), area.height()) * ratio + 1e-6));
    const auto fits = [&](int pixels, int zone) {
        return (symbolModules + 2 * zone) * pixels <= available;
    };
    // Tried in order from the nominal drawing: a phone reads a 2-module quiet zone well, and
    // big modules matter more to it than the wide margin the QR standard asks for.
    const int narrowestZone = std::min(nominal.quietZone, 2);
    for (int pixels = nominal.devicePixels; pixels >= 1; --pixels) {
        for (int zone = nominal.quietZone; zone >= narrowestZone; --zone) {
            if (fits(pixels, zone))
                return {pixels, zone};
        }
    }
    return {1, narrowestZone};
}

} // namespace pairing
