// Reading a regular file through one descriptor on Linux and other POSIX systems.
#include "runtime/RegularFile.h"

#include <QtGlobal>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#error "This file holds the POSIX file calls; Windows has RegularFileWin.cpp."
#endif

namespace runtime {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd)
        : m_fd(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

RegularFileRead readRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes) {
    using Outcome = RegularFileRead::Outcome;
    // Non-blocking, so that a FIFO put in the file's place opens at once instead of waiting for
    // a writer; no controlling terminal taken from a device.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.get() < 0)
        return {errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG ? Outcome::Missing
                                                                             : Outcome::Unopenable,
                {}};
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        return {Outcome::ReadFailed, {}};
    if (!S_ISREG(status.st_mode))
        return {Outcome::NotRegular, {}};
    const auto size = static_cast<std::uint64_t>(status.st_size);
    if (size > maxBytes)
        return {Outcome::TooLarge, {}};
    // A regular file ignores the flag on most file systems; not all (FUSE), so reads block again.
    if (const int flags = ::fcntl(file.get(), F_GETFL); flags >= 0)
        ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK);

    RegularFileRead result{Outcome::Read, std::string(size + 1, '\0')};
    std::size_t total = 0;
    while (total < result.bytes.size()) {
        const ssize_t got =
            ::read(file.get(), result.bytes.data() + total, result.bytes.size() - total);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return {Outcome::ReadFailed, {}};
        if (got == 0)
            break;
        total += static_cast<std::size_t>(got);
    }
    // One byte beyond the size it had when opened: it is growing, or it does not tell its size.
    if (total > size)
        return {Outcome::TooLarge, {}};
    result.bytes.resize(total);
    return result;
}

} // namespace runtime
