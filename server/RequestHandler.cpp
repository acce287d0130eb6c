// Request checks in the order the phone app expects, and the byte-exact replies.
#include "server/RequestHandler.h"

#include "runtime/QtSize.h"
#include "runtime/Text.h"

#include <QString>
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
#include <QByteArrayView>
#else
#include <QTextCodec>
#endif

#include <algorithm>
#include <utility>

namespace server {

namespace {

using Outcome = DeviceEvent::Outcome;

struct ErrorReply {
    Outcome outcome;
    int number;
    const char* words;
};

// As the phone app matches them; this source file is UTF-8, so "é" goes out as 2 bytes.
constexpr ErrorReply kErrors[] = {
    {Outcome::NoPath, -2, "Aucun chemin dans l'url"},
    {Outcome::NoKey, -3, "Aucune clef demandée !"},
    {Outcome::NotSelected, -4,
     "La clef demandée n'est pas celle indiquée dans le menu de l'application de l'ordinateur !"},
    {Outcome::NotFound, -43, "La clef demandée est introuvable sur l'ordinateur !"},
    {Outcome::Unreadable, -49, "Impossible de lire la clef de l'ordinateur !"},
    {Outcome::BadSize, -33, "Taille de clef de signature incohérente !"},
    {Outcome::ReadFailed, -1, "Erreur inconnue"},
};

const ErrorReply* errorOf(Outcome outcome) {
    for (const ErrorReply& error : kErrors) {
        if (error.outcome == outcome)
            return &error;
    }
    return nullptr;
}

QByteArray errorReply(Outcome outcome) {
    const ErrorReply* error = errorOf(outcome);
    return RequestHandler::reply("<ERR>" + QByteArray::number(error->number) + "</ERR><ERRH>" +
                                 error->words + "</ERRH>");
}

constexpr qsizetype kMinKeyChars = 3000; // exclusive
constexpr qsizetype kMaxKeyChars = 5000; // exclusive
#if QT_VERSION < QT_VERSION_CHECK(6, 3, 0)
constexpr int kUtf8Mib = 106;
#endif

// The key text's length in characters when it is valid UTF-8, in bytes otherwise: a file saved in
// a single-byte code page must not be counted by the lead bytes it happens to hold. Overlong
// forms, surrogates and code points beyond U+10FFFF are not valid UTF-8; a byte order mark is a
// character like any other.
qsizetype keyTextLength(const QByteArray& text) {
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
    if (!QByteArrayView(text).isValidUtf8())
        return text.size();
    const QString decoded = QString::fromUtf8(text);
#else
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString decoded =
        QTextCodec::codecForMib(kUtf8Mib)->toUnicode(text.constData(), text.size(), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0)
        return text.size();
#endif
    // A character beyond the Basic Multilingual Plane takes two UTF-16 units.
    return decoded.size() - std::count_if(decoded.begin(), decoded.end(),
                                          [](QChar unit) { return unit.isLowSurrogate(); });
}

} // namespace

RequestHandler::RequestHandler(KeySource source)
    : m_source(std::move(source)) {}

RequestHandler::Decision RequestHandler::decide(const QByteArray& data) const {
    const qsizetype cr = data.indexOf('\r');
    const QByteArray firstLine = cr < 0 ? data : data.left(runtime::qtSize(cr));
    const QByteArray method = runtime::NthField(firstLine, ' ', 1);
    if (method.compare("GET", Qt::CaseInsensitive) != 0)
        return {};

    const auto answer = [](Outcome outcome, const QByteArray& keyName = {}) {
        return Decision{Decision::Kind::Reply, outcome, errorReply(outcome), keyName, {}};
    };
    const QByteArray path = runtime::NthField(firstLine, ' ', 2);
    if (!path.startsWith('/'))
        return answer(Outcome::NoPath);
    const QByteArray keyName = path.mid(1);
    if (keyName.isEmpty())
        return answer(Outcome::NoKey);
    // Nothing in the name is decoded: the phone sends the row text as it stands.
    const QString selected = m_source.selectedKey();
    if (!runtime::textEquals(QString::fromUtf8(keyName), selected))
        return answer(Outcome::NotSelected, keyName);

    // The selected entry's own file, whatever the request's letter case: a case-sensitive file
    // system then answers like the case-insensitive one the phone app was written for, and a
    // file whose name differs from the selection only in case is never handed out.
    const runtime::FolderItem file = m_source.keyFolder().child(selected);
    if (file.isNull())
        return answer(Outcome::NotFound, keyName);
    return {Decision::Kind::ReadKey, Outcome::KeySent, {}, keyName, file};
}

runtime::RegularFileRead RequestHandler::readKeyFile(const runtime::FolderItem& file) {
    return runtime::readRegularFile(file.nativePath(), kMaxKeyFileBytes);
}

QByteArray RequestHandler::keyReply(const QByteArray& keyName,
                                    const runtime::RegularFileRead& read) {
    const Outcome outcome = keyOutcome(read);
    if (outcome != Outcome::KeySent)
        return errorReply(outcome);
    return reply("<B>1</B><F>" + keyName + "</F><D>" + QByteArray::fromStdString(read.bytes) +
                 "</D>");
}

DeviceEvent::Outcome RequestHandler::keyOutcome(const runtime::RegularFileRead& read) {
    using ReadOutcome = runtime::RegularFileRead::Outcome;
    switch (read.outcome) {
    case ReadOutcome::Missing:
        return Outcome::NotFound;
    // Anything but a regular file (a folder, a FIFO, a device) cannot be read as a key.
    case ReadOutcome::NotRegular:
    case ReadOutcome::Unopenable:
        return Outcome::Unreadable;
    case ReadOutcome::TooLarge:
        return Outcome::BadSize;
    case ReadOutcome::ReadFailed:
        return Outcome::ReadFailed;
    case ReadOutcome::Read:
        break;
    }
    const qsizetype length = keyTextLength(QByteArray::fromStdString(read.bytes));
    return length <= kMinKeyChars || length >= kMaxKeyChars ? Outcome::BadSize : Outcome::KeySent;
}

QString RequestHandler::errorWords(DeviceEvent::Outcome outcome) {
    const ErrorReply* error = errorOf(outcome);
    return error ? QString::fromUtf8(error->words) : QString();
}

int RequestHandler::errorNumber(DeviceEvent::Outcome outcome) {
    const ErrorReply* error = errorOf(outcome);
    return error ? error->number : 0;
}

std::optional<QByteArray> RequestHandler::handle(const QByteArray& data) const {
    const Decision decision = decide(data);
    switch (decision.kind) {
    case Decision::Kind::None:
        return std::nullopt;
    case Decision::Kind::Reply:
        return decision.reply;
    case Decision::Kind::ReadKey:
        break;
    }
    return keyReply(decision.keyName, readKeyFile(decision.file));
}

QByteArray RequestHandler::reply(const QByteArray& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace server
