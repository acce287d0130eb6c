// Routing facts on Linux, from the kernel's /proc and /sys views. Other Unix systems have
// neither view and report no facts, so the address choice falls back on its other rules.
#include "runtime/RouteTable.h"

#include <QtGlobal>

#ifdef Q_OS_LINUX
#include <net/if.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#endif

namespace runtime {

#ifdef Q_OS_LINUX
namespace {

constexpr unsigned long kRouteUp = 0x1; // RTF_UP in the kernel's route flags

unsigned defaultRouteIndex() {
    std::ifstream routes("/proc/net/route");
    std::string line;
    std::getline(routes, line); // column titles
    unsigned best = 0;
    unsigned long bestMetric = std::numeric_limits<unsigned long>::max();
    while (std::getline(routes, line)) {
        std::istringstream fields(line);
        std::string name, destination, gateway, mask;
        unsigned long flags = 0, references = 0, use = 0, metric = 0;
        fields >> name >> destination >> gateway >> std::hex >> flags >> std::dec >> references >>
            use >> metric >> mask;
        if (!fields || destination != "00000000" || mask != "00000000" || !(flags & kRouteUp))
            continue;
        if (metric < bestMetric) {
            const unsigned index = if_nametoindex(name.c_str());
            if (index != 0) {
                best = index;
                bestMetric = metric;
            }
        }
    }
    return best;
}

// The kernel lists every interface that no device backs under this folder.
std::vector<unsigned> softwareIndexes() {
    std::vector<unsigned> result;
    // Error codes throughout: a folder that cannot be read means no facts, never an exception.
    std::error_code error;
    for (std::filesystem::directory_iterator entry("/sys/devices/virtual/net", error), end;
         !error && entry != end; entry.increment(error)) {
        const unsigned index = if_nametoindex(entry->path().filename().c_str());
        if (index != 0)
            result.push_back(index);
    }
    return result;
}

} // namespace

RouteFacts readRouteFacts() {
    return RouteFacts{defaultRouteIndex(), softwareIndexes()};
}
#else
RouteFacts readRouteFacts() {
    return {};
}
#endif

} // namespace runtime
