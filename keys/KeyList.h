// Which entries of the keys folder are keys the user may hand out: those of the current year and
// of the next, recognised by the year suffix at the end of their names.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace runtime {
class FolderItem;
}

namespace keys {

/// The suffix of the key files of `year`: "." + (year - 1900) + ".key", e.g. ".126.key" for 2026.
QString yearSuffix(int year);

/// True when `name` is a key of `year` or of the year after: it does not start with "." and its
/// last 8 characters equal one of the two suffixes, letter case ignored. A suffix that is not
/// 8 characters long (years outside 2000-2898) never matches.
bool isListedKey(const QString& name, int year);

/// The walk over a folder that collectKeys needs. count() is read again before every step, and
/// nameAt(position) may return a null string when the entry vanished in between.
struct FolderEntries {
    std::function<int()> count;
    std::function<QString(int position)> nameAt;
};

/// The listed keys of `entries`, whole names unchanged, in the folder's own order.
QStringList collectKeys(const FolderEntries& entries, int year);

/// The same over a real folder; empty when the folder is unset or absent.
QStringList collectKeys(const runtime::FolderItem& folder, int year);

} // namespace keys
