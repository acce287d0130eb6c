// The two things the key server needs of a raw socket descriptor that Qt's sockets do not offer.
#pragma once

#include <QtGlobal>

namespace runtime {

class SocketDescriptor {
public:
    SocketDescriptor() = delete;

    /// Closes `descriptor`; for one that no Qt socket has taken over (its set-up failed).
    static void close(qintptr descriptor);

    /// True when the peer has ended its sending side and every byte it sent has been read;
    /// false while bytes wait, while the stream is open, and on any error. Never blocks
    /// (the descriptor is non-blocking) and consumes nothing.
    static bool peerFinishedSending(qintptr descriptor);
};

} // namespace runtime
