// The things the key server needs of a raw socket descriptor that Qt's sockets do not offer. Free
// of Qt, one source file per platform, so that the Linux CI compiles the Windows one with
// mingw-w64.
#pragma once

#include <array>
#include <cstdint>

namespace runtime {

class SocketDescriptor {
public:
    SocketDescriptor() = delete;

    enum class AcceptFailure {
        /// No client is waiting.
        NoneWaiting,
        /// That one client went away before it was accepted, or a signal interrupted: try again.
        Transient,
        /// The process or the system is out of descriptors, buffers or memory.
        OutOfResources,
        /// Anything else.
        Other,
    };

    struct Accepted {
        /// The new connection's descriptor, or -1 with `failure` saying why.
        std::intptr_t descriptor = -1;
        AcceptFailure failure = AcceptFailure::Other;
    };

    /// A peer's address as the system reports it.
    struct PeerAddress {
        enum class Family { Unknown, IPv4, IPv6 };
        Family family = Family::Unknown;
        /// IPv4: the first four bytes; IPv6: all sixteen. Network byte order.
        std::array<std::uint8_t, 16> bytes{};
    };

    /// Accepts one waiting client on the non-blocking listening socket `listening`; never
    /// blocks.
    static Accepted accept(std::intptr_t listening);

    /// Closes `descriptor`; for one that no Qt socket has taken over (its set-up failed).
    static void close(std::intptr_t descriptor);

    /// True when the peer has ended its sending side and every byte it sent has been read;
    /// false while bytes wait, while the stream is open, and on any error. Never blocks
    /// (the descriptor is non-blocking) and consumes nothing.
    static bool peerFinishedSending(std::intptr_t descriptor);

    /// The address of the peer of the connected socket `descriptor`; family Unknown when the
    /// system cannot tell (the peer has gone already) or it is neither IPv4 nor IPv6.
    static PeerAddress peerAddress(std::intptr_t descriptor);
};

} // namespace runtime
