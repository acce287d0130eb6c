// The real program in a real X server: a phone's view of it, from the QR code on screen to the
// key bytes over a socket, and quitting through the File menu. With ZORVIK_WINDOWS_PROGRAM set
// to the Windows build's executable, the same checks run on it under Wine (WINEPREFIX set),
// with the key fetched over the address the code names.
#include "runtime/LocalAddress.h"
#include "support/ExpectedReplies.h"
#include "support/QrDecode.h"
#include "support/TestKeyFolder.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QTest>

namespace {

constexpr quint16 kPort = 10999;
using namespace expected;

// The Windows build's executable, run under Wine; empty for the native program.
QString windowsProgram() {
    return qEnvironmentVariable("ZORVIK_WINDOWS_PROGRAM");
}

// Wine keeps the Windows Documents folder as a link in its prefix; it is pointed at the test's
// home, as a Windows user's Documents folder would hold the keys.
bool pointWineDocumentsAt(const QString& home) {
    const QDir users(qEnvironmentVariable("WINEPREFIX") + QStringLiteral("/drive_c/users"));
    for (const QString& user : users.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString link = users.filePath(user + QStringLiteral("/Documents"));
        if (!QFileInfo(link).isSymLink())
            continue;
        return QFile::remove(link) && QFile::link(home + QStringLiteral("/Documents"), link);
    }
    return false;
}

// One GET over a fresh connection; everything until the server closes it.
QByteArray fetch(const QString& host, quint16 port, const QByteArray& path) {
    QTcpSocket socket;
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(5000))
        return "(no connection)";
    socket.write("GET " + path + " HTTP/1.1\r\nHost: " + host.toUtf8() + "\r\n\r\n");
    QByteArray reply;
    QDeadlineTimer deadline(10000);
    while (socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        socket.waitForReadyRead(100);
        reply += socket.readAll();
    }
    return reply + socket.readAll();
}

QString run(const QString& program, const QStringList& arguments, const QString& display,
            QByteArray* output = nullptr) {
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    // A minute: the first start of a Windows program in a fresh Wine prefix on a loaded machine
    // has taken more than twenty seconds to show its window.
    if (!process.waitForFinished(60000))
        return program + QStringLiteral(" did not finish");
    if (output)
        *output = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return program + QStringLiteral(" failed: ") +
               QString::fromLocal8Bit(process.readAllStandardError());
    return {};
}

// Pixels inside `area` that are neither pure black nor pure white.
int greyPixels(const QImage& image, const QRect& area) {
    int grey = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb rgb = image.pixel(x, y) & 0xffffff;
            grey += rgb != 0 && rgb != 0xffffff;
        }
    return grey;
}

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void phoneFetchesTheKeyItScanned();
    void noKeysFolderShowsNoCode();
    void codeReadableWhenScaled_data();
    void codeReadableWhenScaled();

private:
    bool startProgram(const QString& home, const QByteArray& scaleFactor = "1");
    bool quitThroughFileMenu();
    QImage screenshot();
    QByteArray shownPayload(QRect* bounds = nullptr, QImage* shown = nullptr);
    bool setDesktopDpi(int dpi);
    void key(const QString& keys);

    QProcess m_xvfb;
    QString m_display;
    QProcess m_program;
    QString m_window;
    bool m_desktopScaled = false;
};

void TestEndToEnd::initTestCase() {
    for (const char* tool : {"Xvfb", "xdotool", "xprop", "import"})
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QFAIL(qPrintable(QStringLiteral("%1 is not installed").arg(QLatin1String(tool))));
    int n = 140;
    while (QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)) ||
           QFileInfo::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)))
        ++n;
    m_display = QStringLiteral(":%1").arg(n);
    // Qt 5 scales by the screen's physical resolution unless the desktop says otherwise, so the
    // screen is exactly 96 dpi (Xvfb's own is 100); no reset when the last client leaves, so a
    // desktop setting made by one client stays for the program.
    m_xvfb.start(QStringLiteral("Xvfb"), {m_display, "-screen", "0", "1920x1440x24", "-dpi", "96",
                                          "-noreset", "-nolisten", "tcp"});
    QVERIFY(m_xvfb.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)), 10000);
}

void TestEndToEnd::cleanupTestCase() {
    m_xvfb.terminate();
    m_xvfb.waitForFinished(5000);
}

void TestEndToEnd::cleanup() {
    if (m_program.state() != QProcess::NotRunning) {
        m_program.kill();
        m_program.waitForFinished(5000);
    }
    if (m_desktopScaled && !windowsProgram().isEmpty()) {
        run(QStringLiteral("/usr/lib/wine/wine64"),
            {"reg", "delete", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/f"}, m_display);
        m_desktopScaled = false;
    } else if (m_desktopScaled) {
        run(QStringLiteral("xprop"), {"-root", "-remove", "RESOURCE_MANAGER"}, m_display);
        m_desktopScaled = false;
    }
}

// The desktop's scaling as desktop environments announce it to X11 programs, so a program
// scales as it would on a Windows desktop set to more than 100 %.
bool TestEndToEnd::setDesktopDpi(int dpi) {
    m_desktopScaled = true;
    // Windows keeps the display's scaling in the user's registry, read when a program starts.
    if (!windowsProgram().isEmpty())
        return run(QStringLiteral("/usr/lib/wine/wine64"),
                   {"reg", "add", "HKCU\\Control Panel\\Desktop", "/v", "LogPixels", "/t",
                    "REG_DWORD", "/d", QString::number(dpi), "/f"},
                   m_display)
            .isEmpty();
    return run(QStringLiteral("xprop"),
               {"-root", "-format", "RESOURCE_MANAGER", "8s", "-set", "RESOURCE_MANAGER",
                QStringLiteral("Xft.dpi:\t%1\n").arg(dpi)},
               m_display)
        .isEmpty();
}

bool TestEndToEnd::startProgram(const QString& home, const QByteArray& scaleFactor) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("DISPLAY"), m_display);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scaleFactor));
    env.remove(QStringLiteral("XDG_CONFIG_HOME"));
    m_program.setProcessChannelMode(QProcess::ForwardedChannels);
    if (windowsProgram().isEmpty()) {
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        m_program.setProcessEnvironment(env);
        m_program.start(QStringLiteral(ZORVIK_EXECUTABLE), QStringList());
    } else {
        // As on a Windows PC: nothing of Qt's but what lies beside the executable. Wine hands
        // WINEQT_ variables to the program under their plain names and keeps the host's QT_ ones.
        env.remove(QStringLiteral("WINEPATH"));
        env.insert(QStringLiteral("WINEQT_SCALE_FACTOR"), QString::fromLatin1(scaleFactor));
        if (!pointWineDocumentsAt(home))
            return false;
        m_program.setProcessEnvironment(env);
        m_program.start(QStringLiteral("/usr/lib/wine/wine64"), {windowsProgram()});
    }
    if (!m_program.waitForStarted())
        return false;

    QByteArray id;
    if (!run(QStringLiteral("xdotool"),
             {"search", "--sync", "--onlyvisible", "--name", "^Zorvik_QRCode$"}, m_display, &id)
             .isEmpty())
        return false;
    m_window = QString::fromLatin1(id.split('\n').first().trimmed());

    // The window is up; the server listened before the key list was filled. Under Wine the
    // window may be shown before the program gets that far, so a refusal is tried again.
    QDeadlineTimer deadline(10000);
    while (m_program.state() == QProcess::Running && !deadline.hasExpired()) {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, kPort);
        if (probe.waitForConnected(5000))
            return true;
        QTest::qWait(100);
    }
    return false;
}

void TestEndToEnd::key(const QString& keys) {
    QCOMPARE(run(QStringLiteral("xdotool"), {"windowfocus", "--sync", m_window}, m_display),
             QString());
    QCOMPARE(run(QStringLiteral("xdotool"), {"key", "--window", m_window, keys}, m_display),
             QString());
}

bool TestEndToEnd::quitThroughFileMenu() {
    if (!run(QStringLiteral("xdotool"), {"windowfocus", "--sync", m_window}, m_display).isEmpty() ||
        !run(QStringLiteral("xdotool"), {"key", "alt+f"}, m_display).isEmpty())
        return false;
    QTest::qWait(500);
    if (!run(QStringLiteral("xdotool"), {"key", "x"}, m_display).isEmpty())
        return false;
    return m_program.waitForFinished(10000) && m_program.exitStatus() == QProcess::NormalExit &&
           m_program.exitCode() == 0;
}

QImage TestEndToEnd::screenshot() {
    QByteArray png;
    const QString failure =
        run(QStringLiteral("import"), {"-display", m_display, "-window", m_window, "png:-"},
            m_display, &png);
    if (!failure.isEmpty())
        qWarning("%s", qPrintable(failure));
    return QImage::fromData(png, "PNG");
}

// The one code on screen, waited for a while: under Wine the window can be mapped before its
// first paint.
QByteArray TestEndToEnd::shownPayload(QRect* bounds, QImage* shown) {
    const QDeadlineTimer deadline(5000);
    QImage shot = screenshot();
    QList<DecodedQr> found = decodeQrCodes(shot);
    for (; found.size() != 1 && !deadline.hasExpired(); found = decodeQrCodes(shot = screenshot()))
        QTest::qWait(200);
    if (shown)
        *shown = shot;
    if (found.size() != 1)
        return QByteArray::number(found.size()) + " codes on screen";
    if (bounds)
        *bounds = found.first().bounds;
    return found.first().bytes;
}

void TestEndToEnd::phoneFetchesTheKeyItScanned() {
    // The program lists keys by the real clock.
    const int n = QDate::currentDate().year() - 1900;
    const QByteArray thisYear = QStringLiteral("alpha.%1.key").arg(n).toUtf8();
    const QByteArray nextYear = QStringLiteral("beta.%1.key").arg(n + 1).toUtf8();
    TestKeyFolder folder;
    QMap<QByteArray, QByteArray> texts;
    texts[thisYear] = folder.addKey(QString::fromUtf8(thisYear), 4100, 1);
    texts[nextYear] = folder.addKey(QString::fromUtf8(nextYear), 3200, 2);
    folder.addKey(QStringLiteral("old.%1.key").arg(n - 1));
    folder.write(QStringLiteral("notes.txt"), "not a key");
    QMap<QString, QDateTime> modified;
    for (const QFileInfo& info : QDir(folder.keys()).entryInfoList(QDir::Files))
        modified[info.fileName()] = info.lastModified();

    QVERIFY(startProgram(folder.home()));

    // Exactly one code on screen, centred across the window, naming a listed key.
    QRect bounds;
    QImage shot;
    const QByteArray first = shownPayload(&bounds, &shot);
    const QRegularExpression payloadPattern(
        QStringLiteral("^<URL>http://([^:/]+):(\\d+)/</URL><N>(.*)</N>\r\n\r\n$"));
    const QRegularExpressionMatch match = payloadPattern.match(QString::fromUtf8(first));
    QVERIFY2(match.hasMatch(), first.constData());
    QCOMPARE(shot.width(), 806);
    QVERIFY2(
        qAbs(bounds.left() + bounds.right() + 1 - shot.width()) <= 2,
        qPrintable(QStringLiteral("code spans %1..%2").arg(bounds.left()).arg(bounds.right())));
    QCOMPARE(match.captured(1), runtime::localLanAddress());
    QCOMPARE(match.captured(2), QStringLiteral("10999"));
    const QByteArray shownKey = match.captured(3).toUtf8();
    QVERIFY(texts.contains(shownKey));
    const QByteArray otherKey = shownKey == thisYear ? nextYear : thisYear;

    // The phone asks for what it scanned. The native program is reached over loopback: this
    // machine's own address may lie outside what the server serves. The Windows program runs
    // in a network namespace of the test's own, where the named address is a LAN's.
    const QString host =
        windowsProgram().isEmpty() ? QStringLiteral("127.0.0.1") : match.captured(1);
    const quint16 port = match.captured(2).toUShort();
    QCOMPARE(fetch(host, port, "/" + shownKey), wire(success(shownKey, texts[shownKey])));
    QCOMPARE(fetch(host, port, "/" + otherKey), wire(kNotSelected));

    // Choosing the other row with the keyboard rebuilds the code and changes what is served.
    key(QStringLiteral("Down"));
    QTRY_COMPARE_WITH_TIMEOUT(shownPayload(),
                              "<URL>http://" + runtime::localLanAddress().toUtf8() +
                                  ":10999/</URL><N>" + otherKey + "</N>\r\n\r\n",
                              5000);
    QCOMPARE(fetch(host, port, "/" + otherKey), wire(success(otherKey, texts[otherKey])));
    key(QStringLiteral("Up"));
    QTRY_COMPARE_WITH_TIMEOUT(shownPayload(), first, 5000);

    QVERIFY(quitThroughFileMenu());

    // The program only ever read the keys folder.
    for (const QFileInfo& info : QDir(folder.keys()).entryInfoList(QDir::Files)) {
        QVERIFY2(modified.contains(info.fileName()), qPrintable(info.fileName()));
        QCOMPARE(info.lastModified(), modified[info.fileName()]);
    }
    QCOMPARE(QDir(folder.keys()).entryList(QDir::Files).size(), modified.size());
}

void TestEndToEnd::noKeysFolderShowsNoCode() {
    TestKeyFolder home(false);
    QVERIFY(startProgram(home.home()));
    QCOMPARE(shownPayload(), QByteArray("0 codes on screen"));
    QCOMPARE(fetch("127.0.0.1", kPort, "/alpha.126.key"), wire(kNotSelected));
    QVERIFY(quitThroughFileMenu());
    QVERIFY(!QFileInfo::exists(home.documents()));
}

void TestEndToEnd::codeReadableWhenScaled_data() {
    QTest::addColumn<QByteArray>("factor");
    QTest::addColumn<int>("desktopDpi");
    QTest::newRow("125 % by Qt's scale factor") << QByteArray("1.25") << 96;
    QTest::newRow("150 % by the desktop's setting") << QByteArray("1") << 144;
}

// At fractional scaling the modules stay whole device pixels and the code stays centred.
void TestEndToEnd::codeReadableWhenScaled() {
    QFETCH(QByteArray, factor);
    QFETCH(int, desktopDpi);
    if (desktopDpi != 96)
        QVERIFY(setDesktopDpi(desktopDpi));
    const QString key = QStringLiteral("scaled.%1.key").arg(QDate::currentDate().year() - 1900);
    TestKeyFolder folder;
    folder.addKey(key);
    QVERIFY(startProgram(folder.home(), factor));
    QRect bounds;
    QImage shot;
    const QByteArray payload = shownPayload(&bounds, &shot);
    QCOMPARE(payload, "<URL>http://" + runtime::localLanAddress().toUtf8() + ":10999/</URL><N>" +
                          key.toUtf8() + "</N>\r\n\r\n");
    QCOMPARE(shot.width(), qRound(806 * factor.toDouble() * desktopDpi / 96));
    QVERIFY2(
        qAbs(bounds.left() + bounds.right() + 1 - shot.width()) <= 3,
        qPrintable(QStringLiteral("code spans %1..%2").arg(bounds.left()).arg(bounds.right())));
    // A module cut across device pixels would be smoothed into grey seams.
    QCOMPARE(greyPixels(shot, bounds), 0);
    QVERIFY(quitThroughFileMenu());
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
