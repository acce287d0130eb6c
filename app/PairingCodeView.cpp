// The pairing code as the window shows it.
#include "app/PairingCodeView.h"

#include "app/Canvas.h"
#include "pairing/BarcodeGenerator.h"
#include "pairing/PairingPayload.h"

#include <QHostAddress>

namespace {

// Shown in place of the pairing code while loopback is the only address: no phone could use it.
const QString kNoNetwork = QStringLiteral(
    "Aucun réseau local\u00A0: reliez cet ordinateur au réseau de votre tablette ou téléphone.");

} // namespace

PairingCodeView::PairingCodeView(Canvas* canvas, int windowWidth)
    : m_canvas(canvas)
    , m_windowWidth(windowWidth) {}

void PairingCodeView::show(const QString& address, const QString& keyName) {
    if (QHostAddress(address).isLoopback()) {
        m_canvas->move(pairing::canvasLeft(m_windowWidth, m_canvas->width()), m_canvas->y());
        m_canvas->setMessage(kNoNetwork);
        return;
    }

    pairing::BarcodeGenerator encoder;
    encoder.setDevicePixelRatio(m_canvas->devicePixelRatioF());
    // A long key name makes a code taller than the canvas, whose bottom would be cut off.
    encoder.setMaximumSize(m_canvas->size());
    encoder.Symbology(pairing::BarcodeGenerator::kQrCode);
    encoder.Scale(kScale);
    encoder.BorderWidth(kQuietZone);
    encoder.Option1(kLevelM);
    encoder.Encode(pairing::pairingPayload(address, keyName), 0, 0, 0);

    const QImage picture = encoder.Picture();
    if (picture.isNull())
        return;
    // Layout pixels, not device pixels; spelled out because Qt 5 has no deviceIndependentSize().
    const int pictureWidth = qRound(picture.width() / picture.devicePixelRatio());
    m_canvas->move(pairing::canvasLeft(m_windowWidth, pictureWidth), m_canvas->y());
    m_canvas->setBackdrop(picture);
    m_canvas->setAccessibleDescription(
        QStringLiteral("Clef %1, à télécharger depuis l'adresse %2. Scannez ce code avec "
                       "l'application Zorvik de votre téléphone ou tablette.")
            .arg(keyName, address));
}
