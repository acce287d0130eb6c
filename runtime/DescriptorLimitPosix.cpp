// The descriptor limit on POSIX systems: the soft limit, which is the one open() and accept()
// meet.
#include "runtime/DescriptorLimit.h"

#include <sys/resource.h>

namespace runtime {

long long openDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return -1;
    return static_cast<long long>(limit.rlim_cur);
}

} // namespace runtime
