// Routing facts on Windows, from the IP Helper API. Free of Qt, so that the Linux CI compiles it
// with mingw-w64 and it cannot rot between Windows builds.
#include "runtime/RouteTable.h"

#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601 // Windows 7, the oldest system the Qt 5 build serves
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
// Windows' headers must come in this order, so each stands alone against the formatter's sorting.
#include <winsock2.h>

#include <ws2ipdef.h>

#include <iphlpapi.h>

#include <netioapi.h>

#include <limits>

namespace runtime {

namespace {

// Windows picks among default routes by the sum of the route's and its interface's metric.
ULONG effectiveMetric(const MIB_IPFORWARD_ROW2& route) {
    MIB_IPINTERFACE_ROW row;
    InitializeIpInterfaceEntry(&row);
    row.Family = AF_INET;
    row.InterfaceIndex = route.InterfaceIndex;
    if (GetIpInterfaceEntry(&row) != NO_ERROR || !row.Connected)
        return std::numeric_limits<ULONG>::max();
    return route.Metric + row.Metric;
}

unsigned defaultRouteIndex() {
    PMIB_IPFORWARD_TABLE2 table = nullptr;
    if (GetIpForwardTable2(AF_INET, &table) != NO_ERROR)
        return 0;
    unsigned best = 0;
    ULONG bestMetric = std::numeric_limits<ULONG>::max();
    for (ULONG i = 0; i < table->NumEntries; ++i) {
        const MIB_IPFORWARD_ROW2& route = table->Table[i];
        if (route.DestinationPrefix.PrefixLength != 0)
            continue;
        const ULONG metric = effectiveMetric(route);
        if (metric < bestMetric) {
            best = route.InterfaceIndex;
            bestMetric = metric;
        }
    }
    FreeMibTable(table);
    return best;
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
