// File-system entries over QFileInfo and QDir.
#include "runtime/FolderItem.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <utility>

namespace runtime {

namespace {

QStringList entryNames(const QString& folder) {
    // Unsorted keeps the file system's own enumeration order; hidden and system entries are
    // entries like any other, so positions match what the folder holds.
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
}

} // namespace

FolderItem::FolderItem(QString path)
    : m_path(std::move(path)) {}

FolderItem FolderItem::documents() {
    return FolderItem(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
}

FolderItem FolderItem::child(const QString& name) const {
    if (isNull() || name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..") ||
        name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')) ||
        name.contains(QChar(0)))
        return {};
    return FolderItem(m_path + QLatin1Char('/') + name);
}

bool FolderItem::exists() const {
    return !isNull() && QFileInfo::exists(m_path);
}

int FolderItem::count() const {
    if (isNull())
        return 0;
    return static_cast<int>(entryNames(m_path).size());
}

FolderItem FolderItem::item(int position) const {
    if (isNull() || position < 1)
        return {};
    const QStringList names = entryNames(m_path);
    if (position > names.size())
        return {};
    return FolderItem(m_path + QLatin1Char('/') + names.at(position - 1));
}

QString FolderItem::displayName() const {
    return QFileInfo(m_path).fileName();
}

} // namespace runtime
