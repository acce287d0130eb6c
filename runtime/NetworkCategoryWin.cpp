// Network categories on Windows, from the Network List Manager (since Vista, so the Windows 7
// build has it too). Free of Qt, so that the Linux CI compiles it with mingw-w64.
#include "runtime/NetworkCategory.h"

#include "runtime/IpHelperWin.h"

// After the IP Helper headers, which bring in the rest of Windows' own.
#include <objbase.h>

#include <netlistmgr.h>

namespace runtime {

namespace {

// CLSID_NetworkListManager, spelled out so that no import library has to provide it.
constexpr CLSID kNetworkListManager = {
    0xdcb00c01, 0x570f, 0x4a9b, {0x8d, 0x69, 0x19, 0x9f, 0xdb, 0xa5, 0x72, 0x3b}};

// The interface of that index, as the GUID the Network List Manager names adapters by. A
// conversion only: the interfaces were read already, by whoever chose the index.
bool adapterOf(int interfaceIndex, GUID& adapterId) {
    NET_LUID luid{};
    return interfaceIndex > 0 &&
           ConvertInterfaceIndexToLuid(static_cast<NET_IFINDEX>(interfaceIndex), &luid) ==
               NO_ERROR &&
           ConvertInterfaceLuidToGuid(&luid, &adapterId) == NO_ERROR;
}

NetworkCategory categoryOf(INetwork* network) {
    NLM_NETWORK_CATEGORY category = NLM_NETWORK_CATEGORY_PUBLIC;
    if (network->GetCategory(&category) < 0)
        return NetworkCategory::Unknown;
    switch (category) {
    case NLM_NETWORK_CATEGORY_PUBLIC:
        return NetworkCategory::Public;
    case NLM_NETWORK_CATEGORY_PRIVATE:
        return NetworkCategory::Private;
    case NLM_NETWORK_CATEGORY_DOMAIN_AUTHENTICATED:
        return NetworkCategory::Domain;
    }
    return NetworkCategory::Unknown;
}

NetworkCategory categoryOfAdapter(INetworkListManager* manager, const GUID& adapterId) {
    IEnumNetworkConnections* connections = nullptr;
    if (manager->GetNetworkConnections(&connections) < 0 || !connections)
        return NetworkCategory::Unknown;
    NetworkCategory result = NetworkCategory::Unknown;
    INetworkConnection* connection = nullptr;
    while (result == NetworkCategory::Unknown &&
           connections->Next(1, &connection, nullptr) == S_OK && connection) {
        GUID id{};
        INetwork* network = nullptr;
        if (connection->GetAdapterId(&id) >= 0 && IsEqualGUID(id, adapterId) &&
            connection->GetNetwork(&network) >= 0 && network) {
            result = categoryOf(network);
            network->Release();
        }
        connection->Release();
        connection = nullptr;
    }
    connections->Release();
    return result;
}

} // namespace

NetworkCategory networkCategoryOf(int interfaceIndex) {
    GUID adapterId{};
    if (!adapterOf(interfaceIndex, adapterId))
        return NetworkCategory::Unknown;
    // Asked from a worker thread: the multithreaded apartment needs no message loop. The call is
    // balanced here, and the query works in whatever apartment the thread already is in.
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    NetworkCategory result = NetworkCategory::Unknown;
    INetworkListManager* manager = nullptr;
    if (CoCreateInstance(kNetworkListManager, nullptr, CLSCTX_ALL, __uuidof(INetworkListManager),
                         reinterpret_cast<void**>(&manager)) >= 0 &&
        manager) {
        result = categoryOfAdapter(manager, adapterId);
        manager->Release();
    }
    if (joined >= 0)
        CoUninitialize();
    return result;
}

} // namespace runtime
