// Arbitrary request bytes against the request handling: no crash, and the reply is none or
// exactly one described reply with a correct length.
#include "FuzzReplies.h"
#include "runtime/FolderItem.h"
#include "server/RequestHandler.h"
#include "support/DecidedReply.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <array>
#include <cstdint>
#include <cstdlib>

namespace {

struct Keys {
    QTemporaryDir dir;
    QByteArray keyText = QByteArray(4000, 'k');

    Keys() {
        write("alpha.126.key", keyText);
        write("tiny.126.key", "short");
        write("huge.126.key", QByteArray(30000, 'h'));
        QDir(dir.path()).mkdir(QStringLiteral("folder.126.key"));
    }
    void write(const char* name, const QByteArray& content) const {
        QFile file(dir.filePath(QString::fromLatin1(name)));
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            std::abort();
    }
};

// The first input byte picks which row is selected, so every check is reachable.
constexpr std::array<const char*, 6> kSelections{"alpha.126.key",  "tiny.126.key", "huge.126.key",
                                                 "folder.126.key", "gone.126.key", ""};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Keys keys;
    if (size == 0)
        return 0;
    const QByteArray selected = kSelections[data[0] % kSelections.size()];
    const server::RequestHandler handler(
        server::KeySource{[selected] { return QString::fromUtf8(selected); },
                          [] { return runtime::FolderItem(keys.dir.path()); }});
    const QByteArray request(reinterpret_cast<const char*>(data + 1),
                             static_cast<qsizetype>(size - 1));
    const std::optional<QByteArray> reply = decidedReply(handler, request);
    if (!reply)
        return 0;
    const QByteArrayList bodies = fuzzing::splitReplies(*reply);
    if (bodies.size() != 1 || !fuzzing::isDescribedBody(bodies.first(), selected, keys.keyText))
        std::abort();
    return 0;
}
