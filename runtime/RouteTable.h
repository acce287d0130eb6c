// What the operating system's routing and interface tables say about this machine's network
// interfaces, read without Qt so that each platform's reader stays a small, self-contained file.
#pragma once

#include <vector>

namespace runtime {

/// Interfaces named by the system's interface index, the number QNetworkInterface::index()
/// reports for the same interface; index 0 names none.
struct RouteFacts {
    /// The interface of the IPv4 default route the system would use (lowest metric); 0 if none.
    unsigned defaultRouteIndex = 0;
    /// Interfaces the system itself reports as software-only: VPN tunnels, virtual switches,
    /// container bridges and the like. Order carries no meaning.
    std::vector<unsigned> softwareIndexes;
};

/// Reads the facts afresh from the system; whatever the system will not tell stays empty.
RouteFacts readRouteFacts();

} // namespace runtime
