// What the pairing code says and where it goes on the window.
#pragma once

#include <QString>

namespace pairing {

/// The text a phone reads from the code: where the key server is and which key to ask for.
/// Nothing is escaped: the fields go in as they stand.
QString pairingPayload(const QString& serverAddress, const QString& keyName);

/// The canvas's left edge that centres a picture `pictureWidth` wide across a window
/// `windowWidth` wide (both in layout pixels); negative when the picture is the wider.
int canvasLeft(int windowWidth, int pictureWidth);

} // namespace pairing
