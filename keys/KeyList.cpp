// The keys folder's location, the year rule and the walk of the folder.
#include "keys/KeyList.h"

#include "runtime/FolderItem.h"
#include "runtime/Text.h"

namespace keys {

namespace {
const QString kKeysParent = QStringLiteral("KELVANOR2");
const QString kKeysFolder = QStringLiteral("Clefs2");
constexpr int kYearBase = 1900;
constexpr qsizetype kSuffixLength = 8;
} // namespace

runtime::FolderItem keysFolder(const runtime::FolderItem& documents) {
    runtime::FolderItem folder = documents;
    for (const QString& level : {kKeysParent, kKeysFolder}) {
        if (!folder.exists())
            return {};
        folder = folder.child(level);
    }
    return folder.exists() ? folder : runtime::FolderItem();
}

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

QStringList collectKeys(const QStringList& entryNames, int year) {
    QStringList keys;
    for (const QString& name : entryNames)
        if (isListedKey(name, year))
            keys.append(name);
    return keys;
}

QStringList collectKeys(const runtime::FolderItem& folder, int year) {
    // One listing for the whole walk: asking the folder again for every entry made opening the
    // window cost a number of directory reads that grew with the square of the folder's size.
    return collectKeys(folder.entryNames(), year);
}

} // namespace keys
