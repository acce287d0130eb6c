// Text helpers with the counting rules the tool is written against: fields from 1, counts cut
// to the text, equality that ignores letter case.
#pragma once

#include <QByteArray>
#include <QString>

namespace runtime {

/// True when a and b are the same text, upper and lower case letters counting as equal.
bool textEquals(QStringView a, QStringView b);

/// The last n characters of s; all of s when it is shorter, "" when n <= 0.
QString Right(const QString& s, qsizetype n);

/// Field k (from 1) of the fields that `separator` divides s into; "" for k beyond the last.
/// Two separators in a row make an empty field.
QByteArray NthField(const QByteArray& s, char separator, int k);

/// Nearest whole number; halves go away from zero.
int Round(double x);

} // namespace runtime
