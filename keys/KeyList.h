// Where the keys folder is, and which of its entries are keys the user may hand out: those of the
// current year and of the next, recognised by the year suffix at the end of their names.
#pragma once

#include <QString>
#include <QStringList>

namespace runtime {
class FolderItem;
}

namespace keys {

/// Documents/KELVANOR2/Clefs2 under `documents`, each level only tested for existence (a plain
/// file named Clefs2 passes); unset when `documents` is unset or any level is absent. Nothing is
/// created.
runtime::FolderItem keysFolder(const runtime::FolderItem& documents);

/// The suffix of the key files of `year`: "." + (year - 1900) + ".key", e.g. ".126.key" for 2026.
QString yearSuffix(int year);

/// True when `name` is a key of `year` or of the year after: it does not start with "." and its
/// last 8 characters equal one of the two suffixes, letter case ignored. A suffix that is not
/// 8 characters long (years outside 2000-2898) never matches.
bool isListedKey(const QString& name, int year);

/// The listed keys among `entryNames`, whole names unchanged, in the given order.
QStringList collectKeys(const QStringList& entryNames, int year);

/// The same over one listing of a real folder; empty when the folder is unset or absent.
QStringList collectKeys(const runtime::FolderItem& folder, int year);

} // namespace keys
