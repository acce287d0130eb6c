// The pairing payload, its placement, and the QR code a phone reads from it.
#include "pairing/BarcodeGenerator.h"
#include "pairing/PairingPayload.h"
#include "support/QrDecode.h"

#include <QTest>

using pairing::BarcodeGenerator;

namespace {

BarcodeGenerator encoded(const QString& text, float scale = 1.5f, int border = 4, int level = 2,
                         qreal ratio = 1.0, QSize area = QSize()) {
    BarcodeGenerator encoder;
    encoder.setDevicePixelRatio(ratio);
    encoder.setMaximumSize(area);
    encoder.Symbology(58);
    encoder.Scale(scale);
    encoder.BorderWidth(border);
    encoder.Option1(level);
    encoder.Encode(text, 0, 0, 0);
    return encoder;
}

} // namespace

class TestPairing : public QObject {
    Q_OBJECT

private slots:
    void payload();
    void canvasLeft_data();
    void canvasLeft();
    void decodesToTheText_data();
    void decodesToTheText();
    void moduleSize_data();
    void moduleSize();
    void longNamesFitTheCanvas_data();
    void longNamesFitTheCanvas();
    void failuresLeaveNoPicture_data();
    void failuresLeaveNoPicture();
};

void TestPairing::payload() {
    const QString text = pairing::pairingPayload("192.168.1.20", "alpha.126.key");
    QCOMPARE(text,
             QStringLiteral("<URL>http://192.168.1.20:10999/</URL><N>alpha.126.key</N>\r\n\r\n"));
    // Nothing is escaped.
    QVERIFY(pairing::pairingPayload("10.0.0.1", "a<&>b.126.key").contains("<N>a<&>b.126.key</N>"));
}

void TestPairing::canvasLeft_data() {
    QTest::addColumn<int>("window");
    QTest::addColumn<int>("picture");
    QTest::addColumn<QList<int>>("accepted");
    QTest::newRow("narrower picture") << 806 << 200 << QList<int>{303};
    QTest::newRow("wider picture") << 806 << 900 << QList<int>{-47};
    QTest::newRow("odd difference: either neighbour") << 806 << 123 << QList<int>{341, 342};
    QTest::newRow("same width") << 806 << 806 << QList<int>{0};
}

void TestPairing::canvasLeft() {
    QFETCH(int, window);
    QFETCH(int, picture);
    QFETCH(QList<int>, accepted);
    QVERIFY2(accepted.contains(pairing::canvasLeft(window, picture)),
             qPrintable(QString::number(pairing::canvasLeft(window, picture))));
}

void TestPairing::decodesToTheText_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("ecLevel");
    const QString address = QStringLiteral("192.168.1.20");
    QTest::newRow("payload, level M")
        << pairing::pairingPayload(address, "alpha.126.key") << 2 << "M";
    // Short enough that a generator left to itself would raise the level to Q or H.
    QTest::newRow("short text keeps M") << QStringLiteral("x") << 2 << "M";
    QTest::newRow("non-ASCII key name")
        << pairing::pairingPayload(address, "clé-été_Ünïcode.126.key") << 2 << "M";
    QTest::newRow("version above 4")
        << pairing::pairingPayload(address, QString(120, 'k') + ".126.key") << 2 << "M";
    QTest::newRow("level L") << QStringLiteral("hello") << 1 << "L";
    QTest::newRow("level H") << QStringLiteral("hello") << 4 << "H";
}

void TestPairing::decodesToTheText() {
    QFETCH(QString, text);
    QFETCH(int, level);
    QFETCH(QString, ecLevel);
    const BarcodeGenerator encoder = encoded(text, 1.5f, 4, level);
    QCOMPARE(encoder.LastError(), 0);
    const QList<DecodedQr> found = decodeQrCodes(encoder.Picture());
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().bytes, text.toUtf8());
    QCOMPARE(found.first().ecLevel, ecLevel);
}

void TestPairing::moduleSize_data() {
    QTest::addColumn<float>("scale");
    QTest::addColumn<int>("border");
    QTest::addColumn<qreal>("ratio");
    QTest::addColumn<int>("devicePixelsPerModule");
    QTest::newRow("1.5 at 100 %") << 1.5f << 4 << 1.0 << 3;
    QTest::newRow("1.0, no border") << 1.0f << 0 << 1.0 << 2;
    QTest::newRow("1.5 at 125 %") << 1.5f << 4 << 1.25 << 4;
    QTest::newRow("1.5 at 150 %") << 1.5f << 4 << 1.5 << 5;
    QTest::newRow("1.5 at 200 %") << 1.5f << 2 << 2.0 << 6;
}

// The picture is whole device pixels per module plus the quiet zone, at the screen's ratio.
void TestPairing::moduleSize() {
    QFETCH(float, scale);
    QFETCH(int, border);
    QFETCH(qreal, ratio);
    QFETCH(int, devicePixelsPerModule);
    const QString text = pairing::pairingPayload("192.168.1.20", "alpha.126.key");
    const QImage picture = encoded(text, scale, border, 2, ratio).Picture();
    const int modules = 33 + 2 * border; // 61 bytes at level M need version 4
    QCOMPARE(picture.width(), modules * devicePixelsPerModule);
    QCOMPARE(picture.height(), picture.width());
    QCOMPARE(picture.devicePixelRatio(), ratio);
    if (border >= 2) // a reader needs some quiet zone
        QCOMPARE(decodeQrCodes(picture).size(), 1);
    // The quiet zone is white, the first module of the finder pattern black.
    const int edge = border * devicePixelsPerModule;
    if (edge > 0) {
        QCOMPARE(qGray(picture.pixel(0, 0)), 255);
        QCOMPARE(qGray(picture.pixel(edge - 1, edge - 1)), 255);
    }
    QCOMPARE(qGray(picture.pixel(edge, edge)), 0);
}

void TestPairing::longNamesFitTheCanvas_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<qreal>("ratio");
    // Up to 255 bytes, the longest a file name may be; the last in 2- and 3-byte characters.
    for (const qreal ratio : {1.0, 1.5})
        for (const QString& name : {QString(156, 'k'), QString(192, 'k'), QString(247, 'k'),
                                    "clé-" + QString(80, QChar(0x9375)) + "é"})
            QTest::addRow("%s%d bytes at %d %%",
                          name.size() == name.toUtf8().size() ? "" : "UTF-8, ",
                          int(name.toUtf8().size()) + 8, qRound(ratio * 100))
                << name + ".126.key" << ratio;
}

// The canvas (545 x 195) draws the picture at its top-left corner: it must lie within and read.
void TestPairing::longNamesFitTheCanvas() {
    QFETCH(QString, key);
    QFETCH(qreal, ratio);
    const QString text = pairing::pairingPayload("192.168.1.20", key);
    const QImage picture = encoded(text, 1.5f, 4, 2, ratio, QSize(545, 195)).Picture();
    QVERIFY(picture.width() <= 545 * ratio && picture.height() <= 195 * ratio);
    const QList<DecodedQr> found = decodeQrCodes(picture);
    QCOMPARE(found.size(), 1);
    QCOMPARE(found.first().bytes, text.toUtf8());
    const QImage nominal = encoded(text, 1.5f, 4, 2, ratio).Picture();
    if (nominal.height() <= 195 * ratio) // what fits at the nominal size is drawn so
        QCOMPARE(picture, nominal);
}

void TestPairing::failuresLeaveNoPicture_data() {
    QTest::addColumn<int>("symbology");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("error");
    QTest::newRow("other symbology")
        << 20 << "hello" << int(BarcodeGenerator::UnsupportedSymbology);
    QTest::newRow("too long for any version")
        << 58 << QString(3000, QChar(0xe9)) << int(BarcodeGenerator::DataTooLong);
}

void TestPairing::failuresLeaveNoPicture() {
    QFETCH(int, symbology);
    QFETCH(QString, text);
    QFETCH(int, error);
    BarcodeGenerator encoder;
    encoder.Encode("first", 0, 0, 0);
    QVERIFY(!encoder.Picture().isNull());
    encoder.Symbology(symbology);
    encoder.Option1(2);
    encoder.Encode(text, 0, 0, 0);
    QVERIFY(encoder.Picture().isNull());
    QCOMPARE(encoder.LastError(), error);
    QVERIFY(!encoder.ErrorText().isEmpty());
}

QTEST_GUILESS_MAIN(TestPairing)
#include "tst_pairing.moc"
