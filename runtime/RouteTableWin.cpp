// Routing facts on Windows, from the IP Helper API. Free of Qt, so that the Linux CI compiles it
// with mingw-w64 and it cannot rot between Windows builds.
#include "runtime/RouteTable.h"

#include "runtime/IpHelperWin.h"

namespace runtime {

namespace {

// The interface the system itself would send a packet to the internet through: the system
// applies its own routes and its route and interface metrics, so the answer is Windows' own.
// Nothing is sent. The address is one reserved for documentation, which no default route
// excludes.
unsigned defaultRouteIndex() {
    sockaddr_in outside{};
    outside.sin_family = AF_INET;
    outside.sin_addr.s_addr = htonl(0xC6336401); // 198.51.100.1
    DWORD index = 0;
    if (GetBestInterfaceEx(reinterpret_cast<sockaddr*>(&outside), &index) != NO_ERROR)
        return 0;
    return index;
}

// Adapters no hardware backs: VPN clients, Hyper-V and WSL switches, hypervisor host-only cards.
std::vector<unsigned> softwareIndexes() {
    PMIB_IF_TABLE2 table = nullptr;
    if (GetIfTable2(&table) != NO_ERROR)
        return {};
    std::vector<unsigned> result;
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IF_ROW2& row = table->Table[i];
        if (!row.InterfaceAndOperStatusFlags.HardwareInterface &&
            row.Type != IF_TYPE_SOFTWARE_LOOPBACK)
            result.push_back(row.InterfaceIndex);
    }
    FreeMibTable(table);
    return result;
}

} // namespace

RouteFacts readRouteFacts() {
    return RouteFacts{defaultRouteIndex(), softwareIndexes()};
}

} // namespace runtime
