// Draws the pairing code on the window's canvas, centred across the window: the picture a phone
// scans to fetch a key from this computer, or, with no network, why there is none.
#pragma once

#include <QString>

class Canvas;

class PairingCodeView {
public:
    /// A module is 2 x this layout pixels: 3 pixels at 100 %, large enough for a phone held at
    /// arm's length to resolve.
    static constexpr float kScale = 1.5f;
    /// The margin a reader needs to find the symbol's edges, in modules: the QR standard's.
    static constexpr int kQuietZone = 4;
    /// Error correction level M: room for a smudge or glare on the screen, at a modest size.
    static constexpr int kLevelM = 2;

    /// `canvas` lies in a window `windowWidth` layout pixels wide.
    PairingCodeView(Canvas* canvas, int windowWidth);

    /// Shows the code that takes a phone to key `keyName` at `address`; when `address` is a
    /// loopback one, which no phone could reach, a line saying so instead. On an encoding
    /// failure the canvas keeps what it showed.
    void show(const QString& address, const QString& keyName);

private:
    Canvas* m_canvas;
    int m_windowWidth;
};
