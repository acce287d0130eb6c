// File-system entries over QFileInfo and QDir.
#include "runtime/FolderItem.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <utility>

namespace runtime {

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

std::filesystem::path FolderItem::nativePath() const {
#ifdef Q_OS_WIN
    return std::filesystem::path(m_path.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(m_path).toStdString());
#endif
}

bool FolderItem::exists() const {
    return !isNull() && QFileInfo::exists(m_path);
}

QStringList FolderItem::entryNames() const {
    if (isNull())
        return {};
    // Unsorted keeps the file system's own enumeration order; hidden and system entries are
    // entries like any other.
    return QDir(m_path).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
}

QString FolderItem::displayName() const {
    return QFileInfo(m_path).fileName();
}

} // namespace runtime
