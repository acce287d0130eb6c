// The key server's listening side over real loopback sockets: who is let in, who gives way, what
// a failure to listen or to accept does, and that nothing refused is leaked.
#include "server/HTTPConnection.h"
#include "server/HTTPServer.h"
#include "support/KeyServerFixture.h"
#include "support/OpenHandles.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <vector>

#if defined(Q_OS_LINUX)
#include <sys/resource.h>
#include <unistd.h>
#endif

// Out of descriptors for real where a limit can be set; elsewhere, and where the sanitizers'
// own checks would need descriptors too, through an acceptor that fails as the system would.
#if defined(Q_OS_LINUX) && !defined(__SANITIZE_ADDRESS__)
#define ZORVIK_REAL_DESCRIPTOR_LIMIT 1
#endif

using namespace std::chrono_literals;
using server::HTTPServer;

class TestHttpServer : public QObject {
    Q_OBJECT

private slots:
    void init() { m_fx = std::make_unique<KeyServerFixture>(); }
    void cleanup() { m_fx.reset(); }
    void acceptFailurePausesAndRecovers();
    void refusedAndFailedConnectionsLeaveNoDescriptor();
    void portIsNotShared_data();
    void portIsNotShared();
    void openConnectionsSurviveAnError();
    void waitingRequestIsNotDisplaced();
    void lingeringConnectionGivesWay_data();
    void lingeringConnectionGivesWay();
    void unusableDescriptorIsReported();

private:
    std::unique_ptr<KeyServerFixture> m_fx;
};

// Out of descriptors, the server pauses accepting, retries with a growing pause and serves again
// once they are free; it goes on listening.
void TestHttpServer::acceptFailurePausesAndRecovers() {
    // Shared with the acceptor, which the server keeps until the test's clean-up.
    const auto outOfDescriptors = std::make_shared<bool>(false);
    m_fx->start(
        server::ServerLimits{10s, 256, 20ms, 80ms}, &server::LocalPeer::allows, {},
        [outOfDescriptors](std::intptr_t listening) {
            using runtime::SocketDescriptor;
            return *outOfDescriptors
                       ? SocketDescriptor::Accepted{-1,
                                                    SocketDescriptor::AcceptFailure::OutOfResources}
                       : SocketDescriptor::accept(listening);
        });
    QSignalSpy paused(m_fx->server.get(), &HTTPServer::acceptPaused);
    QSignalSpy failed(m_fx->server.get(), &HTTPServer::listenFailed);
    // A client served first: Qt's own accepting would then miss the failure that follows.
    auto first = m_fx->connectClient();
    QVERIFY(first);
    first->write(KeyServerFixture::kRequest);
    QCOMPARE(readUntilClosed(*first), KeyServerFixture::keyReply("alpha.126.key", m_fx->key));

    auto client = m_fx->connectClient();
    QVERIFY(client);
    client->write(KeyServerFixture::kRequest);
    client->flush();
#ifdef ZORVIK_REAL_DESCRIPTOR_LIMIT
    rlimit original{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &original), 0);
    // The lowest free descriptor number becomes the limit, so the next accept fails.
    const int lowestFree = ::dup(0);
    ::close(lowestFree);
    rlimit exhausted = original;
    exhausted.rlim_cur = static_cast<rlim_t>(lowestFree);
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &exhausted), 0);
#else
    *outOfDescriptors = true;
#endif
    // Each pause ends on the clock, and the accept fails again.
    const std::vector<qint64> pauses{20, 40, 80, 80};
    for (std::size_t i = 0; i < pauses.size(); ++i) {
        QTRY_COMPARE(std::size_t(paused.size()), i + 1);
        QCOMPARE(paused.last().first().toLongLong(), pauses[i]);
        if (i + 1 < pauses.size())
            m_fx->clock.advance(std::chrono::milliseconds(pauses[i]));
    }
#ifdef ZORVIK_REAL_DESCRIPTOR_LIMIT
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &original), 0);
#else
    *outOfDescriptors = false;
#endif
    m_fx->clock.advance(80ms);
    QCOMPARE(readUntilClosed(*client), KeyServerFixture::keyReply("alpha.126.key", m_fx->key));
    QVERIFY(m_fx->server->isListening());
    QVERIFY(failed.isEmpty());
}

// Every connection the server refuses, displaces or loses to a reset is closed: none is leaked.
void TestHttpServer::refusedAndFailedConnectionsLeaveNoDescriptor() {
    if (openHandles() < 0)
        QSKIP("This system does not tell a process how many descriptors it holds");
    const QHostAddress outsider(QStringLiteral("127.0.0.2"));
    m_fx->start(server::ServerLimits{10s, 2}, [outsider](const QHostAddress& peer) {
        return !peer.isEqual(outsider, QHostAddress::TolerantConversion);
    });
    qRegisterMetaType<server::DeviceEvent>();
    QSignalSpy events(m_fx->server.get(), &HTTPServer::deviceEvent);
    // The first round lets Qt make the helpers it creates once per process; the second counts.
    int before = 0;
    for (int round = 0; round < 2; ++round) {
        before = openHandles();
        {
            auto refused = m_fx->connectClient(outsider);
            QVERIFY(refused);
            refused->write(KeyServerFixture::kRequest);
            QCOMPARE(readUntilClosed(*refused), QByteArray());

            std::vector<std::unique_ptr<QTcpSocket>> crowd;
            for (int i = 0; i < 5; ++i) {
                crowd.push_back(m_fx->connectClient());
                QVERIFY(crowd.back());
                QTRY_VERIFY(m_fx->server->ActiveConnections() >= std::min(i + 1, 2));
            }
            auto resetEarly = m_fx->connectClient();
            QVERIFY(resetEarly);
            resetEarly->abort();
        }
        QTRY_COMPARE(m_fx->server->ActiveConnections(), 0);
    }
    // A leak only adds; a handle of Qt's own (an idle pool thread ending) may go meanwhile.
    QTRY_VERIFY(openHandles() <= before);
    QCOMPARE(m_fx->gets, 0);
    // The user hears of the refused peer, once a round, not of those turned away at the bound.
    QCOMPARE(events.size(), 2);
    const auto refused = events.last().first().value<server::DeviceEvent>();
    QCOMPARE(refused.outcome, server::DeviceEvent::Outcome::Refused);
    QCOMPARE(refused.peer, outsider);
}

void TestHttpServer::portIsNotShared_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("IPv4 loopback") << "127.0.0.1";
    QTest::newRow("IPv6 loopback") << "::1";
}

// Another program asking to share the port on a narrower address would receive the requests
// sent to that address; on Windows only a listener that holds its port exclusively refuses it.
void TestHttpServer::portIsNotShared() {
    QFETCH(QString, address);
    m_fx->start();
    QTcpSocket intruder;
    QVERIFY(!intruder.bind(QHostAddress(address), m_fx->server->serverPort(),
                           QAbstractSocket::ReuseAddressHint));
}

// An error is told while the server still listens (Error() itself), and it stops once that is
// done; the clients it holds are still served. (A port taken: tst_window's listening errors.)
void TestHttpServer::openConnectionsSurviveAnError() {
    m_fx->start();
    auto client = m_fx->connectClient();
    QVERIFY(client);
    QTRY_COMPARE(m_fx->server->ActiveConnections(), 1);
    const quint16 port = m_fx->server->serverPort();
    QList<bool> listeningWhenTold;
    connect(m_fx->server.get(), &HTTPServer::listenFailed, this,
            [this, &listeningWhenTold] { listeningWhenTold << m_fx->server->isListening(); });
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
    // Nothing watches the closed listener's descriptor any more.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("QSocketNotifier")));
#endif
    m_fx->server->Error(QAbstractSocket::UnknownSocketError);
    QCOMPARE(listeningWhenTold, QList<bool>{true});
    QVERIFY(!m_fx->server->isListening());

    client->write("GET /alpha.126.key HTTP/1.1\r\n\r\n");
    QCOMPARE(readUntilClosed(*client), KeyServerFixture::keyReply("alpha.126.key", m_fx->key));
    QTcpSocket late;
    late.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE(late.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(late.error(), QAbstractSocket::ConnectionRefusedError);
}

// A request already in the system when a newcomer needs a place is read before the choice: its
// connection, the older, is not taken for one that has sent nothing.
void TestHttpServer::waitingRequestIsNotDisplaced() {
    m_fx->start({.idleTimeout = 10s, .maxConnections = 2});
    const QByteArray request = KeyServerFixture::kRequest;
    auto phone = m_fx->connectClient();
    QVERIFY(phone);
    QTRY_COMPARE(m_fx->server->ActiveConnections(), 1);
    m_fx->clock.advance(20ms);
    auto silent = m_fx->connectClient();
    QVERIFY(silent);
    QTRY_COMPARE(m_fx->server->ActiveConnections(), 2);
    // The request and the newcomer both wait in the system when the server next looks; the
    // listening socket is served first.
    phone->write(request);
    QVERIFY(phone->flush());
    auto newcomer = m_fx->connectClient();
    QVERIFY(newcomer);
    QTRY_COMPARE(silent->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(readUntilClosed(*phone), KeyServerFixture::keyReply("alpha.126.key", m_fx->key));
    QCOMPARE(newcomer->state(), QAbstractSocket::ConnectedState);
}

void TestHttpServer::lingeringConnectionGivesWay_data() {
    QTest::addColumn<bool>("delivered");
    QTest::newRow("its reply arrived: it gives way at once") << true;
    QTest::newRow("its reply still in the system: it is replying") << false;
}

// A lingering connection is the first to give way, but not while the system holds its reply.
void TestHttpServer::lingeringConnectionGivesWay() {
    QFETCH(bool, delivered);
    m_fx->start({.idleTimeout = 10s, .maxConnections = 1, .reservedConnections = 0});
    auto answered = delivered ? m_fx->connectClient() : m_fx->connectNarrowClient();
    QVERIFY(answered);
    answered->setReadBufferSize(1); // it does not read on to the end, and so stays
    QPointer<server::HTTPConnection> lingering = m_fx->onlyConnection();
    answered->write(KeyServerFixture::kRequest);
    QTRY_VERIFY(lingering && lingering->phase() == server::HTTPConnection::Phase::Lingering);
    if (delivered) // where the system does not tell, after a while
        m_fx->clock.advance(server::HTTPConnection::kUntoldDeliveryTime);
    auto newcomer = m_fx->connectClient();
    QVERIFY(newcomer);
    QTRY_VERIFY(delivered ? !lingering
                          : lingering && newcomer->state() == QAbstractSocket::UnconnectedState);
    if (!delivered)
        return;
    newcomer->write(KeyServerFixture::kRequest);
    QCOMPARE(readUntilClosed(*newcomer), KeyServerFixture::keyReply("alpha.126.key", m_fx->key));
}

// A descriptor that Qt cannot take over makes a connection that says so, and is not served.
void TestHttpServer::unusableDescriptorIsReported() {
    m_fx->start();
    QVERIFY(!m_fx->server->AddSocket()->attach(-1));
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_httpserver.moc"
