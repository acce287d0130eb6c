// Windows sets no per-process limit on sockets that a program meets as POSIX systems do.
#include "runtime/DescriptorLimit.h"

namespace runtime {

long long openDescriptorLimit() {
    return -1;
}

} // namespace runtime
