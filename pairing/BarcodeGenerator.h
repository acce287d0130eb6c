// Turns a text into a QR code picture. Symbology and option numbers follow the numbering of the
// common open barcode encoders: 58 is QR Code, and its Option1 1 to 4 picks level L, M, Q, H.
#pragma once

#include <QImage>
#include <QSize>
#include <QString>

namespace pairing {

class BarcodeGenerator {
public:
    static constexpr int kQrCode = 58;

    enum ErrorCode {
        NoError = 0,
        UnsupportedSymbology = 1,
        InvalidOption = 2,
        DataTooLong = 3,
        UnsupportedGeometry = 4,
    };

    void Symbology(int symbology) { m_symbology = symbology; }
    /// Size factor: one module is 2 x scale layout pixels.
    void Scale(float scale) { m_scale = scale; }
    /// Quiet zone around the symbol, in modules.
    void BorderWidth(int modules) { m_border = modules; }
    /// For QR Code, the error-correction level: 1 L, 2 M, 3 Q, 4 H (0 keeps the default, L).
    void Option1(int option) { m_option1 = option; }
    /// The screen's device pixel ratio the picture is drawn for; modules are rounded to whole
    /// device pixels so they stay sharp at fractional scaling.
    void setDevicePixelRatio(qreal ratio) { m_devicePixelRatio = ratio; }
    /// The area the picture must fit in, in layout pixels; empty (the default) sets no bound. A
    /// symbol too large for it at Scale and BorderWidth is drawn smaller, as
    /// pairing::fittedModuleSize says: fewer whole device pixels per module, and a quiet zone
    /// of at least 2 modules.
    void setMaximumSize(const QSize& area) { m_maximumSize = area; }

    /// Encodes every byte of `text` (UTF-8). `width`, `height` and `rotationAngle` must be 0: the
    /// symbol's natural size, unrotated. On failure Picture() is null and LastError() says why.
    void Encode(const QString& text, int width = 0, int height = 0, int rotationAngle = 0);

    /// The last encoded symbol, black on white, carrying the device pixel ratio it was drawn
    /// for; null before Encode() or after a failed one.
    QImage Picture() const { return m_picture; }

    int LastError() const { return m_lastError; }
    QString ErrorText() const { return m_errorText; }

private:
    void fail(ErrorCode code, const QString& text);

    int m_symbology = kQrCode;
    float m_scale = 1.0f;
    int m_border = 4;
    int m_option1 = 0;
    qreal m_devicePixelRatio = 1.0;
    QSize m_maximumSize;
    QImage m_picture;
    int m_lastError = NoError;
    QString m_errorText;
};

} // namespace pairing
