// QR decoding with ZXing-cpp.
#define ZX_USE_UTF8 1
#include "support/QrDecode.h"

#include "runtime/QtSize.h"

#include <ZXing/ReadBarcode.h>
#include <ZXing/ZXVersion.h>

#include <algorithm>

QList<DecodedQr> decodeQrCodes(const QImage& image) {
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    const ZXing::ImageView view(grey.constBits(), grey.width(), grey.height(),
                                ZXing::ImageFormat::Lum, static_cast<int>(grey.bytesPerLine()));
#if ZXING_VERSION_MAJOR > 2 || (ZXING_VERSION_MAJOR == 2 && ZXING_VERSION_MINOR >= 2)
    ZXing::ReaderOptions hints; // vcpkg's release renamed the decode hints
#else
    ZXing::DecodeHints hints;
#endif
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);

    QList<DecodedQr> found;
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid())
            continue;
        DecodedQr decoded;
        const ZXing::ByteArray& bytes = result.bytes();
        decoded.bytes = QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                   runtime::qtSize(static_cast<qsizetype>(bytes.size())));
        decoded.ecLevel = QString::fromStdString(result.ecLevel());
        int left = grey.width(), top = grey.height(), right = 0, bottom = 0;
        for (const ZXing::PointI& corner : result.position()) {
            left = std::min(left, corner.x);
            top = std::min(top, corner.y);
            right = std::max(right, corner.x);
            bottom = std::max(bottom, corner.y);
        }
        decoded.bounds = QRect(QPoint(left, top), QPoint(right, bottom));
        found.append(decoded);
    }
    return found;
}
