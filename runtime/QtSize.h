// Sizes and positions handed to Qt: Qt 6 counts in qsizetype, Qt 5 (the Windows 7 and 8 build)
// in int, and MSVC stops that build at every silent narrowing.
#pragma once

#include <QtGlobal>

namespace runtime {

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
using QtSize = int;
#else
using QtSize = qsizetype;
#endif

/// `n` as Qt's count type. For sizes and positions within one of Qt's own containers, which
/// under Qt 5 never exceed int.
constexpr QtSize qtSize(qsizetype n) {
    return static_cast<QtSize>(n);
}

} // namespace runtime
