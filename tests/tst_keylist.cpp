// Which folder entries become rows of the key list.
#include "keys/KeyList.h"
#include "support/TestKeyFolder.h"

#include <QDir>
#include <QFile>
#include <QTest>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

// Whether this Windows program runs under Wine, which tells its own version through ntdll.
bool underWine() {
#ifdef Q_OS_WIN
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
#else
    return false;
#endif
}

} // namespace

class TestKeyList : public QObject {
    Q_OBJECT

private slots:
    void yearSuffix_data();
    void yearSuffix();
    void isListedKey_data();
    void isListedKey();
    void walkKeepsFolderOrderAndFilters();
    void largeFolderInOneWalk();
    void absentFolderListsNothing();
    void keysFolderLookup_data();
    void keysFolderLookup();
};

void TestKeyList::yearSuffix_data() {
    QTest::addColumn<int>("year");
    QTest::addColumn<QString>("suffix");
    QTest::newRow("2026") << 2026 << ".126.key";
    QTest::newRow("2000") << 2000 << ".100.key";
    QTest::newRow("1999: too short to ever match") << 1999 << ".99.key";
    QTest::newRow("2900: too long to ever match") << 2900 << ".1000.key";
}

void TestKeyList::yearSuffix() {
    QFETCH(int, year);
    QFETCH(QString, suffix);
    QCOMPARE(keys::yearSuffix(year), suffix);
}

void TestKeyList::isListedKey_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("year");
    QTest::addColumn<bool>("listed");
    QTest::newRow("current year") << "alpha.126.key" << 2026 << true;
    QTest::newRow("next year") << "alpha.127.key" << 2026 << true;
    QTest::newRow("last year") << "alpha.125.key" << 2026 << false;
    QTest::newRow("two years ahead") << "alpha.128.key" << 2026 << false;
    QTest::newRow("upper-case suffix") << "alpha.126.KEY" << 2026 << true;
    QTest::newRow("mixed-case suffix") << "Alpha.127.Key" << 2026 << true;
    QTest::newRow("suffix alone, leading dot") << ".126.key" << 2026 << false;
    QTest::newRow("hidden key") << ".alpha.126.key" << 2026 << false;
    QTest::newRow("one character before suffix") << "a.126.key" << 2026 << true;
    QTest::newRow("suffix without the dot") << "a126.key" << 2026 << false;
    QTest::newRow("shorter than 8 characters") << "126.key" << 2026 << false;
    QTest::newRow("empty") << "" << 2026 << false;
    QTest::newRow("backup copy") << "alpha.126.key.bak" << 2026 << false;
    QTest::newRow("other file") << "notes.txt" << 2026 << false;
    QTest::newRow("non-ASCII name") << "clé-été.126.key" << 2026 << true;
    QTest::newRow("year with no 8-character suffix") << "alpha.99.key" << 1999 << false;
    QTest::newRow("2898's next year is 2899") << "alpha.999.key" << 2898 << true;
}

void TestKeyList::isListedKey() {
    QFETCH(QString, name);
    QFETCH(int, year);
    QFETCH(bool, listed);
    QCOMPARE(keys::isListedKey(name, year), listed);
}

void TestKeyList::walkKeepsFolderOrderAndFilters() {
    // Enumeration order that is not alphabetical must survive: no sorting.
    const QStringList entries{"zeta.127.key",      "notes.txt",     "alpha.125.key", ".126.key",
                              "alpha.126.key.bak", "alpha.126.KEY", "beta.127.key"};
    QCOMPARE(keys::collectKeys(entries, 2026),
             (QStringList{"zeta.127.key", "alpha.126.KEY", "beta.127.key"}));
}

// Ten thousand entries, as some users keep, listed in the folder's own order: a walk that reads
// the folder again for each entry runs into the test's time limit. Wine makes each file in time
// growing with the folder and lists many times slower, so there half as many still show it.
void TestKeyList::largeFolderInOneWalk() {
    const int entries = underWine() ? 5000 : 10000;
    TestKeyFolder folder;
    QStringList expected;
    for (int i = 0; i < entries; ++i) {
        const QString name = QStringLiteral("k%1.%2").arg(i).arg(i % 10 == 0 ? "126.key" : "txt");
        QFile file(folder.keys() + QLatin1Char('/') + name);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QStringList enumerated =
        QDir(folder.keys()).entryList(QDir::Files | QDir::Hidden, QDir::Unsorted);
    for (const QString& name : enumerated)
        if (name.endsWith(QLatin1String(".126.key")))
            expected << name;
    QCOMPARE(expected.size(), entries / 10);
    QCOMPARE(keys::collectKeys(folder.keysItem(), 2026), expected);
}

void TestKeyList::absentFolderListsNothing() {
    TestKeyFolder folder(false);
    QVERIFY(keys::collectKeys(folder.keysItem(), 2026).isEmpty());
    QVERIFY(keys::collectKeys(runtime::FolderItem(), 2026).isEmpty());
}

void TestKeyList::keysFolderLookup_data() {
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("found");
    QTest::newRow("all three levels") << "Documents/KELVANOR2/Clefs2/" << true;
    QTest::newRow("Clefs2 is a plain file") << "Documents/KELVANOR2/Clefs2" << true;
    QTest::newRow("Clefs2 missing") << "Documents/KELVANOR2/" << false;
    QTest::newRow("KELVANOR2 is a plain file") << "Documents/KELVANOR2" << false;
    QTest::newRow("KELVANOR2 missing") << "Documents/" << false;
    QTest::newRow("no Documents folder") << "" << false;
    QTest::newRow("wrong case") << "Documents/kelvanor2/clefs2/" << fileNamesIgnoreCase();
}

void TestKeyList::keysFolderLookup() {
    QFETCH(QString, layout);
    QFETCH(bool, found);
    TestKeyFolder home(false);
    home.makeLayout(layout);
    const QStringList before = home.homeEntries();

    const runtime::FolderItem folder = keys::keysFolder(runtime::FolderItem(home.documents()));
    QCOMPARE(folder.isNull(), !found);
    if (found)
        QCOMPARE(QDir(folder.path()).canonicalPath(), QDir(home.keys()).canonicalPath());
    QCOMPARE(home.homeEntries(), before);
    QVERIFY(keys::keysFolder(runtime::FolderItem()).isNull());
}

QTEST_GUILESS_MAIN(TestKeyList)
#include "tst_keylist.moc"
