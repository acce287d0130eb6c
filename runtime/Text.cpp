// Text helpers with the counting rules the tool is written against.
#include "runtime/Text.h"

#include "runtime/QtSize.h"

#include <algorithm>
#include <cmath>

namespace runtime {

bool textEquals(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

QString Right(const QString& s, qsizetype n) {
    if (n <= 0)
        return {};
    return s.right(qtSize(std::min<qsizetype>(n, s.size())));
}

QByteArray NthField(const QByteArray& s, char separator, int k) {
    if (k < 1)
        return {};
    qsizetype start = 0;
    for (int field = 1; field < k; ++field) {
        const qsizetype next = s.indexOf(separator, qtSize(start));
        if (next < 0)
            return {};
        start = next + 1;
    }
    const qsizetype end = s.indexOf(separator, qtSize(start));
    return s.mid(qtSize(start), qtSize(end < 0 ? -1 : end - start));
}

int Round(double x) {
    return static_cast<int>(std::lround(x));
}

} // namespace runtime
