// BarcodeGenerator over Nayuki's QR Code generator; the only file that knows that library.
#include "pairing/BarcodeGenerator.h"

#include "pairing/PairingPayload.h"

#include <qrcodegen.hpp>

#include <QByteArray>

#include <algorithm>
#include <cmath>
#include <vector>

namespace pairing {

namespace {

bool eccFor(int option, qrcodegen::QrCode::Ecc& ecc) {
    switch (option) {
    case 0:
    case 1:
        ecc = qrcodegen::QrCode::Ecc::LOW;
        return true;
    case 2:
        ecc = qrcodegen::QrCode::Ecc::MEDIUM;
        return true;
    case 3:
        ecc = qrcodegen::QrCode::Ecc::QUARTILE;
        return true;
    case 4:
        ecc = qrcodegen::QrCode::Ecc::HIGH;
        return true;
    default:
        return false;
    }
}

} // namespace

void BarcodeGenerator::fail(ErrorCode code, const QString& text) {
    m_picture = QImage();
    m_lastError = code;
    m_errorText = text;
}

void BarcodeGenerator::Encode(const QString& text, int width, int height, int rotationAngle) {
    if (m_symbology != kQrCode)
        return fail(UnsupportedSymbology,
                    QStringLiteral("Unsupported symbology %1").arg(m_symbology));
    qrcodegen::QrCode::Ecc ecc{};
    if (!eccFor(m_option1, ecc) || m_border < 0 || !(m_scale > 0) || !(m_devicePixelRatio > 0))
        return fail(InvalidOption, QStringLiteral("Invalid option"));
    if (width != 0 || height != 0 || rotationAngle != 0)
        return fail(UnsupportedGeometry,
                    QStringLiteral("Only the natural size without rotation is supported"));

    const QByteArray utf8 = text.toUtf8();
    const std::vector<std::uint8_t> bytes(utf8.begin(), utf8.end());
    std::vector<qrcodegen::QrSegment> segments{qrcodegen::QrSegment::makeBytes(bytes)};
    try {
        // boostEcl off: the level must come out exactly as asked, not raised where room allows.
        const qrcodegen::QrCode code =
            qrcodegen::QrCode::encodeSegments(segments, ecc, qrcodegen::QrCode::MIN_VERSION,
                                              qrcodegen::QrCode::MAX_VERSION, -1, false);

        // The nominal size that Scale and BorderWidth give, unless that would overflow the area
        // the caller has room for.
        ModuleSize size{
            std::max(1, static_cast<int>(std::lround(2.0 * m_scale * m_devicePixelRatio))),
            m_border};
        if (!m_maximumSize.isEmpty())
            size = fittedModuleSize(code.getSize(), size, m_maximumSize, m_devicePixelRatio);
        const int modulePixels = size.devicePixels;
        const int border = size.quietZone;
        const int modules = code.getSize() + 2 * border;
        const int side = modules * modulePixels;
        QImage picture(side, side, QImage::Format_Grayscale8);
        picture.fill(255);
        for (int y = 0; y < code.getSize(); ++y) {
            for (int x = 0; x < code.getSize(); ++x) {
                if (!code.getModule(x, y))
                    continue;
                const int left = (x + border) * modulePixels;
                const int top = (y + border) * modulePixels;
                for (int row = top; row < top + modulePixels; ++row)
                    std::fill_n(picture.scanLine(row) + left, modulePixels, uchar(0));
            }
        }
        picture.setDevicePixelRatio(m_devicePixelRatio);
        m_picture = picture;
        m_lastError = NoError;
        m_errorText.clear();
    } catch (const qrcodegen::data_too_long& e) {
        fail(DataTooLong, QString::fromUtf8(e.what()));
    }
}

} // namespace pairing
