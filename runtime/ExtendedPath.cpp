// The extended-length form of a Windows path.
#include "runtime/ExtendedPath.h"

#include <utility>
#include <vector>

namespace runtime {

namespace {

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";

bool isSeparator(wchar_t c) {
    return c == L'/' || c == L'\\';
}

bool isDriveLetter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// `root` followed by each name of `rest`, behind a backslash, as the system would clean it up:
// empty names and "." dropped, and ".." taking away the name before it but never `root`.
std::wstring withNames(std::wstring root, std::wstring_view rest) {
    std::vector<std::wstring_view> names;
    while (!rest.empty()) {
        std::size_t end = 0;
        while (end < rest.size() && !isSeparator(rest[end]))
            ++end;
        const std::wstring_view name = rest.substr(0, end);
        if (name == L"..") {
            if (!names.empty())
                names.pop_back();
        } else if (!name.empty() && name != L".") {
            names.push_back(name);
        }
        rest.remove_prefix(end == rest.size() ? end : end + 1);
    }
    for (const std::wstring_view name : names)
        root.append(1, L'\\').append(name);
    return root;
}

} // namespace

std::wstring extendedPath(std::wstring_view path) {
    if (path.size() >= 3 && isDriveLetter(path[0]) && path[1] == L':' && isSeparator(path[2])) {
        std::wstring extended =
            withNames(std::wstring(kExtendedPrefix).append(path.substr(0, 2)), path.substr(3));
        // "\\?\C:" alone would name the volume, not its root folder.
        if (extended.size() == kExtendedPrefix.size() + 2)
            extended += L'\\';
        return extended;
    }
    if (path.size() < 2 || !isSeparator(path[0]) || !isSeparator(path[1]))
        return std::wstring(path);
    const std::wstring_view afterSlashes = path.substr(2);
    const std::size_t serverEnd = afterSlashes.find_first_of(L"\\/");
    const std::wstring_view server = afterSlashes.substr(0, serverEnd);
    // "\\?\" and "\\.\" are in the system's own namespaces already; "\\server" alone is no share.
    if (server.empty() || server == L"?" || server == L"." || serverEnd == std::wstring_view::npos)
        return std::wstring(path);
    const std::wstring_view afterServer = afterSlashes.substr(serverEnd + 1);
    const std::wstring_view share = afterServer.substr(0, afterServer.find_first_of(L"\\/"));
    if (share.empty())
        return std::wstring(path);
    std::wstring root = std::wstring(kExtendedPrefix).append(L"UNC\\");
    root.append(server).append(1, L'\\').append(share);
    return withNames(std::move(root), afterServer.substr(share.size()));
}

} // namespace runtime
