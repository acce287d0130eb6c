// Reads QR codes out of pictures the way a phone would, so tests check meaning, not pixels.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

struct DecodedQr {
    QByteArray bytes;
    QString ecLevel;
    /// The symbol's bounds in the image's pixels (without the quiet zone).
    QRect bounds;
};

/// Every QR code found in `image`.
QList<DecodedQr> decodeQrCodes(const QImage& image);
