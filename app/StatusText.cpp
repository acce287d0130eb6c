// Shortening a status line by its names only.
#include "app/StatusText.h"

#include <QFontMetrics>

#include <algorithm>
#include <numeric>

namespace {

const QString kEllipsis = QStringLiteral("…");

// The first and last characters of `name` around "…", a character being a whole code point.
QString ends(const QString& name) {
    const int size = static_cast<int>(name.size());
    const int head = size > 1 && name.at(0).isHighSurrogate() ? 2 : 1;
    const int tail = size > 1 && name.at(size - 1).isLowSurrogate() ? 2 : 1;
    if (head + tail + 1 >= size)
        return name;
    return name.left(head) + kEllipsis + name.right(tail);
}

} // namespace

StatusText& StatusText::append(Kind kind, const QString& text) {
    m_pieces.append({kind, text});
    return *this;
}

StatusText& StatusText::words(const QString& text) {
    return append(Kind::Words, text);
}

StatusText& StatusText::keyName(const QString& name) {
    words(QStringLiteral("«\u202F"));
    append(Kind::KeyName, name);
    return words(QStringLiteral("\u202F»"));
}

StatusText& StatusText::address(const QString& address) {
    return append(Kind::Address, address);
}

QString StatusText::whole() const {
    QString line;
    for (const Piece& piece : m_pieces)
        line += piece.text;
    return line;
}

QString StatusText::fitted(const QFontMetrics& metrics, int width) const {
    for (const bool keyNameEnds : {false, true}) {
        QString line = fittedNames(metrics, width, keyNameEnds);
        if (metrics.horizontalAdvance(line) <= width)
            return line;
    }
    return metrics.elidedText(whole(), Qt::ElideMiddle, width);
}

// The line with the names shortened to share the room the other pieces leave: the narrowest
// names keep their whole width while the others split what remains.
QString StatusText::fittedNames(const QFontMetrics& metrics, int width, bool keyNameEnds) const {
    QStringList texts;
    QList<int> shortened;
    int room = width;
    for (const Piece& piece : m_pieces) {
        QString text = piece.text;
        if (piece.kind == Kind::KeyName && keyNameEnds)
            text = ends(text);
        if (piece.kind == Kind::Address || (piece.kind == Kind::KeyName && !keyNameEnds))
            shortened.append(static_cast<int>(texts.size()));
        else
            room -= metrics.horizontalAdvance(text);
        texts.append(text);
    }
    std::sort(shortened.begin(), shortened.end(), [&](int a, int b) {
        return metrics.horizontalAdvance(texts.at(a)) < metrics.horizontalAdvance(texts.at(b));
    });
    for (int left = static_cast<int>(shortened.size()); left > 0; --left) {
        const int index = shortened.at(static_cast<int>(shortened.size()) - left);
        const QString original = texts.at(index);
        QString fitted = metrics.elidedText(original, Qt::ElideMiddle, std::max(room / left, 0));
        // A key name is never cut shorter than its two ends: past that, nothing names it.
        if (m_pieces.at(index).kind == Kind::KeyName &&
            metrics.horizontalAdvance(fitted) < metrics.horizontalAdvance(ends(original)))
            fitted = ends(original);
        room -= metrics.horizontalAdvance(fitted);
        texts[index] = fitted;
    }
    return std::accumulate(texts.begin(), texts.end(), QString());
}
