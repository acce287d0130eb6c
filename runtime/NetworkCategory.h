// The category Windows gives a network (public, private, domain), which decides whether the
// installer's firewall rule, for private and domain networks, lets the phone in.
#pragma once

#include <cstdint>

namespace runtime {

enum class NetworkCategory {
    Unknown, ///< Not on Windows, no connected network holds the address, or Windows will not say.
    Public,
    Private,
    Domain,
};

/// The category of the network that the interface holding `ipv4` (host byte order) is connected
/// to. Asks the system each time; never blocks for long and never fails, whatever it answers.
NetworkCategory networkCategoryOf(std::uint32_t ipv4);

} // namespace runtime
