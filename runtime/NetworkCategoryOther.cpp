// Network categories where the system has none: elsewhere than on Windows, no firewall rule of
// ours depends on one.
#include "runtime/NetworkCategory.h"

namespace runtime {

NetworkCategory networkCategoryOf(int /*interfaceIndex*/) {
    return NetworkCategory::Unknown;
}

} // namespace runtime
