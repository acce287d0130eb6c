// Counting the process's descriptors or handles.
#include "support/OpenHandles.h"

#include <QDir>

#if defined(Q_OS_WIN)
#include <windows.h>

#include <vector>
#endif

namespace {

#ifdef Q_OS_WIN
// The system's handle table, as NtQuerySystemInformation gives it
// (SystemExtendedHandleInformation): unlike GetProcessHandleCount, which Wine answers with 0, it
// counts under Wine as on Windows.
struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};
struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};
using QuerySystemInformation = LONG(NTAPI*)(ULONG, void*, ULONG, ULONG*);
constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);

int windowsHandles() {
    // Through a plain function pointer type first, as casts between function types require.
    const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (!query)
        return -1;
    std::vector<char> buffer(1 << 16);
    LONG status = 0;
    while ((status = query(kSystemExtendedHandleInformation, buffer.data(),
                           static_cast<ULONG>(buffer.size()), nullptr)) == kInfoLengthMismatch)
        buffer.resize(2 * buffer.size());
    if (status != 0)
        return -1;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    int count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        if (table->entries[i].processId == GetCurrentProcessId())
            ++count;
    }
    return count;
}
#endif

} // namespace

int openHandles() {
#if defined(Q_OS_WIN)
    return windowsHandles();
#elif defined(Q_OS_LINUX)
    return static_cast<int>(QDir(QStringLiteral("/proc/self/fd"))
                                .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
                                .size());
#else
    return -1;
#endif
}
