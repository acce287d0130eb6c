// Request checks in the order the phone app expects, and the byte-exact replies.
#include "server/RequestHandler.h"

#include "runtime/Services.h"
#include "runtime/Text.h"

#include <QFile>
#include <QFileInfo>

#include <utility>

namespace server {

namespace {

// Bodies as the phone app matches them; this source file is UTF-8, so "é" goes out as 2 bytes.
constexpr char kNoPath[] = "<ERR>-2</ERR><ERRH>Aucun chemin dans l'url</ERRH>";
constexpr char kNoKey[] = "<ERR>-3</ERR><ERRH>Aucune clef demandée !</ERRH>";
constexpr char kNotSelected[] = "<ERR>-4</ERR><ERRH>La clef demandée n'est pas celle indiquée "
                                "dans le menu de l'application de l'ordinateur !</ERRH>";
constexpr char kNotFound[] =
    "<ERR>-43</ERR><ERRH>La clef demandée est introuvable sur l'ordinateur !</ERRH>";
constexpr char kUnreadable[] =
    "<ERR>-49</ERR><ERRH>Impossible de lire la clef de l'ordinateur !</ERRH>";
constexpr char kBadSize[] = "<ERR>-33</ERR><ERRH>Taille de clef de signature incohérente !</ERRH>";
constexpr char kUnknown[] = "<ERR>-1</ERR><ERRH>Erreur inconnue</ERRH>";

constexpr qsizetype kMinKeyChars = 3000; // exclusive
constexpr qsizetype kMaxKeyChars = 5000; // exclusive

// Characters of UTF-8 text: every byte that does not continue a multi-byte sequence.
qsizetype utf8Length(const QByteArray& text) {
    qsizetype length = 0;
    for (const char byte : text)
        if ((static_cast<unsigned char>(byte) & 0xC0) != 0x80)
            ++length;
    return length;
}

enum class ReadResult { Ok, TooLarge, Failed };

// Refuses a file whose `size` is too large without reading it, and reads at most one byte more
// than the limit, so a file that grows after the size check still cannot make the reply unbounded.
ReadResult readKeyFile(QFile& file, qint64 size, QByteArray& text) {
    if (size > RequestHandler::kMaxKeyFileBytes)
        return ReadResult::TooLarge;
    text.resize(RequestHandler::kMaxKeyFileBytes + 1);
    qint64 total = 0;
    while (total < text.size()) {
        const qint64 got = file.read(text.data() + total, text.size() - total);
        if (got < 0)
            return ReadResult::Failed;
        if (got == 0)
            break;
        total += got;
    }
    if (total > RequestHandler::kMaxKeyFileBytes)
        return ReadResult::TooLarge;
    text.truncate(total);
    return ReadResult::Ok;
}

} // namespace

RequestHandler::RequestHandler(KeySource source)
    : m_source(std::move(source)) {}

std::optional<QByteArray> RequestHandler::handle(const QByteArray& data) const {
    const qsizetype cr = data.indexOf('\r');
    const QByteArray firstLine = cr < 0 ? data : data.left(cr);
    const QByteArray method = runtime::NthField(firstLine, ' ', 1);
    if (method.compare("GET", Qt::CaseInsensitive) != 0)
        return std::nullopt;

    runtime::Services::beep();
    return reply(answer(runtime::NthField(firstLine, ' ', 2)));
}

QByteArray RequestHandler::answer(const QByteArray& path) const {
    if (!path.startsWith('/'))
        return kNoPath;
    const QByteArray keyName = path.mid(1);
    if (keyName.isEmpty())
        return kNoKey;
    // Nothing in the name is decoded: the phone sends the row text as it stands.
    const QString name = QString::fromUtf8(keyName);
    if (!runtime::textEquals(name, m_source.selectedKey()))
        return kNotSelected;

    const runtime::FolderItem item = m_source.keyFolder().child(name);
    if (item.isNull())
        return kNotFound;
    // One stat answers existence, kind and size; then one open and one read.
    const QFileInfo info(item.path());
    if (!info.exists())
        return kNotFound;
    // Anything but a regular file (a folder, a FIFO that would block the event loop on open,
    // a device) cannot be read as a key.
    if (!info.isFile())
        return kUnreadable;
    QFile file(item.path());
    if (!file.open(QIODevice::ReadOnly))
        return kUnreadable;

    QByteArray text;
    switch (readKeyFile(file, info.size(), text)) {
    case ReadResult::Failed:
        return kUnknown;
    case ReadResult::TooLarge:
        return kBadSize;
    case ReadResult::Ok:
        break;
    }
    const qsizetype length = utf8Length(text);
    if (length <= kMinKeyChars || length >= kMaxKeyChars)
        return kBadSize;
    return "<B>1</B><F>" + keyName + "</F><D>" + text + "</D>";
}

QByteArray RequestHandler::reply(const QByteArray& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace server
