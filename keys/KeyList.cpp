// The year rule and the walk of the keys folder.
#include "keys/KeyList.h"

#include "runtime/FolderItem.h"
#include "runtime/Text.h"

namespace keys {

namespace {
constexpr int kYearBase = 1900;
constexpr qsizetype kSuffixLength = 8;
} // namespace

QString yearSuffix(int year) {
    return QLatin1Char('.') + QString::number(year - kYearBase) + QLatin1String(".key");
}

bool isListedKey(const QString& name, int year) {
    if (name.startsWith(QLatin1Char('.')))
        return false;
    const QString tail = runtime::Right(name, kSuffixLength);
    return runtime::textEquals(tail, yearSuffix(year)) ||
           runtime::textEquals(tail, yearSuffix(year + 1));
}

QStringList collectKeys(const FolderEntries& entries, int year) {
    QStringList keys;
    // The count is read before every step so a folder that shrinks mid-walk ends the walk early
    // instead of asking for entries that are no longer there.
    for (int position = 1; position <= entries.count(); ++position) {
        const QString name = entries.nameAt(position);
        if (!name.isNull() && isListedKey(name, year))
            keys.append(name);
    }
    return keys;
}

QStringList collectKeys(const runtime::FolderItem& folder, int year) {
    if (!folder.exists())
        return {};
    return collectKeys(FolderEntries{
                           [&folder] { return folder.count(); },
                           [&folder](int position) {
                               const runtime::FolderItem entry = folder.item(position);
                               return entry.isNull() ? QString() : entry.displayName();
                           },
                       },
                       year);
}

} // namespace keys
