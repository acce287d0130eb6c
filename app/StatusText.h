// One line of the status line in pieces: the words that say what happened, which are never
// shortened, and the pieces that may be, given up in a fixed order so that a line fits without
// losing whose device it was.
#pragma once

#include <QList>
#include <QString>

class QFontMetrics;
class QHostAddress;
class QTime;

class StatusText {
public:
    /// The time the line begins with, "HH:mm:ss – "; dropped second.
    StatusText& stamp(const QTime& at);
    /// Words that say what happened; never shortened.
    StatusText& words(const QString& text);
    /// The key name, between « and »; a line has one at most. Shortened in the middle first, never
    /// below its first and last characters. Each control character in it (C0, C1, line and
    /// paragraph separators, a directional control without its partner) shows as one U+FFFD.
    StatusText& keyName(const QString& name);
    /// A device's address; given up last: an IPv4 address never, an IPv6 address down to its
    /// first group and its last two.
    StatusText& address(const QHostAddress& address);
    /// How many events came with the one the line tells, " (et 29 autres)"; written " (+29)"
    /// third. Nothing for 0.
    StatusText& count(int others);

    /// The line in full. Key names and addresses are isolated (U+2068 … U+2069), so that nothing
    /// inside them can reorder the words around them.
    QString whole() const;

    /// The line as it fits `width` pixels of `metrics`: whole if it can, otherwise with pieces
    /// given up in the order above, the key name taking whatever room the rest leaves. A line
    /// that still does not fit is shortened in the middle as a whole.
    QString fitted(const QFontMetrics& metrics, int width) const;

private:
    enum class Kind { Words, KeyName, Stamp, Count, Address };
    /// What a line gives up, first to last, until it fits: the key name, the time (the tooltip
    /// and the accessible name keep it), the count's words, and only then the address, the one
    /// fact that says whose device it was.
    static constexpr Kind kGiveUpOrder[] = {Kind::KeyName, Kind::Stamp, Kind::Count, Kind::Address};
    struct Piece {
        Kind kind;
        QString text;
        /// What is left once the piece is given up (a key name: its two ends).
        QString given;
    };

    StatusText& append(Kind kind, const QString& text, const QString& given);
    static QString placed(Kind kind, const QString& text);
    QString givenUp(const QFontMetrics& metrics, int width, int steps) const;

    QList<Piece> m_pieces;
};
