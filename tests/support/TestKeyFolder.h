// A throw-away home folder holding Documents/KELVANOR2/Clefs2, with helpers to fill it.
#pragma once

#include "runtime/FolderItem.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

/// `characters` characters of ASCII key text, different for each seed.
QByteArray keyText(int characters, int seed = 0);

/// Whether this machine's file system finds a file under another letter case (Windows, macOS),
/// so that tests expect what the platform's own lookup does.
bool fileNamesIgnoreCase();

class TestKeyFolder {
public:
    /// Creates the home folder and, with `withKeysFolder`, the keys folder inside it.
    explicit TestKeyFolder(bool withKeysFolder = true);

    QString home() const { return m_home.path(); }
    QString documents() const { return home() + QStringLiteral("/Documents"); }
    QString keys() const { return documents() + QStringLiteral("/KELVANOR2/Clefs2"); }
    runtime::FolderItem keysItem() const { return runtime::FolderItem(keys()); }

    /// Writes `content` to the keys folder under `name`; returns the content.
    QByteArray write(const QString& name, const QByteArray& content) const;
    /// Writes a key of `characters` ASCII characters; returns its text.
    QByteArray addKey(const QString& name, int characters = 4000, int seed = 0) const;

    /// Lays out `layout` under the home folder: a path ending in "/" is made as folders, any
    /// other non-empty path as an empty plain file (its parents as folders).
    void makeLayout(const QString& layout) const;
    /// Everything the home folder holds right now, to show that nothing was created.
    QStringList homeEntries() const;

private:
    QTemporaryDir m_home;
};
