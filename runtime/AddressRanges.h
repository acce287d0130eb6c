// The address ranges that never reach beyond the local network, in one table for the address
// choice and the rule for which peers are served.
#pragma once

#include <QHostAddress>

#include <optional>

namespace runtime {

/// The kind of local range an address lies in.
enum class LocalRange {
    Loopback,    ///< 127/8, ::1
    Private,     ///< 10/8, 172.16/12, 192.168/16
    LinkLocal,   ///< 169.254/16, fe80::/10
    Shared,      ///< 100.64/10, a carrier's own network
    UniqueLocal, ///< fc00::/7
};

/// Which local range `address` lies in, as given (an IPv4-mapped IPv6 address is not unwrapped);
/// nullopt for every other address, malformed ones included.
std::optional<LocalRange> localRangeOf(const QHostAddress& address);

} // namespace runtime
