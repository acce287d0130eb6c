// A listening socket that holds its port for this program alone, where Qt's own would share it.
// Free of Qt; Windows only, where a port is shared unless asked otherwise.
#pragma once

#include <cstdint>

namespace runtime {

struct ExclusiveListener {
    enum class Failure {
        None,
        /// Another socket has the port already.
        AddressInUse,
        /// The system forbids this port (reserved, or blocked by policy).
        Access,
        /// The process or the system is out of descriptors, buffers or memory.
        OutOfResources,
        /// Anything else.
        Other,
    };
    /// The non-blocking listening socket, or -1 with `failure` saying why.
    std::intptr_t descriptor = -1;
    Failure failure = Failure::Other;
};

/// Listens on `port` (0: one the system chooses) of every address, IPv6 and IPv4 on one socket
/// (IPv4 alone where the system has no IPv6), with room for `backlog` clients waiting to be
/// accepted. No other socket can bind that port on any address while it is open, not even one
/// that asks to share it (SO_REUSEADDR). The caller owns the socket.
ExclusiveListener listenExclusively(std::uint16_t port, int backlog);

} // namespace runtime
