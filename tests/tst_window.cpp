// The main window without a display: its build, its opening, its key list and pairing code.
#include "app/App.h"
#include "app/Canvas.h"
#include "app/MainMenuBar.h"
#include "app/NetworkCategoryQuery.h"
#include "app/Startup.h"
#include "app/StatusLine.h"
#include "app/Window1.h"
#include "pairing/PairingPayload.h"
#include "support/ManualClock.h"
#include "support/QrDecode.h"
#include "support/TestKeyFolder.h"

#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QEventLoop>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScreen>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>
#include <QTextLayout>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <utility>

#ifdef Q_OS_LINUX
#include <sched.h>
#endif

namespace {

using namespace std::chrono_literals;

// Inside the test's own network namespace, an address of this computer that is off every
// subnet the server counts as local (a /8 is wider than any it takes for one).
const QString kOffLan = QStringLiteral("198.51.100.7");

const QString kAddress = QStringLiteral("192.168.1.20");

// The only address of a veth in the test's own network, numbered from public space.
const QString kVethAddress = QStringLiteral("192.0.2.20");

// Sends a GET for `key` from `from`; whether the connection was then closed.
bool sendRequest(const QHostAddress& from, quint16 port, const QByteArray& key) {
    QTcpSocket socket;
    socket.bind(from);
    socket.connectToHost(from, port);
    socket.write("GET /" + key + " HTTP/1.1\r\n\r\n");
    return QTest::qWaitFor(
        [&socket] { return socket.state() == QAbstractSocket::UnconnectedState; });
}

// An adapter that is up and running with `address` ("a.b.c.d/prefix"); none for 127.0.0.1.
QList<runtime::InterfaceInfo> adapterWith(const QString& address, bool defaultRoute = false) {
    runtime::InterfaceInfo adapter;
    if (address.startsWith(QLatin1String("127."))) {
        // No network left but loopback, which the system always lists.
        adapter.up = adapter.running = adapter.loopback = true;
        adapter.addresses = {QHostAddress(QHostAddress::LocalHost)};
        return {adapter};
    }
    adapter.name = QStringLiteral("eth") + address;
    adapter.up = adapter.running = true;
    adapter.defaultRoute = defaultRoute;
    adapter.addresses = {QHostAddress(address.section(QLatin1Char('/'), 0, 0))};
    adapter.index = int(adapter.addresses.first().toIPv4Address() & 0xff);
    adapter.prefixLengths = {address.section(QLatin1Char('/'), 1).toInt()};
    return {adapter};
}

// A keys folder holding one.126.key and a window's options on it: the interfaces are
// `interfaces`, the clock stands still and the bell is counted.
struct Setup {
    explicit Setup(bool withKeysFolder = true)
        : folder(withKeysFolder) {
        if (withKeysFolder)
            folder.addKey(QStringLiteral("one.126.key"));
        options.documents = [this] { return runtime::FolderItem(folder.documents()); };
        options.currentYear = [] { return 2026; };
        options.interfaces = [this] { return interfaces; };
        options.bell = [this] { ++bells; };
        options.clock = &clock;
        options.port = 0;
    }

    TestKeyFolder folder;
    QList<runtime::InterfaceInfo> interfaces = adapterWith(kAddress);
    ManualClock clock;
    int bells = 0;
    Window1Options options;
};

QByteArray shownPayload(const Window1& window) {
    const QList<DecodedQr> found = decodeQrCodes(window.Canvas1()->backdrop());
    return found.size() == 1 ? found.first().bytes : QByteArray();
}

QByteArray payloadFor(const QString& key, const QString& address = kAddress) {
    return pairing::pairingPayload(address, key).toUtf8();
}

// How many times the canvas's content is replaced while the window reads the address five times.
int redrawsOverFiveReads(const Canvas* canvas, ManualClock& clock) {
    const auto content = [canvas] {
        return std::make_pair(canvas->backdrop().cacheKey(), canvas->message());
    };
    int redraws = 0;
    for (int read = 0; read < 5; ++read) {
        const auto before = content();
        clock.advance(runtime::AddressWatch::kInterval);
        redraws += content() != before ? 1 : 0;
    }
    return redraws;
}

// Dismisses every message box the application shows, as a user pressing OK would; keeps the
// first one's text and informative text.
struct MessageBoxWatch {
    MessageBoxWatch() {
        QObject::connect(&poll, &QTimer::timeout, [this] {
            for (QWidget* widget : QApplication::topLevelWidgets()) {
                if (auto* box = qobject_cast<QMessageBox*>(widget); box && box->isVisible()) {
                    if (first.isEmpty())
                        first = QStringList{box->text(), box->informativeText()};
                    ++count;
                    box->accept();
                }
            }
        });
        poll.start(5);
    }

    QStringList first;
    int count = 0;
    QTimer poll;
};

} // namespace

class TestWindow : public QObject {
    Q_OBJECT

private slots:
    void openingWithoutKeysFolder();
    void controlGeometry_data();
    void controlGeometry();
    void menuBar_data();
    void menuBar();
    void openingListsKeysAndDrawsOnce();
    void codeFollowsAddress_data();
    void codeFollowsAddress();
    void codeFollowsPixelRatio();
    void statusLine_data();
    void statusLine();
    void statusLineKeeps_data();
    void statusLineKeeps();
    void statusLinesFit();
    void publicNetworkHint_data();
    void publicNetworkHint();
    void peerRuleFollowsInterfaces();
    void listenErrorExplained_data();
    void listenErrorExplained();
    void closingQuitsWithZero();
};

// The application's objects; the window as built and shown, then opened without a keys folder
// (which folders count is the key list's test): the server listens all the same, no code is
// drawn and nothing is created.
void TestWindow::openingWithoutKeysFolder() {
    App* app = App::instance();
    QVERIFY(app);
    QCOMPARE(app->menuBar(), MainMenuBar::instance());
    QCOMPARE(app->version().shortVersion, QStringLiteral("1.0.1"));
    QCOMPARE(app->version().longVersion, QStringLiteral("1.0.1"));
    QCOMPARE(QApplication::applicationVersion(), QStringLiteral("1.0.1"));
    QCOMPARE(app->version().stageCode, 0);

    Setup setup(false);
    setup.folder.makeLayout(QStringLiteral("Documents/KELVANOR2/"));
    const QStringList before = setup.folder.homeEntries();
    Window1 window(setup.options);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(window.Canvas1()->accessibleName(), QStringLiteral("Aucun code QR"));
    QVERIFY(window.Canvas1()->accessibleDescription().startsWith(QStringLiteral("Aucun code")));
    QCOMPARE(QAccessible::queryAccessibleInterface(window.status())->role(),
             QAccessible::StatusBar);
    QCOMPARE(window.status()->accessibleName(), window.status()->text());
    QCOMPARE(window.version()->text(),
             QStringLiteral("Clef de signature à convertir en QR Code : "));
    QCOMPARE(window.Label1()->text(),
             QStringLiteral("Clef de signature à installer dans votre tablette ou téléphone :"));
    QVERIFY(window.Label2()->text().startsWith(QStringLiteral("Ce QR Code doit être scanné")));
    QVERIFY(window.Label2()->text().endsWith(QStringLiteral("de vos équipements.")));
    QVERIFY(window.Label2()->wordWrap());
    QVERIFY(!window.Label1()->wordWrap());
    QVERIFY(!window.version()->wordWrap());
    QCOMPARE(window.Label2()->textInteractionFlags(), Qt::NoTextInteraction);
    QCOMPARE(window.windowTitle(), QStringLiteral("Zorvik_QRCode"));
    QVERIFY(!window.mServer);

    // A fixed size; the canvas never takes focus: the key list is the keyboard's first stop.
    QCOMPARE(window.centralWidget()->size(), QSize(806, 340));
    QCOMPARE(window.width(), 806);
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!window.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    QVERIFY(window.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(window.windowFlags().testFlag(Qt::WindowCloseButtonHint));
    QCOMPARE(window.Canvas1()->focusPolicy(), Qt::NoFocus);
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QCOMPARE(QApplication::focusWidget(), window.PopupMenu1());

    window.open();
    QCOMPARE(window.version()->text(), QStringLiteral("1.0.1"));
    QCOMPARE(window.version()->accessibleName(), QStringLiteral("Version 1.0.1"));
    QVERIFY(window.fkeyfolderpath.isNull());
    QVERIFY(window.mServer && window.mServer->isListening());
    QCOMPARE(window.mServer->minimumSocketsAvailable(), 10);
    QCOMPARE(window.PopupMenu1()->count(), 0);
    QCOMPARE(window.PopupMenu1()->currentIndex(), -1);
    QVERIFY(sendRequest(QHostAddress::LocalHost, window.mServer->serverPort(), "one.126.key"));
    QTRY_VERIFY(
        window.status()->fullText().endsWith("aucune clef n'est choisie dans le programme."));
    QVERIFY(window.Canvas1()->backdrop().isNull());
    QCOMPARE(setup.folder.homeEntries(), before);
}

void TestWindow::controlGeometry_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<int>("grey"); // of the text
    QTest::newRow("Canvas1") << "Canvas1" << QRect(241, 109, 545, 195) << 57;
    QTest::newRow("PopupMenu1") << "PopupMenu1" << QRect(402, 11, 294, 20) << 0;
    QTest::newRow("Label1") << "Label1" << QRect(20, 11, 382, 20) << 0;
    QTest::newRow("Label2") << "Label2" << QRect(20, 43, 754, 54) << 57;
    QTest::newRow("version") << "version" << QRect(20, 316, 262, 20) << 71;
    QTest::newRow("status") << "status" << QRect(300, 316, 486, 20) << 71;
}

void TestWindow::controlGeometry() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QFETCH(int, grey);
    Setup setup;
    Window1 window(setup.options);
    window.show();
    auto* control = window.findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
    QCOMPARE(control->parentWidget(), window.centralWidget());
    QCOMPARE(control->palette().color(QPalette::WindowText), QColor(grey, grey, grey));
    if (auto* label = qobject_cast<QLabel*>(control))
        QCOMPARE(label->alignment(), Qt::AlignLeft | Qt::AlignTop);
}

void TestWindow::menuBar_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("shortcut");
    // clang-format off
    QTest::newRow("FileQuit") << "FileQuit" << "E&xit" << "";
    QTest::newRow("EditUndo") << "EditUndo" << "&Undo" << "Ctrl+Z";
    QTest::newRow("EditSeparator1") << "EditSeparator1" << "-" << "";
    QTest::newRow("EditCut") << "EditCut" << "Cu&t" << "Ctrl+X";
    QTest::newRow("EditCopy") << "EditCopy" << "&Copy" << "Ctrl+C";
    QTest::newRow("EditPaste") << "EditPaste" << "&Paste" << "Ctrl+V";
    QTest::newRow("EditClear") << "EditClear" << "&Delete" << "";
    QTest::newRow("EditSelectAll") << "EditSelectAll" << "Select &All" << "Ctrl+A";
    // clang-format on
}

void TestWindow::menuBar() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QString, shortcut);
    Setup setup;
    Window1 window(setup.options);
    QCOMPARE(window.menuBar(), MainMenuBar::instance());

    const QList<QAction*> bar = window.menuBar()->actions();
    QCOMPARE(bar.size(), 2);
    QCOMPARE(bar.at(0)->text(), QStringLiteral("&File"));
    QCOMPARE(bar.at(1)->text(), QStringLiteral("&Edit"));
    QCOMPARE(window.FileMenu()->actions(), QList<QAction*>{window.FileQuit()});
    QCOMPARE(window.EditMenu()->actions(),
             (QList<QAction*>{window.EditUndo(), window.EditSeparator1(), window.EditCut(),
                              window.EditCopy(), window.EditPaste(), window.EditClear(),
                              window.EditSeparator2(), window.EditSelectAll()}));

    QAction* item = window.menuBar()->findChild<QAction*>(name);
    QVERIFY(item);
    QCOMPARE(item->isSeparator() ? QStringLiteral("-") : item->text(), caption);
    QCOMPARE(item->shortcut().toString(QKeySequence::PortableText), shortcut);
    QVERIFY(item->isEnabled());
    QVERIFY(item->isVisible());
}

// This year's and next year's keys are listed and the first row's code drawn once; each
// selection draws its own, and a key deleted since start-up leaves the last code in place.
void TestWindow::openingListsKeysAndDrawsOnce() {
    Setup setup;
    for (const char* name :
         {"alpha.127.key", "alpha.125.key", ".126.key", "notes.txt", "alpha.126.key.bak"})
        setup.folder.addKey(QString::fromLatin1(name));
    Window1 window(setup.options);
    QComboBox* popup = window.PopupMenu1();
    QSignalSpy changes(popup, qOverload<int>(&QComboBox::currentIndexChanged));
    window.open();

    QStringList rows;
    for (int i = 0; i < popup->count(); ++i)
        rows << popup->itemText(i);
    std::sort(rows.begin(), rows.end());
    QCOMPARE(rows, (QStringList{"alpha.127.key", "one.126.key"}));
    QCOMPARE(popup->currentIndex(), 0);
    QCOMPARE(changes.size(), 1);
    QCOMPARE(shownPayload(window), payloadFor(popup->itemText(0)));
    QCOMPARE(decodeQrCodes(window.Canvas1()->backdrop()).first().ecLevel, QStringLiteral("M"));
    // Three pixels a module and four modules of quiet zone, centred across the 806-pixel window.
    const int pictureWidth = window.Canvas1()->backdrop().width();
    QCOMPARE(pictureWidth, (33 + 2 * 4) * 3);
    QVERIFY(qAbs(2 * window.Canvas1()->x() + pictureWidth - 806) <= 1);
    QCOMPARE(window.Canvas1()->y(), 109);

    popup->setCurrentIndex(1);
    QCOMPARE(shownPayload(window), payloadFor(popup->itemText(1)));
    QVERIFY(QFile::remove(setup.folder.keys() + '/' + popup->itemText(0)));
    popup->setCurrentIndex(0);
    QCOMPARE(shownPayload(window), payloadFor(popup->itemText(1)));
}

void TestWindow::codeFollowsAddress_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<int>("redraws");
    QTest::newRow("address unchanged") << kAddress << kAddress << 0;
    QTest::newRow("joined another network") << kAddress << "10.0.0.7" << 1;
    QTest::newRow("address renewed") << kAddress << "192.168.1.21" << 1;
    QTest::newRow("every network left") << kAddress << "127.0.0.1" << 1;
    QTest::newRow("network joined after start") << "127.0.0.1" << kAddress << 1;
}

void TestWindow::codeFollowsAddress() {
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(int, redraws);
    Setup setup;
    setup.folder.addKey(QStringLiteral("two.127.key"));
    setup.interfaces = adapterWith(before);
    Window1 window(setup.options);
    window.open();
    window.PopupMenu1()->setCurrentIndex(1);
    const QString key = window.PopupMenu1()->currentText();
    Canvas* canvas = window.Canvas1();

    setup.interfaces = adapterWith(after);
    QCOMPARE(redrawsOverFiveReads(canvas, setup.clock), redraws);
    QCOMPARE(window.PopupMenu1()->currentIndex(), 1);
    if (after == QLatin1String("127.0.0.1")) {
        // One line in place of the code, the canvas centred across the window.
        QVERIFY(canvas->backdrop().isNull());
        QVERIFY(!canvas->message().isEmpty());
        QCOMPARE(canvas->accessibleDescription(), canvas->message());
        QCOMPARE(canvas->accessibleName(), QStringLiteral("Aucun code QR"));
        QVERIFY(decodeQrCodes(canvas->grab().toImage()).isEmpty());
        QVERIFY(qAbs(2 * canvas->x() + canvas->width() - window.width()) <= 1);
    } else {
        QVERIFY(canvas->message().isEmpty());
        QCOMPARE(shownPayload(window), payloadFor(key, after));
        // What a screen reader says of the code follows it too.
        QVERIFY(canvas->accessibleDescription().contains(after));
        QCOMPARE(canvas->accessibleName(), QStringLiteral("Code QR"));
    }
}

// Moved to a screen with another scale: the code is drawn again for the new device pixel ratio.
void TestWindow::codeFollowsPixelRatio() {
    const QList<QScreen*> screens = QGuiApplication::screens();
    if (screens.size() < 2)
        QSKIP("this platform plugin offers a single screen");
    Setup setup;
    Window1 window(setup.options);
    window.open();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QByteArray payload = shownPayload(window);
    QCOMPARE(payload, payloadFor(QStringLiteral("one.126.key")));

    for (QScreen* screen : {screens.at(1), screens.at(0)}) {
        window.windowHandle()->setScreen(screen);
        const qreal ratio = screen->devicePixelRatio();
        QTRY_COMPARE(window.Canvas1()->backdrop().devicePixelRatio(), ratio);
        QCOMPARE(shownPayload(window), payload);
        const QImage picture = window.Canvas1()->backdrop();
        QVERIFY(qAbs(2 * window.Canvas1()->x() + picture.width() / picture.devicePixelRatio() -
                     806) <= 1);
    }
}

void TestWindow::statusLine_data() {
    QTest::addColumn<QString>("fromText");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("bells");
    const QString at = QStringLiteral("^\\d\\d:\\d\\d:\\d\\d – ");
    QTest::newRow("key sent") << QStringLiteral("127.0.0.1")
                              << at + "Clef «\u202Fone.126.key\u202F» envoyée à 127.0.0.1\\.$" << 1;
    QTest::newRow("refused: off the local network")
        << kOffLan
        << at + "Appareil 198.51.100.7 refusé\u00A0: il doit être sur le réseau de ce PC\\.$" << 0;
    QTest::newRow("a veth that carries the only address serves its subnet")
        << kVethAddress << at + "Clef .* envoyée à 192.0.2.20\\.$" << 1;
}

// What the last device did, at once after a quiet spell (how bursts are counted is the
// coalescer's own test).
void TestWindow::statusLine() {
    QFETCH(QString, fromText);
    const QHostAddress from(fromText);
    QFETCH(QString, shown);
    QFETCH(int, bells);
    if (!QTcpSocket().bind(from))
        QSKIP("the test's own network namespace needs root");
    Setup setup;
    // The peer rule on the test's own network: loopback, an address off it, a veth.
    setup.options.interfaces = &runtime::systemInterfaces;
    Window1 window(setup.options);
    window.open();
    QCOMPARE(window.status()->text(), QStringLiteral("En attente de votre téléphone ou tablette…"));
    QSignalSpy changes(window.status(), &StatusLine::changed);
    QVERIFY(sendRequest(from, window.mServer->serverPort(), "one.126.key"));
    QTRY_COMPARE(changes.size(), 1);
    const QString said = window.status()->fullText().remove(QChar(0x2068)).remove(QChar(0x2069));
    QVERIFY2(QRegularExpression(shown).match(said).hasMatch(), qPrintable(said));
    QCOMPARE(setup.bells, bells);
    QCOMPARE(changes.last().first().toString(), window.status()->fullText());
}

void TestWindow::statusLineKeeps_data() {
    using Outcome = server::DeviceEvent::Outcome;
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QByteArray>("keyName");
    QTest::addColumn<QString>("peer"); // the last; each event before it from an address of its own
    QTest::addColumn<int>("reports");
    QTest::addColumn<QString>("shown");
    const QString v6 = QStringLiteral("fd38:5560:2948:7310:4806:9520:8836:2057");
    const QString sent = QStringLiteral("10:43:10 – Clef «\u202F\u2068%1\u2069\u202F» envoyée à "
                                        "\u206810.78.0.3\u2069 (et 1 autre).");
    QTest::newRow("burst of 30 from a full IPv6 address")
        << int(Outcome::NotSelected) << QByteArray("beta.126.key") << v6 << 30
        << "\u2068fd38:…:8836:2057\u2069\u00A0: pas la clef choisie\u202F; scannez de nouveau le "
           "code (+29).";
    QTest::newRow("refused public IPv4 address in a burst")
        << int(Outcome::Refused) << QByteArray() << "93.184.216.34" << 8
        << "Appareil \u206893.184.216.34\u2069 refusé\u00A0: il doit être sur le réseau de ce PC "
           "(et 7 autres).";
    QTest::newRow("255-byte key name sent to a full IPv6 address")
        << int(Outcome::KeySent) << "<b>" + QByteArray(244, 'W') + ".126.key" << v6 << 2
        << "Clef «\u202F\u2068<b>…key\u2069\u202F» envoyée à \u2068" + v6 + "\u2069 (+1).";
    QTest::newRow("flood from 150 addresses, the reply's words set as French prints them")
        << int(Outcome::NotFound) << QByteArray("x.126.key") << v6 << 150
        << "\u2068fd38:…:8836:2057\u2069\u00A0: La clef demandée est introuvable sur l'ordinateur "
           "(+149)\u202F!";
    QTest::newRow("right-to-left override in a long name, which alone gives way")
        << int(Outcome::KeySent) << "evil\u202E" + QByteArray(60, 'a') + ".126.key"
        << "10.78.0.3" << 2 << sent.arg("evil\uFFFDaaaaaa…aaa.126.key");
    QTest::newRow("line feed in the name") << int(Outcome::KeySent) << QByteArray("a\nb.126.key")
                                           << "10.78.0.3" << 2 << sent.arg("a\uFFFDb.126.key");
    QTest::newRow("tab in the name") << int(Outcome::KeySent) << QByteArray("a\tb c.126.key")
                                     << "10.78.0.3" << 2 << sent.arg("a\uFFFDb c.126.key");
    QTest::newRow("a name made only of controls, the pairs that close inside it kept")
        << int(Outcome::KeySent)
        << QByteArray("\x01\x7f\u009F\u2028\u202A\u2066\u202E\u2069\u202C"
                      "\u2069\u2068\u202C\u2069\u202B\u202D\u202C\u202C\u202C")
        << "10.78.0.3" << 2
        << sent.arg("\uFFFD\uFFFD\uFFFD\uFFFD\u202A\u2066\uFFFD\u2069\u202C\uFFFD"
                    "\u2068\uFFFD\u2069\u202B\u202D\u202C\u202C\uFFFD");
}

// Whatever a device sent, the line keeps its words and address in their order, as plain text;
// the time, read on the clock, and the whole line stay for the tooltip and assistive technology.
void TestWindow::statusLineKeeps() {
    QFETCH(int, outcome);
    QFETCH(QByteArray, keyName);
    QFETCH(QString, peer);
    QFETCH(int, reports);
    QFETCH(QString, shown);
    ManualClock clock;
    StatusLine line(100ms, clock);
    line.resize(486, 20);
    clock.advance(1h + 2min + 3s);
    for (int i = 1; i <= reports; ++i)
        line.report({server::DeviceEvent::Outcome(outcome), keyName,
                     i == reports ? QHostAddress(peer) : QHostAddress(quint32(0x0A000000 + i))});
    clock.advance(100ms);
    const QString text = line.text();
    QCOMPARE(text, shown);
    QVERIFY(line.fontMetrics().horizontalAdvance(text) <= 486);
    QVERIFY2(line.fullText().startsWith("10:43:10 – "), qPrintable(line.fullText()));
    QCOMPARE(line.textFormat(), Qt::PlainText);
    QCOMPARE(line.toolTip(),
             text == line.fullText() ? QString() : Qt::convertFromPlainText(line.fullText()));
    // Nothing in a name reorders the words after it: laid out, they take their own width.
    const int after = static_cast<int>(text.indexOf(QChar(0x2069))) + 1;
    QTextLayout layout(text, line.font());
    layout.beginLayout();
    const QTextLine laid = layout.createLine();
    layout.endLayout();
    QCOMPARE(qRound(laid.cursorToX(static_cast<int>(text.size())) - laid.cursorToX(after)),
             line.fontMetrics().horizontalAdvance(text.mid(after)));
}

// With an IPv4 address and a key name of 20 characters, every line the program writes fits.
void TestWindow::statusLinesFit() {
    using Outcome = server::DeviceEvent::Outcome;
    const auto fits = [](const auto& report) {
        StatusLine line(1h);
        line.resize(486, 20);
        report(line);
        return line.text() == line.fullText() &&
               line.fontMetrics().horizontalAdvance(line.text()) <= 486;
    };
    for (int outcome = int(Outcome::KeySent); outcome <= int(Outcome::Refused); ++outcome)
        QVERIFY(fits([outcome](StatusLine& line) {
            line.report({Outcome(outcome), "abcdefghijkl.126.key", QHostAddress(kAddress)});
        }));
    for (auto error : {QAbstractSocket::AddressInUseError, QAbstractSocket::SocketAccessError,
                       QAbstractSocket::UnknownSocketError})
        QVERIFY(fits([error](StatusLine& line) { line.reportStopped(error); }));
    QVERIFY(fits([](StatusLine& line) { line.reportPublicNetwork(true); }));
}

void TestWindow::publicNetworkHint_data() {
    QTest::addColumn<int>("category");
    QTest::addColumn<bool>("hinted");
    QTest::newRow("public") << int(runtime::NetworkCategory::Public) << true;
    QTest::newRow("unknown, as off Windows") << int(runtime::NetworkCategory::Unknown) << false;
}

// Asked of the advertised address at start and whenever it changes; shown until a device is
// served.
void TestWindow::publicNetworkHint() {
    QFETCH(int, category);
    QFETCH(bool, hinted);
    Setup setup;
    std::atomic<int> asked{0}; // on a worker thread
    int answers = 0;
    setup.options.networkCategory = [&](int interfaceIndex) {
        asked = interfaceIndex;
        return runtime::NetworkCategory(category);
    };
    Window1 window(setup.options);
    QObject::connect(window.findChild<NetworkCategoryQuery*>(), &NetworkCategoryQuery::answered,
                     [&answers] { ++answers; });
    window.open();
    QTRY_COMPARE(answers, 1);
    QCOMPARE(asked, 20); // the adapter of 192.168.1.20
    QCOMPARE(window.status()->fullText().startsWith("Réseau public"), hinted);
    QVERIFY(sendRequest(QHostAddress::LocalHost, window.mServer->serverPort(), "one.126.key"));
    QTRY_VERIFY(window.status()->fullText().contains(QStringLiteral("envoyée")));
    setup.interfaces = adapterWith(QStringLiteral("10.0.0.7"));
    setup.clock.advance(runtime::AddressWatch::kInterval);
    QTRY_COMPARE(answers, 2);
    QCOMPARE(asked, 7);
    QCOMPARE(window.status()->fullText().startsWith("Réseau public"), hinted);
    QCOMPARE(window.status()->text().contains(QStringLiteral("Paramètres")), hinted);
    // Once a device was served, the line says so until something else happens.
    QCOMPARE(window.status()->fullText().contains(QStringLiteral("envoyée")), !hinted);
}

// An adapter added beside the advertised one, the address unchanged: its subnet is served once
// the watch sees it, and each look at the interfaces is the only read for the code and the rule.
void TestWindow::peerRuleFollowsInterfaces() {
    if (!QTcpSocket().bind(QHostAddress(kOffLan)))
        QSKIP("the test's own network namespace needs root");
    Setup setup;
    setup.interfaces = adapterWith(kAddress + "/24", true);
    Window1 window(setup.options);
    window.open();
    QVERIFY(sendRequest(QHostAddress(kOffLan), window.mServer->serverPort(), "one.126.key"));
    QTRY_VERIFY(window.status()->fullText().contains(QStringLiteral("refusé")));
    const QByteArray code = shownPayload(window);
    setup.interfaces += adapterWith(kOffLan + "/24");
    setup.clock.advance(runtime::AddressWatch::kInterval);
    QCOMPARE(shownPayload(window), code);
    QVERIFY(sendRequest(QHostAddress(kOffLan), window.mServer->serverPort(), "one.126.key"));
    QTRY_VERIFY(window.status()->fullText().contains(QStringLiteral("envoyée")));

    // Every read now differs from the last: each is one change, and the code shows its address.
    int next = 0;
    setup.options.interfaces = [&next] {
        return adapterWith(QStringLiteral("10.0.%1.1").arg(++next));
    };
    Window1 moving(setup.options);
    moving.open();
    setup.clock.advance(3 * runtime::AddressWatch::kInterval);
    QCOMPARE(next, 4);
    const QString said = moving.Canvas1()->accessibleDescription();
    QVERIFY2(said.contains(QStringLiteral("l'adresse 10.0.%1.1.").arg(next)), qPrintable(said));
}

void TestWindow::listenErrorExplained_data() {
    QTest::addColumn<bool>("portTaken");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("advice");
    QTest::newRow("port taken, another copy running")
        << true << int(QAbstractSocket::AddressInUseError)
        << "une autre copie de ce programme restée ouverte";
    QTest::newRow("port reserved by the system")
        << false << int(QAbstractSocket::SocketAccessError)
        << "netsh interface ipv4 show excludedportrange protocol=tcp";
    QTest::newRow("unknown failure, negative code")
        << false << int(QAbstractSocket::UnknownSocketError) << "Fermez-le puis relancez-le";
}

// The server's text with the code as it is, and beneath it what the user can do.
void TestWindow::listenErrorExplained() {
    QFETCH(bool, portTaken);
    QFETCH(int, code);
    QFETCH(QString, advice);
    Setup setup;
    QTcpServer occupant;
    if (portTaken) {
        QVERIFY(occupant.listen(QHostAddress::Any, 0));
        setup.options.port = occupant.serverPort();
    }
    MessageBoxWatch watch;
    Window1 window(setup.options);
    window.open();
    // Failures the test cannot cause are reported the way the server reports them.
    QTcpSocket phone;
    if (!portTaken) {
        QVERIFY(window.mServer->isListening());
        phone.connectToHost(QHostAddress::LocalHost, window.mServer->serverPort());
        QVERIFY(phone.waitForConnected(5000));
        window.mServer->Error(QAbstractSocket::SocketError(code));
    }

    QTRY_VERIFY(!watch.first.isEmpty());
    QCOMPARE(watch.first.at(0), QStringLiteral("Server Error: %1").arg(code));
    QVERIFY2(watch.first.at(1).contains(advice), qPrintable(watch.first.at(1)));
    QVERIFY(!window.mServer->isListening());
    QVERIFY(window.status()->fullText().contains(QStringLiteral("Aucun appareil servi")));
    // A second box, even one posted for later, would be shown and counted here.
    QCoreApplication::processEvents();
    QCOMPARE(watch.count, 1);
    if (portTaken)
        return;
    // A phone connected before the stop is still answered, and the line says so once the
    // burst interval has passed.
    phone.write("GET /x.126.key HTTP/1.1\r\n\r\n");
    QTRY_VERIFY(phone.bytesAvailable() > 0);
    setup.clock.advance(setup.options.burstInterval);
    QVERIFY(window.status()->fullText().contains("127.0.0.1\u2069\u00A0: pas la clef choisie"));
}

// Must stay the last test: once the application has been told to quit, no event loop of this
// process runs again. File > Exit is driven in the end-to-end test.
void TestWindow::closingQuitsWithZero() {
    Setup setup;
    Window1 window(setup.options);
    window.open();
    QEventLoop loop;
    QTimer::singleShot(0, &window, [&] { window.close(); });
    QTimer::singleShot(5000, &loop, [&] { loop.exit(42); });
    QCOMPARE(loop.exec(), 0);
}

int main(int argc, char** argv) {
#ifdef Q_OS_LINUX
    // A network of the test's own, where a peer can come from off the local network.
    if (::unshare(CLONE_NEWNET) == 0 &&
        std::system(qPrintable("ip link set lo up && ip addr add " + kOffLan +
                               "/8 dev lo && ip link add veth0 type veth peer name veth1 && "
                               "ip link set veth0 up && ip link set veth1 up && ip addr add " +
                               kVethAddress + "/24 dev veth0")) != 0)
        return 1;
#endif
    // Two screens, the second at 150 %, so a window can be moved to another pixel ratio.
    QTemporaryDir config;
    const QString screens = config.filePath(QStringLiteral("screens.json"));
    QFile file(screens);
    if (!file.open(QIODevice::WriteOnly) || file.write(R"({"screens": [
            {"name": "normal", "x": 0, "y": 0, "width": 1280, "height": 1024, "dpr": 1},
            {"name": "scaled", "x": 1280, "y": 0, "width": 1280, "height": 1024, "dpr": 1.5}]})") <
                                                0)
        return 1;
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(screens));
    std::unique_ptr<App> app(NewAppInstance(argc, argv));
    // What fits the status line is measured in the usual 9 points at 96 dpi (12 pixels),
    // whatever the platform plugin picks (Qt 5's offscreen one takes 12 points at its own dpi).
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    QApplication::setFont(font);
    TestWindow test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_window.moc"
