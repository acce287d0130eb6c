// Builds the window's key server and wires it to what the user sees and hears: the status line,
// the alert, the listening error's message box, and the interfaces whose subnets it serves.
#pragma once

#include "runtime/AddressWatch.h"
#include "runtime/Clock.h"
#include "server/HTTPServer.h"

class Alert;
class QWidget;
class StatusLine;

struct KeyServerSetup {
    server::KeySource source;
    quint16 port = server::HTTPServer::kPort;
    server::ServerLimits limits;
    runtime::Clock* clock = &runtime::Clock::system();
    Alert* alert = nullptr;
    StatusLine* status = nullptr;
    /// Read when the server starts, and followed from then on.
    runtime::AddressWatch* addressWatch = nullptr;
};

/// A new key server owned by `window`, wired as `setup` says, listening (or about to report why it
/// cannot, over `window`).
server::HTTPServer* startKeyServer(QWidget* window, const KeyServerSetup& setup);
