// The client socket's ways around Qt at the end of a client's stream, each pinned by a case that
// fails without it.
#include "server/ClientSocket.h"
#include "support/KeyServerFixture.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <memory>

using server::ClientSocket;

namespace {

// Hands each accepted descriptor to a ClientSocket, as the key server does.
class Listener : public QTcpServer {
public:
    std::unique_ptr<ClientSocket> accepted;

protected:
    void incomingConnection(qintptr descriptor) override {
        accepted = std::make_unique<ClientSocket>();
        if (!accepted->attach(descriptor))
            accepted.reset();
    }
};

} // namespace

class TestClientSocket : public QObject {
    Q_OBJECT

private slots:
    void replyOutlivesTheEndOfStream_data();
    void replyOutlivesTheEndOfStream();
};

void TestClientSocket::replyOutlivesTheEndOfStream_data() {
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<bool>("endWithRequest"); // the end sent with the request, not after it is read
    QTest::newRow("request and end together") << QByteArray("GET /a") << true;
    QTest::newRow("end after the request was read") << QByteArray("GET /a") << false;
    QTest::newRow("end alone") << QByteArray() << true;
}

// A client that half-closes is still sent its reply, however the end of its stream comes; and
// once silenced, the end of the stream is not reported again and again while the reply waits.
void TestClientSocket::replyOutlivesTheEndOfStream() {
    QFETCH(QByteArray, request);
    QFETCH(bool, endWithRequest);
    Listener listener;
    QVERIFY(listener.listen(QHostAddress::LocalHost));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, listener.serverPort());
    QVERIFY(client.waitForConnected(5000));
    QTRY_VERIFY(listener.accepted);
    ClientSocket& socket = *listener.accepted;
    client.write(request);
    QVERIFY(client.waitForBytesWritten(5000) || request.isEmpty());
    if (endWithRequest)
        QVERIFY(shutdownSending(client));

    QByteArray received;
    for (int i = 0; i < 500 && received.size() < request.size(); ++i) {
        QTest::qWait(2);
        received += socket.readArrived(8192).bytes;
    }
    QCOMPARE(received, request);
    if (!endWithRequest)
        QVERIFY(shutdownSending(client));
    QTRY_VERIFY(socket.readArrived(8192).endOfStream);
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);

    // As while a reply waits for its key file. Unsilenced, the reports spin the event loop on
    // Windows, and this test hangs there.
    socket.silenceReading();
    QSignalSpy reports(&socket, &QIODevice::readyRead);
    for (int pass = 0; pass < 20; ++pass)
        QCoreApplication::processEvents();
    QCOMPARE(reports.size(), 0);
    QVERIFY(socket.write("reply") == 5);
    socket.flush();
    QTRY_COMPARE(client.bytesAvailable(), 5);
    QCOMPARE(client.readAll(), QByteArray("reply"));
}

QTEST_GUILESS_MAIN(TestClientSocket)
#include "tst_clientsocket.moc"
