// The connections the descriptor limit leaves room for.
#include "server/DescriptorBudget.h"

#include "runtime/DescriptorLimit.h"

#include <algorithm>

namespace server {

ConnectionBudget connectionBudget(long long descriptorLimit) {
    if (descriptorLimit < 0)
        return {};
    const auto places = static_cast<int>(
        std::clamp<long long>(descriptorLimit - kOwnDescriptors, kFewestPlaces, kMostPlaces));
    const int reserved = places / 9;
    return {places - reserved, reserved};
}

ConnectionBudget connectionBudget() {
    return connectionBudget(runtime::openDescriptorLimit());
}

} // namespace server
