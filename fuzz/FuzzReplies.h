// What a well-formed reply of the key server looks like, for the fuzz targets to check against.
#pragma once

#include <QByteArray>
#include <QByteArrayList>

#include <cstdlib>

namespace fuzzing {

inline const QByteArrayList kErrorBodies{
    "<ERR>-2</ERR><ERRH>Aucun chemin dans l'url</ERRH>",
    "<ERR>-3</ERR><ERRH>Aucune clef demand\xc3\xa9"
    "e !</ERRH>",
    "<ERR>-4</ERR><ERRH>La clef demand\xc3\xa9"
    "e n'est pas celle indiqu\xc3\xa9"
    "e dans le menu de l'application de l'ordinateur !</ERRH>",
    "<ERR>-43</ERR><ERRH>La clef demand\xc3\xa9"
    "e est introuvable sur l'ordinateur !</ERRH>",
    "<ERR>-49</ERR><ERRH>Impossible de lire la clef de l'ordinateur !</ERRH>",
    "<ERR>-33</ERR><ERRH>Taille de clef de signature incoh\xc3\xa9rente !</ERRH>",
    "<ERR>-1</ERR><ERRH>Erreur inconnue</ERRH>",
};

inline const QByteArray kHead = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: ";
inline const QByteArray kHeadEnd = "\r\nConnection: close\r\n\r\n";

/// Whether `body` is an error body, or hands out `keyText` under a name equal to `selected`
/// but for ASCII letter case.
inline bool isDescribedBody(const QByteArray& body, const QByteArray& selected,
                            const QByteArray& keyText) {
    if (kErrorBodies.contains(body))
        return true;
    const QByteArray tail = "</F><D>" + keyText + "</D>";
    if (!body.startsWith("<B>1</B><F>") || !body.endsWith(tail))
        return false;
    const QByteArray name = body.mid(11, body.size() - 11 - tail.size());
    return !selected.isEmpty() && name.toLower() == selected.toLower();
}

/// Splits `stream` into whole replies; aborts when any part of it is not one.
inline QByteArrayList splitReplies(const QByteArray& stream) {
    QByteArrayList bodies;
    qsizetype at = 0;
    while (at < stream.size()) {
        if (stream.mid(at, kHead.size()) != kHead)
            std::abort();
        at += kHead.size();
        const qsizetype end = stream.indexOf(kHeadEnd, at);
        bool ok = false;
        const qsizetype length = end < 0 ? -1 : stream.mid(at, end - at).toLongLong(&ok);
        if (!ok || length < 0 || end + kHeadEnd.size() + length > stream.size())
            std::abort();
        at = end + kHeadEnd.size();
        bodies << stream.mid(at, length);
        at += length;
    }
    return bodies;
}

} // namespace fuzzing
