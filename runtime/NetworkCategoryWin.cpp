// Network categories on Windows, from the Network List Manager (since Vista, so the Windows 7
// build has it too). Free of Qt, so that the Linux CI compiles it with mingw-w64.
#include "runtime/NetworkCategory.h"

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

#include <objbase.h>

#include <netlistmgr.h>

#include <vector>

namespace runtime {

namespace {

// CLSID_NetworkListManager, spelled out so that no import library has to provide it.
constexpr CLSID kNetworkListManager = {
    0xdcb00c01, 0x570f, 0x4a9b, {0x8d, 0x69, 0x19, 0x9f, 0xdb, 0xa5, 0x72, 0x3b}};

// The adapter that holds `ipv4`, as the GUID the Network List Manager names adapters by.
bool adapterHolding(std::uint32_t ipv4, GUID& adapterId) {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    // The list may grow between the call that sizes it and the one that fills it.
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(
            AF_INET, GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER,
            nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR)
        return false;
    for (auto* adapter = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter;
         adapter = adapter->Next) {
        for (auto* entry = adapter->FirstUnicastAddress; entry; entry = entry->Next) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->Address.lpSockaddr);
            if (address->sin_family == AF_INET && ntohl(address->sin_addr.s_addr) == ipv4)
                return ConvertInterfaceLuidToGuid(&adapter->Luid, &adapterId) == NO_ERROR;
        }
    }
    return false;
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

NetworkCategory networkCategoryOf(std::uint32_t ipv4) {
    GUID adapterId{};
    if (!adapterHolding(ipv4, adapterId))
        return NetworkCategory::Unknown;
    // The GUI thread is already in a single-threaded apartment (Qt's drag and drop needs one);
    // this only balances its own call, and works in whatever apartment the thread is in.
    const HRESULT joined = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
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
