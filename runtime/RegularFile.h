// Reading a small file that must be a regular one, safely against whatever stands under its name:
// opened without blocking, checked and read through the one handle. Free of Qt, one source file
// per platform, so that the Linux CI compiles the Windows one with mingw-w64.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace runtime {

struct RegularFileRead {
    enum class Outcome {
        /// `bytes` holds the whole file.
        Read,
        /// Nothing of that name, or a name the system cannot hold.
        Missing,
        /// Something of that name that is not a regular file (a folder, FIFO, device, socket).
        NotRegular,
        /// A regular file, or something else, that could not be opened (no permission, locked).
        Unopenable,
        /// Larger than the limit, or more bytes came than its size said when it was opened.
        TooLarge,
        /// Reading failed part-way.
        ReadFailed,
    };
    Outcome outcome = Outcome::ReadFailed;
    std::string bytes;
};

/// Opens `path` without blocking (a FIFO or device never blocks the open), checks through the
/// opened handle that it is a regular file of at most `maxBytes` bytes, and reads it through that
/// same handle, stopping once its size and one byte more are in. Only the read itself may take
/// long (a stalled network share, a cloud placeholder being fetched). Safe on any thread.
RegularFileRead readRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes);

} // namespace runtime
