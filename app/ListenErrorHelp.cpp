// The advice beneath "Server Error: ", chosen by the error the server reports.
#include "app/ListenErrorHelp.h"

#include "server/HTTPServer.h"

#include <QString>

namespace {

QString inUse() {
    return QStringLiteral(
               "Le port %1 est déjà utilisé, très probablement par une autre copie de ce "
               "programme restée ouverte (voyez la barre des tâches). Cette copie-ci n'enverra "
               "aucune clef à votre téléphone ou tablette, même une fois ce message fermé\u00A0: "
               "fermez toutes les copies du programme, puis relancez-en une seule.")
        .arg(server::HTTPServer::kPort);
}

// On Windows a bind into a port range the system has reserved (Hyper-V, WSL and Docker reserve
// ranges at start-up) or onto a port another program holds exclusively fails with access denied.
QString reserved() {
    return QStringLiteral(
               "Windows refuse l'accès au port %1\u00A0: il fait sans doute partie d'une plage "
               "réservée par le système, souvent pour ses fonctions de virtualisation (Hyper-V, "
               "WSL, Docker).\n\nPour le vérifier, tapez dans une invite de commandes\u00A0:\n"
               "netsh interface ipv4 show excludedportrange protocol=tcp\n\n"
               "Si %1 se trouve dans l'une des plages affichées, redémarrez l'ordinateur puis "
               "relancez le programme\u202F; si la plage revient, faites appel à votre service "
               "informatique.")
        .arg(server::HTTPServer::kPort);
}

QString otherFailure() {
    return QStringLiteral(
        "Le programme ne peut pas recevoir les demandes de votre téléphone ou tablette. "
        "Fermez-le puis relancez-le\u202F; si ce message revient, redémarrez l'ordinateur.");
}

} // namespace

QString ListenErrorHelp::informativeText(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return inUse();
    case QAbstractSocket::SocketAccessError:
        return reserved();
    default:
        return otherFailure();
    }
}
