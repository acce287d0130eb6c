// What a well-formed reply of the key server looks like, for the fuzz targets to check against.
#pragma once

#include "support/ExpectedReplies.h"

#include <QByteArray>
#include <QByteArrayList>

#include <cstdlib>

namespace fuzzing {

// The error bodies as the phone app expects them, shared with the tests.
inline const QByteArrayList kErrorBodies{
    expected::kNoPath,     expected::kNoKey,   expected::kNotSelected, expected::kNotFound,
    expected::kUnreadable, expected::kBadSize, expected::kUnknown,
};

/// Whether `body` is an error body, or hands out `keyText` under a name equal to `selected`
/// but for ASCII letter case.
inline bool isDescribedBody(const QByteArray& body, const QByteArray& selected,
                            const QByteArray& keyText) {
    if (kErrorBodies.contains(body))
        return true;
    const QByteArray tail = "</F><D>" + keyText + "</D>";
    if (!body.startsWith("<B>1</B><F>") || !body.endsWith(tail))
        return false;
    const QByteArray name = body.mid(11, body.size() - 11 - tail.size());
    return !selected.isEmpty() && name.toLower() == selected.toLower();
}

/// Splits `stream` into whole replies; aborts when any part of it is not one.
inline QByteArrayList splitReplies(const QByteArray& stream) {
    static const QByteArray lengthField = "Content-Length: ";
    QByteArrayList bodies;
    qsizetype at = 0;
    while (at < stream.size()) {
        // The length is read from the header; then the whole reply must be exactly what
        // expected::wire() makes of the body it announces.
        const qsizetype field = stream.indexOf(lengthField, at);
        const qsizetype lineEnd = field < 0 ? -1 : stream.indexOf("\r\n", field);
        const qsizetype digits = field + lengthField.size();
        bool ok = false;
        const qsizetype length =
            lineEnd < 0 ? -1 : stream.mid(digits, lineEnd - digits).toLongLong(&ok);
        const qsizetype headerEnd = lineEnd < 0 ? -1 : stream.indexOf("\r\n\r\n", lineEnd);
        if (!ok || length < 0 || headerEnd < 0 || headerEnd + 4 + length > stream.size())
            std::abort();
        const QByteArray body = stream.mid(headerEnd + 4, length);
        const qsizetype end = headerEnd + 4 + length;
        if (stream.mid(at, end - at) != expected::wire(body))
            std::abort();
        bodies << body;
        at = end;
    }
    return bodies;
}

} // namespace fuzzing
