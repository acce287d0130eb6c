// Ending a test client's sending side, as a script does once its request is out.
#pragma once

class QTcpSocket;

/// Shuts down the sending side of `socket`'s connection (the peer then reads end of stream)
/// while it can still read; false when the system refuses.
bool shutdownSending(QTcpSocket& socket);
