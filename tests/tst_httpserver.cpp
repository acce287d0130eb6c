// The key server over real loopback sockets: whole replies, closing, gathering, limits, errors.
#include "runtime/Services.h"
#include "server/HTTPConnection.h"
#include "server/HTTPServer.h"
#include "support/ExpectedReplies.h"
#include "support/TestKeyFolder.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using server::HTTPConnection;
using server::HTTPServer;

namespace {

QByteArray successReply(const QByteArray& name, const QByteArray& text) {
    return expected::wire(expected::success(name, text));
}

// Everything the server sends until it closes the connection (or `timeout` passes). The server
// runs on this thread, so the event loop must turn while waiting.
QByteArray readUntilClosed(QTcpSocket& socket, int timeout = 5000) {
    QByteArray received;
    QDeadlineTimer deadline(timeout);
    while (socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired()) {
        QTest::qWait(5);
        received += socket.readAll();
    }
    return received + socket.readAll();
}

} // namespace

class TestHttpServer : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void replyArrivesWholeThenCloses();
    void nonGetGetsNoReplyAndStaysOpen();
    void requestLineInPieces_data();
    void requestLineInPieces();
    void idleConnectionIsClosed();
    void secondGetOnOpenConnection();
    void connectionsBeyondTheLimitAreRefused();
    void listeningErrorIsShownAndStops();
    void openConnectionsSurviveAnError();

private:
    std::unique_ptr<QTcpSocket> connectClient();
    void startServer(server::ServerLimits limits = {});

    std::unique_ptr<TestKeyFolder> m_folder;
    std::unique_ptr<HTTPServer> m_server;
    QByteArray m_key;
    QStringList m_messages;
};

void TestHttpServer::init() {
    m_folder = std::make_unique<TestKeyFolder>();
    m_key = m_folder->addKey(QStringLiteral("alpha.126.key"), 4200);
    m_messages.clear();
    runtime::Services::setMessageBoxHandler([this](const QString& text) { m_messages << text; });
}

void TestHttpServer::cleanup() {
    m_server.reset();
    runtime::Services::setMessageBoxHandler({});
}

void TestHttpServer::startServer(server::ServerLimits limits) {
    m_server = std::make_unique<HTTPServer>(
        server::KeySource{[] { return QStringLiteral("alpha.126.key"); },
                          [this] { return m_folder->keysItem(); }},
        nullptr, limits);
    m_server->setPort(0);
    m_server->Listen();
    QVERIFY(m_server->isListening());
}

std::unique_ptr<QTcpSocket> TestHttpServer::connectClient() {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

void TestHttpServer::replyArrivesWholeThenCloses() {
    startServer();
    auto client = connectClient();
    QVERIFY(client);
    client->write("GET /alpha.126.key HTTP/1.1\r\nHost: x\r\n\r\n");
    QCOMPARE(readUntilClosed(*client), successReply("alpha.126.key", m_key));
    QCOMPARE(client->state(), QAbstractSocket::UnconnectedState);
    QTRY_COMPARE(m_server->ActiveConnections(), 0);
}

void TestHttpServer::nonGetGetsNoReplyAndStaysOpen() {
    startServer();
    auto client = connectClient();
    QVERIFY(client);
    const quint64 beeps = runtime::Services::beepCount();
    client->write("POST /alpha.126.key HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
    QTest::qWait(300);
    QCOMPARE(client->bytesAvailable(), 0);
    QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
    QCOMPARE(runtime::Services::beepCount(), beeps);
}

void TestHttpServer::requestLineInPieces_data() {
    QTest::addColumn<QByteArrayList>("pieces");
    QTest::newRow("split inside the key name")
        << QByteArrayList{"GET /alpha.12", "6.key HTTP/1.1\r\nHost: x\r\n\r\n"};
    QTest::newRow("split before the CR")
        << QByteArrayList{"GET /alpha.126.key HTTP/1.1", "\r\n\r\n"};
    QTest::newRow("one byte at a time")
        << QByteArrayList{"G", "E", "T", " ", "/", "alpha", ".126.key", " HTTP/1.1\r\n"};
}

// A phone on a slow network may deliver its request line in several segments.
void TestHttpServer::requestLineInPieces() {
    QFETCH(QByteArrayList, pieces);
    startServer();
    auto client = connectClient();
    QVERIFY(client);
    const quint64 beeps = runtime::Services::beepCount();
    for (const QByteArray& piece : pieces) {
        client->write(piece);
        client->flush();
        QTest::qWait(30);
    }
    QCOMPARE(readUntilClosed(*client), successReply("alpha.126.key", m_key));
    QCOMPARE(runtime::Services::beepCount(), beeps + 1);
}

void TestHttpServer::idleConnectionIsClosed() {
    startServer(server::ServerLimits{200ms, 256});

    auto silent = connectClient();
    QVERIFY(silent);
    QTRY_COMPARE_WITH_TIMEOUT(silent->state(), QAbstractSocket::UnconnectedState, 3000);

    // Bytes left without a line end are answered as they stand before the connection goes.
    auto unfinished = connectClient();
    QVERIFY(unfinished);
    unfinished->write("GET /alpha.126.key");
    QCOMPARE(readUntilClosed(*unfinished), successReply("alpha.126.key", m_key));

    auto nonGet = connectClient();
    QVERIFY(nonGet);
    nonGet->write("OPTIONS * HTTP/1.1\r\n");
    QCOMPARE(readUntilClosed(*nonGet), QByteArray());
    QTRY_COMPARE(m_server->ActiveConnections(), 0);
}

void TestHttpServer::secondGetOnOpenConnection() {
    startServer();
    // Qt 5 records only argument types registered at run time.
    qRegisterMetaType<HTTPConnection*>();
    QSignalSpy added(m_server.get(), &HTTPServer::connectionAdded);
    auto client = connectClient();
    QVERIFY(client);
    QTRY_COMPARE(added.size(), 1);
    auto* connection = added.first().first().value<HTTPConnection*>();
    const quint64 beeps = runtime::Services::beepCount();
    // Both arrive before the first reply has left, so both are answered.
    connection->ProcessHeaders("GET /alpha.126.key HTTP/1.1\r\n\r\n");
    connection->ProcessHeaders("GET /nope.126.key HTTP/1.1\r\n\r\n");
    QCOMPARE(readUntilClosed(*client),
             successReply("alpha.126.key", m_key) + expected::wire(expected::kNotSelected));
    QCOMPARE(runtime::Services::beepCount(), beeps + 2);
}

void TestHttpServer::connectionsBeyondTheLimitAreRefused() {
    startServer(server::ServerLimits{10s, 2});
    auto first = connectClient();
    auto second = connectClient();
    QVERIFY(first && second);
    QTRY_COMPARE(m_server->ActiveConnections(), 2);
    auto third = connectClient();
    QVERIFY(third);
    QTRY_COMPARE_WITH_TIMEOUT(third->state(), QAbstractSocket::UnconnectedState, 3000);
    QCOMPARE(m_server->ActiveConnections(), 2);

    // The ones within the limit are still served, and their places are then free again.
    first->write("GET /alpha.126.key HTTP/1.1\r\n\r\n");
    QCOMPARE(readUntilClosed(*first), successReply("alpha.126.key", m_key));
    QTRY_COMPARE(m_server->ActiveConnections(), 1);
    auto fourth = connectClient();
    QVERIFY(fourth);
    fourth->write("GET /alpha.126.key HTTP/1.1\r\n\r\n");
    QCOMPARE(readUntilClosed(*fourth), successReply("alpha.126.key", m_key));
}

void TestHttpServer::listeningErrorIsShownAndStops() {
    QTcpServer occupant;
    QVERIFY(occupant.listen(QHostAddress::Any, 0));
    HTTPServer server(
        server::KeySource{[] { return QString(); }, [] { return runtime::FolderItem(); }});
    server.setPort(occupant.serverPort());
    server.setMinimumSocketsAvailable(HTTPServer::kSpareSockets);
    server.Listen();
    // Reported once control is back in the event loop, not inside Listen().
    QVERIFY(m_messages.isEmpty());
    QTRY_COMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages.first(),
             QStringLiteral("Server Error: %1").arg(int(QAbstractSocket::AddressInUseError)));
    QVERIFY(!server.isListening());
}

void TestHttpServer::openConnectionsSurviveAnError() {
    startServer();
    auto client = connectClient();
    QVERIFY(client);
    QTRY_COMPARE(m_server->ActiveConnections(), 1);
    const quint16 port = m_server->serverPort();
    m_server->Error(-5);
    QCOMPARE(m_messages, QStringList{"Server Error: -5"});
    QVERIFY(!m_server->isListening());

    client->write("GET /alpha.126.key HTTP/1.1\r\n\r\n");
    QCOMPARE(readUntilClosed(*client), successReply("alpha.126.key", m_key));
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE(late.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
