// What a user can do about the key server's listening error, shown beneath its message box.
#pragma once

#include <QAbstractSocket>

class QString;

class ListenErrorHelp {
public:
    ListenErrorHelp() = delete;

    /// The informative text, in French, beneath the key server's listening error `error`: the
    /// port is taken (another copy of the program, most likely), the system refuses it (a range
    /// it reserved, often for its virtualisation features), or any other failure; each with what
    /// to do.
    static QString informativeText(QAbstractSocket::SocketError error);
};
