// A file-system entry that may or may not exist, with a folder's entries numbered from 1 in the
// order the file system enumerates them.
#pragma once

#include <QString>
#include <QStringList>

#include <filesystem>

namespace runtime {

class FolderItem {
public:
    /// An unset item: exists() is false and every child or entry of it is unset too.
    FolderItem() = default;
    explicit FolderItem(QString path);

    /// The user's Documents folder as the platform reports it; unset when it reports none.
    static FolderItem documents();

    bool isNull() const { return m_path.isEmpty(); }
    QString path() const { return m_path; }
    /// The path in the platform's own encoding, for calls that bypass Qt.
    std::filesystem::path nativePath() const;

    /// The entry called `name` inside this folder, whether or not it exists. A name that is
    /// empty, "." or "..", or that holds a path separator, never names a child: unset.
    FolderItem child(const QString& name) const;

    /// The entry exists (a folder, a plain file or anything else; a dangling link does not).
    bool exists() const;

    /// The names of the folder's entries, read in one listing, in the order the file system
    /// enumerates them (unsorted, hidden ones included); empty for a non-folder or unset item.
    QStringList entryNames() const;

    /// The entry's name with its extension, as the user sees it.
    QString displayName() const;

private:
    QString m_path;
};

} // namespace runtime
