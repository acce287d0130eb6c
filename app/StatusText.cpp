// Shortening a status line by giving up its pieces in order, never its words.
#include "app/StatusText.h"

#include <QFontMetrics>
#include <QHostAddress>
#include <QTime>

#include <algorithm>
#include <iterator>
#include <optional>

namespace {

const QString kEllipsis = QStringLiteral("…");
constexpr QChar kReplacement(0xFFFD);

// The first and last characters of `name` around "…", a character being a whole code point.
QString ends(const QString& name) {
    const int size = static_cast<int>(name.size());
    const int head = size > 1 && name.at(0).isHighSurrogate() ? 2 : 1;
    const int tail = size > 1 && name.at(size - 1).isLowSurrogate() ? 2 : 1;
    if (head + tail + 1 >= size)
        return name;
    return name.left(head) + kEllipsis + name.right(tail);
}

bool opensEmbedding(QChar c) {
    return c == QChar(0x202A) || c == QChar(0x202B) || c == QChar(0x202D) || c == QChar(0x202E);
}

bool opensIsolate(QChar c) {
    return c >= QChar(0x2066) && c <= QChar(0x2068);
}

// `name` with each character that would break the line or reorder what follows it replaced: the
// C0 and C1 controls, the line and paragraph separators, and the directional controls that do
// not close what they open inside the name (balanced pairs stay: they reorder only their inside).
QString visible(QString name) {
    QList<int> open;
    for (int i = 0; i < static_cast<int>(name.size()); ++i) {
        const QChar c = name.at(i);
        if (c < QChar(0x20) || (c >= QChar(0x7F) && c <= QChar(0x9F)) ||
            c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            name[i] = kReplacement;
        } else if (opensEmbedding(c) || opensIsolate(c)) {
            open.append(i);
        } else if (c == QChar(0x202C)) {
            if (!open.isEmpty() && opensEmbedding(name.at(open.last())))
                open.removeLast();
            else
                name[i] = kReplacement;
        } else if (c == QChar(0x2069)) {
            // Closes its isolate and every embedding left open inside it.
            const auto isolate = std::find_if(
                open.rbegin(), open.rend(), [&name](int at) { return opensIsolate(name.at(at)); });
            if (isolate == open.rend()) {
                name[i] = kReplacement;
                continue;
            }
            const int kept = static_cast<int>(std::distance(isolate, open.rend())) - 1;
            for (int at = kept + 1; at < static_cast<int>(open.size()); ++at)
                name[open.at(at)] = kReplacement;
            open.erase(open.begin() + kept, open.end());
        }
    }
    for (const int at : open)
        name[at] = kReplacement;
    return name;
}

// An IPv6 address kept to its first group and its last two, which still tell two devices of one
// network apart; an IPv4 address, or one that is shorter whole, as it is.
QString keptAddress(const QHostAddress& address) {
    QString whole = address.toString();
    if (address.protocol() != QAbstractSocket::IPv6Protocol)
        return whole;
    const Q_IPV6ADDR bytes = address.toIPv6Address();
    const auto group = [&bytes](int index) {
        return QString::number(bytes[2 * index] * 256 + bytes[2 * index + 1], 16);
    };
    QString kept = group(0) + QStringLiteral(":…:") + group(6) + QLatin1Char(':') + group(7);
    return kept.size() < whole.size() ? kept : whole;
}

} // namespace

StatusText& StatusText::append(Kind kind, const QString& text, const QString& given) {
    m_pieces.append({kind, text, given});
    return *this;
}

StatusText& StatusText::stamp(const QTime& at) {
    return append(Kind::Stamp, at.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(" – "),
                  QString());
}

StatusText& StatusText::words(const QString& text) {
    return append(Kind::Words, text, text);
}

StatusText& StatusText::keyName(const QString& name) {
    const QString shown = visible(name);
    words(QStringLiteral("«\u202F"));
    append(Kind::KeyName, shown, ends(shown));
    return words(QStringLiteral("\u202F»"));
}

StatusText& StatusText::address(const QHostAddress& address) {
    return append(Kind::Address, address.toString(), keptAddress(address));
}

StatusText& StatusText::count(int others) {
    if (others <= 0)
        return *this;
    const QString compact = QStringLiteral(" (+%1)").arg(others);
    if (others == 1)
        return append(Kind::Count, QStringLiteral(" (et 1 autre)"), compact);
    return append(Kind::Count, QStringLiteral(" (et %1 autres)").arg(others), compact);
}

// Text from outside the program is set apart, so that its characters order only themselves.
QString StatusText::placed(Kind kind, const QString& text) {
    if (kind != Kind::KeyName && kind != Kind::Address)
        return text;
    return QChar(0x2068) + text + QChar(0x2069);
}

QString StatusText::whole() const {
    QString line;
    for (const Piece& piece : m_pieces)
        line += placed(piece.kind, piece.text);
    return line;
}

QString StatusText::fitted(const QFontMetrics& metrics, int width) const {
    // A key name given up keeps all the room it needs, so a line that fits whole comes out whole
    // from the first step; the last step is the cut below, which leaves a line that fits as it is.
    const int steps = static_cast<int>(std::size(kGiveUpOrder));
    for (int step = 1; step < steps; ++step) {
        QString line = givenUp(metrics, width, step);
        if (metrics.horizontalAdvance(line) <= width)
            return line;
    }
    // Cut at the end, where no isolate left open can reorder anything after it.
    return metrics.elidedText(givenUp(metrics, width, steps), Qt::ElideRight, width);
}

// The line with the first `steps` kinds of kGiveUpOrder given up; a key name given up takes the
// room the rest leaves, shortened in the middle but never below its two ends.
QString StatusText::givenUp(const QFontMetrics& metrics, int width, int steps) const {
    const auto* const end = std::begin(kGiveUpOrder) + steps;
    const auto isGivenUp = [&](Kind kind) { return std::find(kGiveUpOrder, end, kind) != end; };
    QStringList texts;
    std::optional<int> nameAt;
    int room = width;
    for (const Piece& piece : m_pieces) {
        if (piece.kind == Kind::KeyName && isGivenUp(piece.kind)) {
            nameAt = static_cast<int>(texts.size());
            texts.append(QString());
            continue;
        }
        texts.append(placed(piece.kind, isGivenUp(piece.kind) ? piece.given : piece.text));
        room -= metrics.horizontalAdvance(texts.last());
    }
    if (nameAt) {
        const Piece& name = m_pieces.at(*nameAt);
        // No room at all elides to nothing, which the floor below replaces.
        QString text = metrics.elidedText(name.text, Qt::ElideMiddle, room);
        if (metrics.horizontalAdvance(text) < metrics.horizontalAdvance(name.given))
            text = name.given;
        texts[*nameAt] = placed(Kind::KeyName, text);
    }
    return texts.join(QString());
}
