// The key server's answers, byte for byte, to every kind of request the phone or others send.
#include "runtime/ExtendedPath.h"
#include "server/RequestHandler.h"
#include "support/DecidedReply.h"
#include "support/ExpectedReplies.h"
#include "support/TestKeyFolder.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <utility>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace expected;
using server::RequestHandler;

namespace {

const QByteArray kNoReply = "(no reply)";

// Key text in a single-byte code page: ASCII with "©" (0xA9 in Windows-1252, a continuation byte
// in UTF-8) at every eighth byte.
QByteArray codePageText(int bytes) {
    QByteArray text = keyText(bytes);
    for (int i = 7; i < bytes; i += 8)
        text[i] = '\xa9';
    return text;
}

QByteArray get(const QByteArray& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: 192.168.1.20:10999\r\nAccept: */*\r\n\r\n";
}

} // namespace

class TestRequestHandler : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void errorBodyLengths();
    void replies_data();
    void replies();
    void keyPathInExtendedForm_data();
    void keyPathInExtendedForm();

private:
    TestKeyFolder m_folder;
    QString m_selected;
    RequestHandler m_handler{server::KeySource{
        [this] { return m_selected; },
        [this] { return m_folder.keysItem(); },
    }};
    QByteArray m_alpha;
};

void TestRequestHandler::initTestCase() {
    m_alpha = m_folder.addKey(QStringLiteral("alpha.126.key"), 4000);
    for (const int size : {0, 3000, 3001, 4999, 5000})
        m_folder.addKey(QStringLiteral("k%1.126.key").arg(size), size, size);
    // 3001 two-byte characters: 6002 bytes, but a valid key by its characters.
    m_folder.write(QStringLiteral("accent.126.key"), QByteArray("\xc3\xa9").repeated(3001));
    m_folder.write(QStringLiteral("huge.126.key"), QByteArray(30000, 'A'));
    m_folder.write(QStringLiteral("cp3001.126.key"), codePageText(3001));
    m_folder.write(QStringLiteral("emoji.126.key"), QByteArray("\xf0\x9f\x94\x91").repeated(4999));
    m_folder.write(QStringLiteral("stray.126.key"), QByteArray("\xc3\xa9").repeated(2000) + '\xe9');
    m_folder.write(QStringLiteral("overlong.126.key"), QByteArray("\xc0\xaf").repeated(2000));
    if (!fileNamesIgnoreCase()) {
        m_folder.addKey(QStringLiteral("twin.126.key"), 3100, 1);
        m_folder.addKey(QStringLiteral("TWIN.126.key"), 3200, 2);
    }
    m_folder.addKey(QStringLiteral("Beta.126.key"), 3500, 7);
    QVERIFY(QDir(m_folder.keys()).mkdir(QStringLiteral("dir.126.key")));
#ifdef Q_OS_UNIX
    QVERIFY(::mkfifo(QFile::encodeName(m_folder.keys() + "/fifo.126.key").constData(), 0600) == 0);
#endif
#ifdef Q_OS_LINUX
    // A regular file whose read fails part-way: reading this process's memory at offset 0.
    QVERIFY(QFile::link(QStringLiteral("/proc/self/mem"), m_folder.keys() + "/mem.126.key"));
#endif
}

// Guards the expectations below: the lengths the phone app was written against.
void TestRequestHandler::errorBodyLengths() {
    const std::pair<QByteArray, int> lengths[] = {
        {kNoPath, 49},     {kNoKey, 49},   {kNotSelected, 117}, {kNotFound, 79},
        {kUnreadable, 71}, {kBadSize, 69}, {kUnknown, 41}};
    for (const auto& [body, length] : lengths)
        QCOMPARE(body.size(), length);
}

void TestRequestHandler::replies_data() {
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("body");

    const QString alpha = QStringLiteral("alpha.126.key");
    // clang-format off
    QTest::newRow("selected key") << alpha << get("/alpha.126.key") << success("alpha.126.key", m_alpha);
    QTest::newRow("mixed-case method") << alpha << QByteArray("gEt /alpha.126.key HTTP/1.1\r\n\r\n") << success("alpha.126.key", m_alpha);
    QTest::newRow("line ends in LF only") << alpha << QByteArray("GET /alpha.126.key HTTP/1.1\nHost: x\n\n") << success("alpha.126.key", m_alpha);
    QTest::newRow("LF right after the path") << alpha << QByteArray("GET /alpha.126.key\nHost: x\n") << kNotSelected;
    QTest::newRow("two requests in one piece") << alpha << get("/other.126.key") + get("/alpha.126.key") << kNotSelected;
    QTest::newRow("root path") << alpha << get("/") << kNoKey;
    QTest::newRow("method alone") << alpha << QByteArray("GET\r\n\r\n") << kNoPath;
    QTest::newRow("two spaces before the path") << alpha << QByteArray("GET  /alpha.126.key HTTP/1.1\r\n") << kNoPath;
    QTest::newRow("path without slash") << alpha << get("alpha.126.key") << kNoPath;
    QTest::newRow("not selected and missing: -4 first") << alpha << get("/missing.126.key") << kNotSelected;
    QTest::newRow("nothing selected") << QString() << get("/alpha.126.key") << kNotSelected;
    QTest::newRow("query part kept") << alpha << get("/alpha.126.key?x=1") << kNotSelected;
    QTest::newRow("plus kept") << QStringLiteral("a b.126.key") << get("/a+b.126.key") << kNotSelected;
    QTest::newRow("escape looked up undecoded") << QStringLiteral("alpha%2E126.key") << get("/alpha%2E126.key") << kNotFound;
    QTest::newRow("path traversal") << QStringLiteral("../Clefs2/alpha.126.key") << get("/../Clefs2/alpha.126.key") << kNotFound;
    QTest::newRow("deleted after listing") << QStringLiteral("gone.126.key") << get("/gone.126.key") << kNotFound;
    // Only the selection's own name is looked up; a case-insensitive file system finds it.
    QTest::newRow("case differs, only the request's name has a file") << QStringLiteral("beta.126.KEY") << get("/Beta.126.key") << (fileNamesIgnoreCase() ? success("Beta.126.key", keyText(3500, 7)) : kNotFound);
    QTest::newRow("case differs, only the selected entry's file") << alpha << get("/ALPHA.126.KEY") << success("ALPHA.126.KEY", m_alpha);
    QTest::newRow("case differs, selected entry's file gone") << QStringLiteral("gone.126.key") << get("/GONE.126.key") << kNotFound;
    // Two names that differ only in case are one file where the file system ignores case.
    if (!fileNamesIgnoreCase()) {
        QTest::newRow("two files differing in case, upper-case request") << QStringLiteral("twin.126.key") << get("/TWIN.126.key") << success("TWIN.126.key", keyText(3100, 1));
        QTest::newRow("two files differing in case, lower-case request") << QStringLiteral("TWIN.126.key") << get("/twin.126.key") << success("twin.126.key", keyText(3200, 2));
        QTest::newRow("two files differing in case, neither exact") << QStringLiteral("twin.126.key") << get("/Twin.126.KEY") << success("Twin.126.KEY", keyText(3100, 1));
    }
    QTest::newRow("directory named like the key") << QStringLiteral("dir.126.key") << get("/dir.126.key") << kUnreadable;
#ifdef Q_OS_UNIX
    QTest::newRow("FIFO named like the key") << QStringLiteral("fifo.126.key") << get("/fifo.126.key") << kUnreadable;
#endif
    QTest::newRow("empty key") << QStringLiteral("k0.126.key") << get("/k0.126.key") << kBadSize;
    QTest::newRow("3000 characters") << QStringLiteral("k3000.126.key") << get("/k3000.126.key") << kBadSize;
    QTest::newRow("3001 characters") << QStringLiteral("k3001.126.key") << get("/k3001.126.key") << success("k3001.126.key", keyText(3001, 3001));
    QTest::newRow("4999 characters") << QStringLiteral("k4999.126.key") << get("/k4999.126.key") << success("k4999.126.key", keyText(4999, 4999));
    QTest::newRow("5000 characters") << QStringLiteral("k5000.126.key") << get("/k5000.126.key") << kBadSize;
    QTest::newRow("3001 two-byte characters") << QStringLiteral("accent.126.key") << get("/accent.126.key") << success("accent.126.key", QByteArray("\xc3\xa9").repeated(3001));
    QTest::newRow("UTF-8: 4999 four-byte characters") << QStringLiteral("emoji.126.key") << get("/emoji.126.key") << success("emoji.126.key", QByteArray("\xf0\x9f\x94\x91").repeated(4999));
    QTest::newRow("code page: 3001 bytes") << QStringLiteral("cp3001.126.key") << get("/cp3001.126.key") << success("cp3001.126.key", codePageText(3001));
    QTest::newRow("UTF-8 with one stray code-page byte") << QStringLiteral("stray.126.key") << get("/stray.126.key") << success("stray.126.key", QByteArray("\xc3\xa9").repeated(2000) + '\xe9');
    QTest::newRow("overlong sequences count as bytes") << QStringLiteral("overlong.126.key") << get("/overlong.126.key") << success("overlong.126.key", QByteArray("\xc0\xaf").repeated(2000));
    QTest::newRow("far too large") << QStringLiteral("huge.126.key") << get("/huge.126.key") << kBadSize;
#ifdef Q_OS_LINUX
    QTest::newRow("read fails part-way") << QStringLiteral("mem.126.key") << get("/mem.126.key") << kUnknown;
#endif
    QTest::newRow("POST") << alpha << QByteArray("POST /alpha.126.key HTTP/1.1\r\n\r\n") << kNoReply;
    QTest::newRow("GET as a prefix") << alpha << QByteArray("GETX /alpha.126.key HTTP/1.1\r\n\r\n") << kNoReply;
    QTest::newRow("second piece of a split line") << alpha << QByteArray("6.key HTTP/1.1\r\n\r\n") << kNoReply;
    QTest::newRow("empty data") << alpha << QByteArray() << kNoReply;
    // clang-format on
}

void TestRequestHandler::replies() {
    QFETCH(QString, selected);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, body);
    m_selected = selected;

    const std::optional<QByteArray> reply = decidedReply(m_handler, request);
    if (body == kNoReply) {
        QVERIFY(!reply);
        return;
    }
    QVERIFY(reply);
    QCOMPARE(*reply, wire(body));
}

// Windows opens a key file under a path of any length only in the extended form, which the
// system takes as it stands: Wine opens long paths either way, so the form itself is checked.
void TestRequestHandler::keyPathInExtendedForm_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("extended");
    // clang-format off
    QTest::newRow("drive, forward slashes") << "C:/Users/Zoë/Documents/KELVANOR2/Clefs2/a.126.key" << R"(\\?\C:\Users\Zoë\Documents\KELVANOR2\Clefs2\a.126.key)";
    QTest::newRow("drive, backslashes") << R"(c:\a\b.key)" << R"(\\?\c:\a\b.key)";
    QTest::newRow("repeated and trailing separators") << "C://a\\/b/" << R"(\\?\C:\a\b)";
    QTest::newRow("dot and dot-dot") << "C:/a/./b/../c/." << R"(\\?\C:\a\c)";
    QTest::newRow("dot-dot never above the drive") << "C:/a/../../b" << R"(\\?\C:\b)";
    QTest::newRow("drive root") << "D:/" << R"(\\?\D:\)";
    QTest::newRow("share, forward slashes") << "//server/share/a/b.key" << R"(\\?\UNC\server\share\a\b.key)";
    QTest::newRow("already extended") << R"(\\?\C:\a\..\b)" << R"(\\?\C:\a\..\b)";
    QTest::newRow("device") << R"(\\.\pipe\a)" << R"(\\.\pipe\a)";
    QTest::newRow("server without share") << "//server/" << "//server/";
    QTest::newRow("relative") << "a/b" << "a/b";
    QTest::newRow("drive-relative") << "C:a" << "C:a";
    QTest::newRow("rooted, no drive") << R"(\a\b)" << R"(\a\b)";
    QTest::newRow("empty") << "" << "";
    // clang-format on
}

void TestRequestHandler::keyPathInExtendedForm() {
    QFETCH(QString, path);
    QFETCH(QString, extended);
    QCOMPARE(QString::fromStdWString(runtime::extendedPath(path.toStdWString())), extended);
}

QTEST_GUILESS_MAIN(TestRequestHandler)
#include "tst_requesthandler.moc"
