// The byte-exact replies the phone app reads: the key in its tags, or a numbered French error.
#include "server/ReplyText.h"

#include <QString>
#if QT_VERSION >= QT_VERSION_CHECK(6, 3, 0)
#include <QByteArrayView>
#else
#include <QTextCodec>
#endif

#include <algorithm>

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

QByteArray ReplyText::errorReply(DeviceEvent::Outcome outcome) {
    const ErrorReply* error = errorOf(outcome);
    return reply("<ERR>" + QByteArray::number(error->number) + "</ERR><ERRH>" + error->words +
                 "</ERRH>");
}

QByteArray ReplyText::keyReply(const QByteArray& keyName, const runtime::RegularFileRead& read) {
    const Outcome outcome = keyOutcome(read);
    if (outcome != Outcome::KeySent)
        return errorReply(outcome);
    return reply("<B>1</B><F>" + keyName + "</F><D>" + QByteArray::fromStdString(read.bytes) +
                 "</D>");
}

DeviceEvent::Outcome ReplyText::keyOutcome(const runtime::RegularFileRead& read) {
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

QString ReplyText::errorWords(DeviceEvent::Outcome outcome) {
    const ErrorReply* error = errorOf(outcome);
    return error ? QString::fromUtf8(error->words) : QString();
}

int ReplyText::errorNumber(DeviceEvent::Outcome outcome) {
    const ErrorReply* error = errorOf(outcome);
    return error ? error->number : 0;
}

QByteArray ReplyText::reply(const QByteArray& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace server
