// The table of local address ranges.
#include "runtime/AddressRanges.h"

#include <QList>
#include <QPair>

namespace runtime {

namespace {

struct Range {
    QPair<QHostAddress, int> subnet;
    LocalRange kind;
};

// Parsed once: the peer rule runs for every client that connects.
const QList<Range>& ranges() {
    const auto parse = [](const char* text) {
        return QHostAddress::parseSubnet(QString::fromLatin1(text));
    };
    static const QList<Range> table{
        {parse("127.0.0.0/8"), LocalRange::Loopback},
        {parse("10.0.0.0/8"), LocalRange::Private},
        {parse("172.16.0.0/12"), LocalRange::Private},
        {parse("192.168.0.0/16"), LocalRange::Private},
        {parse("169.254.0.0/16"), LocalRange::LinkLocal},
        {parse("100.64.0.0/10"), LocalRange::Shared},
        {parse("::1/128"), LocalRange::Loopback},
        {parse("fc00::/7"), LocalRange::UniqueLocal},
        {parse("fe80::/10"), LocalRange::LinkLocal},
    };
    return table;
}

} // namespace

std::optional<LocalRange> localRangeOf(const QHostAddress& address) {
    for (const Range& range : ranges()) {
        if (address.isInSubnet(range.subnet))
            return range.kind;
    }
    return std::nullopt;
}

} // namespace runtime
