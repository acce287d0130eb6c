// The key server as its tests run it.
#include "support/KeyServerFixture.h"

#include "server/HTTPConnection.h"
#include "server/KeyReads.h"
#include "support/ExpectedReplies.h"

#include <QDeadlineTimer>
#include <QTest>

#if defined(Q_OS_WIN)
#include <winsock2.h>
#elif defined(Q_OS_UNIX)
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

using namespace std::chrono_literals;

QByteArray readUntilClosed(QTcpSocket& socket, int timeoutMs) {
    QByteArray received;
    QDeadlineTimer deadline(timeoutMs);
    while (socket.state() != QAbstractSocket::UnconnectedState && !deadline.hasExpired()) {
        // The server runs on this thread: the event loop must turn while the test waits.
        QTest::qWait(5);
        received += socket.readAll();
    }
    return received + socket.readAll();
}

bool shutdownSending(QTcpSocket& socket) {
#if defined(Q_OS_WIN)
    return ::shutdown(static_cast<SOCKET>(socket.socketDescriptor()), SD_SEND) == 0;
#else
    return ::shutdown(static_cast<int>(socket.socketDescriptor()), SHUT_WR) == 0;
#endif
}

void Gate::release() {
    const std::lock_guard<std::mutex> lock(mutex);
    open = true;
    opened.notify_all();
}

int Gate::count() {
    const std::lock_guard<std::mutex> lock(mutex);
    return reads;
}

KeyServerFixture::KeyServerFixture()
    : key(folder.addKey(QStringLiteral("alpha.126.key"), 4200)) {}

KeyServerFixture::~KeyServerFixture() {
    // Released on every way out of a test, so that no worker stays stuck.
    gate->release();
    server.reset();
}

void KeyServerFixture::start(server::ServerLimits limits, server::PeerRule peerRule,
                             server::KeyFileReader reader, server::Acceptor accept) {
    server::ServerOptions options{limits, std::move(peerRule), std::move(reader), std::move(accept),
                                  &clock};
    server = std::make_unique<server::HTTPServer>(
        server::KeySource{[this] { return selected; }, [this] { return folder.keysItem(); }},
        nullptr, std::move(options));
    QObject::connect(server.get(), &server::HTTPServer::getReceived, [this] { ++gets; });
    server->setPort(0);
    server->Listen();
    QVERIFY(server->isListening());
}

server::KeyFileReader KeyServerFixture::gatedReader() const {
    return [gate = gate](const runtime::FolderItem& file) {
        std::unique_lock<std::mutex> lock(gate->mutex);
        ++gate->reads;
        gate->opened.wait_for(lock, 10s, [&gate] { return gate->open; });
        return server::KeyReads::readKeyFile(file);
    };
}

std::unique_ptr<QTcpSocket> KeyServerFixture::connectClient(const QHostAddress& from) const {
    auto socket = std::make_unique<QTcpSocket>();
    if (!from.isNull() && !socket->bind(from))
        return nullptr;
    socket->connectToHost(QHostAddress::LocalHost, server->serverPort());
    if (!socket->waitForConnected(5000))
        return nullptr;
    return socket;
}

std::unique_ptr<QTcpSocket> KeyServerFixture::connectNarrowClient() const {
    const auto fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    const int size = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server->serverPort());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    auto socket = std::make_unique<QTcpSocket>();
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        !socket->setSocketDescriptor(static_cast<qintptr>(fd)))
        return nullptr; // the test fails; its descriptor goes with the process
    socket->setReadBufferSize(1);
    return socket;
}

server::HTTPConnection* KeyServerFixture::onlyConnection() const {
    QDeadlineTimer deadline(5000);
    QList<server::HTTPConnection*> open = server->findChildren<server::HTTPConnection*>();
    while (open.isEmpty() && !deadline.hasExpired()) {
        QTest::qWait(10);
        open = server->findChildren<server::HTTPConnection*>();
    }
    return open.size() == 1 ? open.first() : nullptr;
}

QByteArray KeyServerFixture::keyReply(const QByteArray& name, const QByteArray& text) {
    return expected::wire(expected::success(name, text));
}
