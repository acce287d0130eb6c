// A key server on a free port over a throw-away keys folder, on a clock the test moves, with the
// clients and the stalled key reads its tests need.
#pragma once

#include "server/HTTPServer.h"
#include "support/ManualClock.h"
#include "support/TestKeyFolder.h"

#include <QTcpSocket>

#include <condition_variable>
#include <memory>
#include <mutex>

namespace server {
class HTTPConnection;
}

/// Everything the server sends on `socket` until it closes the connection (or `timeoutMs`
/// passes), turning the event loop meanwhile.
QByteArray readUntilClosed(QTcpSocket& socket, int timeoutMs = 5000);

/// Shuts down the sending side of `socket`'s connection, as a script does once its request is
/// out (Qt has no call for it): the peer then reads end of stream while `socket` can still read.
bool shutdownSending(QTcpSocket& socket);

/// Holds key file reads back, as a stalled share would, until released.
struct Gate {
    std::mutex mutex;
    std::condition_variable opened;
    bool open = false;
    int reads = 0;
    void release();
    /// Reads that have started.
    int count();
};

class KeyServerFixture {
public:
    static constexpr const char* kRequest = "GET /alpha.126.key HTTP/1.1\r\nHost: x\r\n\r\n";

    /// A keys folder with "alpha.126.key" (4200 characters), which is selected.
    KeyServerFixture();
    ~KeyServerFixture();
    Q_DISABLE_COPY_MOVE(KeyServerFixture)

    /// Starts `server` listening on a free port, on `clock`, counting its GETs in `gets`.
    void start(server::ServerLimits limits = {},
               server::PeerRule peerRule = &server::LocalPeer::allows,
               server::KeyFileReader reader = {},
               server::Acceptor accept = &runtime::SocketDescriptor::accept);
    /// Reads through the real file system, each read held by `gate` until released.
    server::KeyFileReader gatedReader() const;

    std::unique_ptr<QTcpSocket> connectClient(const QHostAddress& from = {}) const;
    /// A client with the smallest receive buffer from the start, as one that does not read, or
    /// a phone on a poor link, soon has; Qt's buffer takes a byte until the test raises that.
    std::unique_ptr<QTcpSocket> connectNarrowClient() const;
    /// The one connection the server holds, once it has accepted it; null otherwise.
    server::HTTPConnection* onlyConnection() const;
    /// The reply that hands out `name` with the key text `text`.
    static QByteArray keyReply(const QByteArray& name, const QByteArray& text);

    TestKeyFolder folder;
    QByteArray key;
    QString selected = QStringLiteral("alpha.126.key");
    ManualClock clock;
    std::shared_ptr<Gate> gate = std::make_shared<Gate>();
    std::unique_ptr<server::HTTPServer> server;
    int gets = 0;
};
