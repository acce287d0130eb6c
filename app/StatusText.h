// One line of the status line in pieces: the words that say what happened, which are never
// shortened, and the key name and the address, which are, so that a line fits without changing
// its meaning.
#pragma once

#include <QList>
#include <QString>

class QFontMetrics;

class StatusText {
public:
    /// Words that say what happened; never shortened.
    StatusText& words(const QString& text);
    /// A key name, between « and »; shortened first.
    StatusText& keyName(const QString& name);
    /// A device's address; shortened in the middle.
    StatusText& address(const QString& address);

    /// The line in full.
    QString whole() const;

    /// The line as it fits `width` pixels of `metrics`, in this order of preference: whole; the
    /// key names and addresses shortened in the middle with "…", sharing the room the words
    /// leave; the key names cut to their first and last characters and the addresses sharing
    /// the rest; as a last resort, the whole line shortened in the middle.
    QString fitted(const QFontMetrics& metrics, int width) const;

private:
    enum class Kind { Words, KeyName, Address };
    struct Piece {
        Kind kind;
        QString text;
    };

    StatusText& append(Kind kind, const QString& text);
    QString fittedNames(const QFontMetrics& metrics, int width, bool keyNameEnds) const;

    QList<Piece> m_pieces;
};
