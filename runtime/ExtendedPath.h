// The extended-length form of a Windows path, which file calls take beyond 259 characters.
#pragma once

#include <string>
#include <string_view>

namespace runtime {

/// `path`, an absolute Windows path with either separator, in the extended-length form with
/// backslashes: "C:/a/b" becomes "\\?\C:\a\b", and a network share "//server/share/a" or
/// "\\server\share\a" becomes "\\?\UNC\server\share\a". That form turns the system's own clean-up
/// of the path off, so it is done here: repeated separators and "." are dropped, and ".." takes
/// away the name before it, never the drive or the share. A path already in that form, a device
/// path ("\\.\"), and one that is not absolute ("a\b", "C:a", "\a", a server without a share)
/// come back unchanged. Plain text work, the same on every platform.
std::wstring extendedPath(std::wstring_view path);

} // namespace runtime
