// Which folder entries become rows of the key list.
#include "keys/KeyList.h"
#include "support/TestKeyFolder.h"

#include <QTest>

class TestKeyList : public QObject {
    Q_OBJECT

private slots:
    void yearSuffix_data();
    void yearSuffix();
    void isListedKey_data();
    void isListedKey();
    void walkKeepsFolderOrderAndFilters();
    void folderShrinkingDuringWalk();
    void absentFolderListsNothing();
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
    const QStringList listed = keys::collectKeys(
        keys::FolderEntries{[&] { return int(entries.size()); },
                            [&](int position) { return entries.at(position - 1); }},
        2026);
    QCOMPARE(listed, (QStringList{"zeta.127.key", "alpha.126.KEY", "beta.127.key"}));
}

void TestKeyList::folderShrinkingDuringWalk() {
    QStringList entries{"a.126.key", "b.126.key", "c.126.key", "d.126.key"};
    int asked = 0;
    const QStringList listed =
        keys::collectKeys(keys::FolderEntries{[&] { return int(entries.size()); },
                                              [&](int position) {
                                                  ++asked;
                                                  const QString name = entries.at(position - 1);
                                                  // Two entries vanish while the first is being
                                                  // looked at.
                                                  if (position == 1)
                                                      entries = entries.mid(0, 2);
                                                  return name;
                                              }},
                          2026);
    QCOMPARE(listed, (QStringList{"a.126.key", "b.126.key"}));
    QCOMPARE(asked, 2);

    // An entry reported within the count that has gone by the time it is read is skipped.
    const QStringList withGap = keys::collectKeys(
        keys::FolderEntries{[] { return 3; },
                            [](int position) {
                                return position == 2 ? QString()
                                                     : QStringLiteral("k%1.127.key").arg(position);
                            }},
        2026);
    QCOMPARE(withGap, (QStringList{"k1.127.key", "k3.127.key"}));
}

void TestKeyList::absentFolderListsNothing() {
    TestKeyFolder folder(false);
    QVERIFY(keys::collectKeys(folder.keysItem(), 2026).isEmpty());
    QVERIFY(keys::collectKeys(runtime::FolderItem(), 2026).isEmpty());

    TestKeyFolder real;
    real.addKey(QStringLiteral("only.127.key"));
    real.addKey(QStringLiteral("old.125.key"));
    QCOMPARE(keys::collectKeys(real.keysItem(), 2026), QStringList{"only.127.key"});
}

QTEST_GUILESS_MAIN(TestKeyList)
#include "tst_keylist.moc"
