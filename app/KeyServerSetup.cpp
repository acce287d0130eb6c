// The key server, as the window runs it.
#include "app/KeyServerSetup.h"

#include "app/Alert.h"
#include "app/ListenErrorHelp.h"
#include "app/StatusLine.h"
#include "runtime/FreedMemory.h"

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
    server::ServerOptions options;
    options.limits = setup.limits;
    options.clock = setup.clock;
    auto* keyServer = new server::HTTPServer(setup.source, window, options);
    // Every GET sounds the alert once, as it is read, whatever its answer; a refused device
    // sends none that is read.
    QObject::connect(keyServer, &server::HTTPServer::getReceived, setup.alert, &Alert::sound);
    QObject::connect(keyServer, &server::HTTPServer::deviceEvent, setup.status,
                     &StatusLine::report);
    // The status line first, so that it already says so behind the modal message box.
    QObject::connect(keyServer, &server::HTTPServer::listenFailed, setup.status,
                     &StatusLine::reportStopped);
    QObject::connect(keyServer, &server::HTTPServer::listenFailed, window,
                     [window](QAbstractSocket::SocketError error) {
                         showListenError(window,
                                         QStringLiteral("Server Error: ") + QString::number(error),
                                         error);
                     });
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
    // A flood's connections, once gone, leave their memory with the C library; given back
    // here, the program's footprint returns to what it was before.
    new runtime::FreedMemory(*setup.clock, keyServer);
    return keyServer;
}
