// The category Windows gives a network (public, private, domain), which decides whether the
// installer's firewall rule, for private and domain networks, lets the phone in.
#pragma once

namespace runtime {

enum class NetworkCategory {
    Unknown, ///< Not on Windows, no connected network holds the address, or Windows will not say.
    Public,
    Private,
    Domain,
};

/// The category of the network that the interface of system index `interfaceIndex` (as
/// InterfaceInfo::index gives it; 0 for none) is connected to. Asks the system each time, which
/// can take a moment: call it off the GUI thread. Never fails, whatever it answers.
NetworkCategory networkCategoryOf(int interfaceIndex);

} // namespace runtime
