// Request checks in the order the phone app expects, and the byte-exact replies.
#include "server/RequestHandler.h"

#include "runtime/QtSize.h"
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

// The key text's length in characters when it is valid UTF-8, in bytes otherwise: a file saved in
// a single-byte code page must not be counted by the lead bytes it happens to hold. Overlong
// forms, surrogates and code points beyond U+10FFFF are not valid UTF-8.
qsizetype keyTextLength(const QByteArray& text) {
    qsizetype characters = 0;
    const qsizetype size = text.size();
    const char* const bytes = text.constData();
    for (qsizetype i = 0; i < size; ++characters) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        int continuation = 0;
        unsigned char low = 0x80; // the bounds of the first continuation byte
        unsigned char high = 0xBF;
        if (lead < 0x80) {
            ++i;
            continue;
        }
        if (lead >= 0xC2 && lead <= 0xDF) {
            continuation = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            continuation = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            continuation = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return size;
        }
        if (size - i <= continuation)
            return size;
        for (int k = 1; k <= continuation; ++k) {
            const auto byte = static_cast<unsigned char>(bytes[i + k]);
            if (byte < (k == 1 ? low : 0x80) || byte > (k == 1 ? high : 0xBF))
                return size;
        }
        i += continuation + 1;
    }
    return characters;
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
    text.truncate(runtime::qtSize(total));
    return ReadResult::Ok;
}

} // namespace

RequestHandler::RequestHandler(KeySource source)
    : m_source(std::move(source)) {}

std::optional<QByteArray> RequestHandler::handle(const QByteArray& data) const {
    const qsizetype cr = data.indexOf('\r');
    const QByteArray firstLine = cr < 0 ? data : data.left(runtime::qtSize(cr));
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
    const QString selected = m_source.selectedKey();
    if (!runtime::textEquals(name, selected))
        return kNotSelected;

    // The file with the request's exact name when there is one, otherwise the selected entry's
    // own: a case-sensitive file system then answers like a case-insensitive one. One stat when
    // the request matches the selection exactly.
    const runtime::FolderItem folder = m_source.keyFolder();
    runtime::FolderItem item = folder.child(name);
    QFileInfo info(item.path());
    if (!item.isNull() && !info.exists() && name != selected) {
        item = folder.child(selected);
        info = QFileInfo(item.path());
    }
    if (item.isNull() || !info.exists())
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
    const qsizetype length = keyTextLength(text);
    if (length <= kMinKeyChars || length >= kMaxKeyChars)
        return kBadSize;
    return "<B>1</B><F>" + keyName + "</F><D>" + text + "</D>";
}

QByteArray RequestHandler::reply(const QByteArray& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace server
