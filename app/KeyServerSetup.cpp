// The key server, as the window runs it.
#include "app/KeyServerSetup.h"

#include "app/Alert.h"
#include "app/ListenErrorHelp.h"
#include "app/StatusLine.h"

#include <QApplication>
#include <QMessageBox>
#include <QWidget>

namespace {

void showListenError(QWidget* window, const QString& text, QAbstractSocket::SocketError error) {
    QMessageBox box(QMessageBox::Critical, QApplication::applicationName(), text, QMessageBox::Ok,
                    window);
    box.setTextFormat(Qt::PlainText);
    // The text stays exactly as the server wrote it; what to do about it goes beneath.
    box.setInformativeText(ListenErrorHelp::informativeText(error));
    box.exec();
}

} // namespace

server::HTTPServer* startKeyServer(QWidget* window, const KeyServerSetup& setup) {
    server::UserNotices notices;
    notices.alert = [alert = setup.alert] { alert->sound(); };
    notices.messageBox = [window](const QString& text, QAbstractSocket::SocketError error) {
        showListenError(window, text, error);
    };
    auto* keyServer =
        new server::HTTPServer(setup.source, std::move(notices), window, setup.limits);
    QObject::connect(keyServer, &server::HTTPServer::deviceEvent, setup.status,
                     &StatusLine::report);
    QObject::connect(keyServer, &server::HTTPServer::listenFailed, setup.status,
                     &StatusLine::reportStopped);
    keyServer->setPort(setup.port);
    keyServer->setMinimumSocketsAvailable(server::HTTPServer::kSpareSockets);
    // Peers on this computer's own subnets are served whatever their address space, so the
    // server follows the interfaces as the pairing code follows the address: read now, and
    // given again on any change the watch sees, as the watch read them, never per connection.
    setup.addressWatch->read();
    keyServer->setLocalInterfaces(setup.addressWatch->interfaces());
    QObject::connect(setup.addressWatch, &runtime::AddressWatch::interfacesChanged, keyServer,
                     &server::HTTPServer::setLocalInterfaces);
    keyServer->Listen();
    return keyServer;
}
