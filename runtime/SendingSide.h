// Ending the sending side of a connected socket, which Qt's sockets cannot do. Free of Qt, one
// source file per platform, so that the Linux CI compiles the Windows one with mingw-w64.
#pragma once

#include <cstdint>

namespace runtime {

/// Ends the sending side of the connected socket `descriptor`: the peer reads the end of the
/// stream once every byte already handed to the system has reached it, and the socket still
/// reads what the peer sends. False when the system refuses (the connection is gone already).
bool shutdownSending(std::intptr_t descriptor);

/// The bytes of `descriptor`'s sending side that the system still holds, unsent or not yet
/// acknowledged by the peer; -1 where the system does not tell (Windows).
int unsentInSystem(std::intptr_t descriptor);

/// Makes closing `descriptor` a reset: the system drops what it still holds for the peer.
void resetOnClose(std::intptr_t descriptor);

} // namespace runtime
