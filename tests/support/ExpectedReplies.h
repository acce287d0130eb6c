// The key server's replies as the phone app expects them, written out independently of the
// product's own constants.
#pragma once

#include <QByteArray>

namespace expected {

inline const QByteArray kNoPath = "<ERR>-2</ERR><ERRH>Aucun chemin dans l'url</ERRH>";
inline const QByteArray kNoKey = "<ERR>-3</ERR><ERRH>Aucune clef demand\xc3\xa9"
                                 "e !</ERRH>";
inline const QByteArray kNotSelected = "<ERR>-4</ERR><ERRH>La clef demand\xc3\xa9"
                                       "e n'est pas celle indiqu\xc3\xa9"
                                       "e dans le menu "
                                       "de l'application de l'ordinateur !</ERRH>";
inline const QByteArray kNotFound = "<ERR>-43</ERR><ERRH>La clef demand\xc3\xa9"
                                    "e est introuvable sur l'ordinateur !</ERRH>";
inline const QByteArray kUnreadable =
    "<ERR>-49</ERR><ERRH>Impossible de lire la clef de l'ordinateur !</ERRH>";
inline const QByteArray kBadSize =
    "<ERR>-33</ERR><ERRH>Taille de clef de signature incoh\xc3\xa9rente !</ERRH>";
inline const QByteArray kUnknown = "<ERR>-1</ERR><ERRH>Erreur inconnue</ERRH>";

/// The body that hands out `text` as the key `name`.
inline QByteArray success(const QByteArray& name, const QByteArray& text) {
    return "<B>1</B><F>" + name + "</F><D>" + text + "</D>";
}

/// Status line and headers, then `body`, as they go on the wire.
inline QByteArray wire(const QByteArray& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace expected
