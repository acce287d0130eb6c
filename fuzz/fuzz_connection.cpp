// A random split of a byte stream sent to a real connection over loopback, ended by a
// half-close or a reset: no crash or hang, at most one reply per request line, every reply whole
// and described, none lost, and the connection always goes.
#include "FuzzReplies.h"
#include "runtime/FolderItem.h"
#include "server/HTTPConnection.h"
#include "server/HTTPServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>

#include <fuzzer/FuzzedDataProvider.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

constexpr int kDeadlineMs = 5000;
constexpr std::size_t kMaxPieces = 12;
constexpr std::size_t kMaxPiece = 96;
const QByteArray kSelected = "alpha.126.key";

struct Fixture {
    int argc = 1;
    char name[16] = "fuzz_connection";
    char* argv[2] = {name, nullptr};
    QCoreApplication app{argc, argv};
    QTemporaryDir dir;
    QByteArray keyText = QByteArray(4000, 'k');
    std::unique_ptr<server::HTTPServer> server;

    Fixture() {
        QFile file(dir.filePath(QString::fromLatin1(kSelected)));
        if (!file.open(QIODevice::WriteOnly) || file.write(keyText) != keyText.size())
            std::abort();
        file.close();
        server = std::make_unique<server::HTTPServer>(
            server::KeySource{[] { return QString::fromLatin1(kSelected); },
                              [this] { return runtime::FolderItem(dir.path()); }});
        server->setPort(0);
        server->Listen();
        if (!server->isListening())
            std::abort();
    }
};

void pump() {
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

int connectClient(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        std::abort();
    return fd;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Fixture fixture;
    FuzzedDataProvider input(data, size);
    const bool reset = input.ConsumeBool();
    const int fd = connectClient(fixture.server->serverPort());
    pump();

    QByteArray sent;
    for (std::size_t i = 0; i < kMaxPieces && input.remaining_bytes() > 0; ++i) {
        const std::string piece =
            input.ConsumeBytesAsString(input.ConsumeIntegralInRange<std::size_t>(1, kMaxPiece));
        if (::send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) < 0)
            break;
        sent.append(piece.data(), static_cast<qsizetype>(piece.size()));
        pump();
    }

    QDeadlineTimer deadline(kDeadlineMs);
    if (reset) {
        const linger abortive{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        ::close(fd);
    } else {
        ::shutdown(fd, SHUT_WR);
        QByteArray received;
        char buffer[8192];
        for (;;) {
            const ssize_t got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0 || (got < 0 && errno != EAGAIN))
                break;
            if (got > 0)
                received.append(buffer, got);
            if (deadline.hasExpired())
                std::abort(); // the server neither answered nor closed
            pump();
        }
        ::close(fd);
        const QByteArrayList bodies = fuzzing::splitReplies(received);
        const qsizetype lines = sent.count('\r') + sent.count('\n') + 1 +
                                sent.size() / server::HTTPConnection::kMaxGatheredBytes;
        if (bodies.size() > lines)
            std::abort();
        for (const QByteArray& body : bodies) {
            if (!fuzzing::isDescribedBody(body, kSelected, fixture.keyText))
                std::abort();
        }
        // A GET, however it was split and whether or not its line ended, is answered.
        if (sent.toUpper().startsWith("GET ") && bodies.isEmpty())
            std::abort();
    }
    while (fixture.server->ActiveConnections() > 0) {
        if (deadline.hasExpired())
            std::abort(); // a connection outlived its client
        pump();
    }
    return 0;
}
