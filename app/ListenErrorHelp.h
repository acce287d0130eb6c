// What a user can do about the key server's listening error, shown beneath its message box.
#pragma once

class QString;

class ListenErrorHelp {
public:
    ListenErrorHelp() = delete;

    /// The informative text, in French, for a message box showing `message`. For the key
    /// server's listening error ("Server Error: " and Qt's QAbstractSocket::SocketError code, as
    /// the server shows it): the port is taken (another copy of the program, most likely), the
    /// system refuses it (a range it reserved, often for its virtualisation features), or any
    /// other failure; each with what to do. Empty for any other message.
    static QString informativeText(const QString& message);
};
