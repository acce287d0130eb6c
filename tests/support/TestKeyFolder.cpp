// Temporary key folders for the tests.
#include "support/TestKeyFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

QByteArray keyText(int characters, int seed) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    QByteArray text;
    text.reserve(characters);
    for (int i = 0; i < characters; ++i)
        text.append(i % 65 == 64 ? '\n' : alphabet[(i * 7 + seed * 13 + i / 64) % 64]);
    return text;
}

bool fileNamesIgnoreCase() {
    const QTemporaryDir folder;
    QFile probe(folder.path() + QStringLiteral("/probe"));
    if (!probe.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(probe.fileName()));
    return QFileInfo::exists(folder.path() + QStringLiteral("/PROBE"));
}

TestKeyFolder::TestKeyFolder(bool withKeysFolder) {
    if (withKeysFolder)
        QDir().mkpath(keys());
}

QByteArray TestKeyFolder::write(const QString& name, const QByteArray& content) const {
    QFile file(keys() + QLatin1Char('/') + name);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write test key %s", qPrintable(file.fileName()));
    return content;
}

QByteArray TestKeyFolder::addKey(const QString& name, int characters, int seed) const {
    return write(name, keyText(characters, seed));
}

void TestKeyFolder::makeLayout(const QString& layout) const {
    if (layout.isEmpty())
        return;
    const bool folder = layout.endsWith(QLatin1Char('/'));
    if (!QDir(home()).mkpath(folder ? layout : layout.section(QLatin1Char('/'), 0, -2)))
        qFatal("cannot make %s", qPrintable(layout));
    QFile file(home() + QLatin1Char('/') + layout);
    if (!folder && !file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(file.fileName()));
}

QStringList TestKeyFolder::homeEntries() const {
    return QDir(home()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}
