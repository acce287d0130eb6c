// What the pairing code says, and where and how large it goes on the window.
#pragma once

#include <QSize>
#include <QString>

namespace pairing {

/// The text a phone reads from the code: where the key server is and which key to ask for.
/// Nothing is escaped: the fields go in as they stand.
QString pairingPayload(const QString& serverAddress, const QString& keyName);

/// The canvas's left edge that centres a picture `pictureWidth` wide across a window
/// `windowWidth` wide (both in layout pixels); negative when the picture is the wider.
int canvasLeft(int windowWidth, int pictureWidth);

/// How a QR symbol is drawn: whole device pixels per module, and the quiet zone in modules.
struct ModuleSize {
    int devicePixels = 1;
    int quietZone = 0;
};

/// How a symbol `symbolModules` wide (quiet zone excluded) is drawn inside `area` (layout
/// pixels) at device pixel ratio `ratio`: the `nominal` drawing when it fits; otherwise the
/// most device pixels per module, up to the nominal number, that fit with the quiet zone
/// narrowed to no less than 2 modules, and at that size the widest zone that fits. A nominal
/// zone under 2 modules is never narrowed. When nothing fits, one pixel per module and the
/// narrowest zone, a picture larger than the area.
ModuleSize fittedModuleSize(int symbolModules, ModuleSize nominal, QSize area, qreal ratio);

} // namespace pairing
