// Reading a regular file through one handle on Windows.
#include "runtime/RegularFile.h"

#include "runtime/ExtendedPath.h"

#include <windows.h>

namespace runtime {

namespace {

class Handle {
public:
    explicit Handle(HANDLE handle)
        : m_handle(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (m_handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(m_handle);
    }
    HANDLE get() const { return m_handle; }

private:
    HANDLE m_handle;
};

bool isMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME ||
           error == ERROR_FILENAME_EXCED_RANGE;
}

} // namespace

RegularFileRead readRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes) {
    using Outcome = RegularFileRead::Outcome;
    // Others may go on reading, writing, renaming or deleting it: the user's key is only read.
    // A folder does not open without backup semantics; a device opens, and is refused below.
    // The extended form, as Qt uses for its own calls: without it a path beyond 259 characters
    // fails unless the system's long-path policy is on, which Windows 7 and 8 do not have.
    const std::wstring name = extendedPath(path.native());
    const Handle file(::CreateFileW(name.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return {isMissing(::GetLastError()) ? Outcome::Missing : Outcome::Unopenable, {}};
    BY_HANDLE_FILE_INFORMATION information{};
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        return {Outcome::NotRegular, {}};
    if (!::GetFileInformationByHandle(file.get(), &information))
        return {Outcome::ReadFailed, {}};
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return {Outcome::NotRegular, {}};
    const std::uint64_t size =
        (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
    if (size > maxBytes)
        return {Outcome::TooLarge, {}};

    RegularFileRead result{Outcome::Read, std::string(size + 1, '\0')};
    std::size_t total = 0;
    while (total < result.bytes.size()) {
        DWORD got = 0;
        if (!::ReadFile(file.get(), result.bytes.data() + total,
                        static_cast<DWORD>(result.bytes.size() - total), &got, nullptr))
            return {Outcome::ReadFailed, {}};
        if (got == 0)
            break;
        total += got;
    }
    // One byte beyond the size it had when opened: it is growing, or it does not tell its size.
    if (total > size)
        return {Outcome::TooLarge, {}};
    result.bytes.resize(total);
    return result;
}

} // namespace runtime
