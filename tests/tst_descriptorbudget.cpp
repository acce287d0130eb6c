// The connections a descriptor limit leaves room for, beside the program's own descriptors.
#include "server/DescriptorBudget.h"

#include <QTest>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

class TestDescriptorBudget : public QObject {
    Q_OBJECT

private slots:
    void budget_data();
    void budget();
};

void TestDescriptorBudget::budget_data() {
    QTest::addColumn<qlonglong>("limit"); // 0: the process's own, lowered to 128
    QTest::addColumn<QList<int>>("places");
    QTest::newRow("no limit the system tells: today's") << -1LL << QList<int>{512, 64};
    QTest::newRow("the usual 1024: today's bound") << 1024LL << QList<int>{512, 64};
    QTest::newRow("one short of it: the reserve gives") << 623LL << QList<int>{512, 63};
    QTest::newRow("128") << 128LL << QList<int>{72, 8};
    QTest::newRow("the process's own, lowered to 128") << 0LL << QList<int>{72, 8};
    QTest::newRow("below the program's own: the fewest") << 20LL << QList<int>{8, 1};
    QTest::newRow("beyond what an int holds") << (1LL << 40) << QList<int>{512, 64};
}

void TestDescriptorBudget::budget() {
    QFETCH(qlonglong, limit);
    QFETCH(QList<int>, places);
    server::ConnectionBudget budget = server::connectionBudget(limit);
#ifdef Q_OS_UNIX
    rlimit usual{};
    if (limit == 0 && getrlimit(RLIMIT_NOFILE, &usual) == 0) {
        const rlimit lowered{128, usual.rlim_max};
        QCOMPARE(setrlimit(RLIMIT_NOFILE, &lowered), 0);
        budget = server::connectionBudget();
        setrlimit(RLIMIT_NOFILE, &usual);
    }
#else
    if (limit == 0)
        QSKIP("no descriptor limit to lower here");
#endif
    QCOMPARE((QList<int>{budget.maxConnections, budget.reservedConnections}), places);
}

QTEST_GUILESS_MAIN(TestDescriptorBudget)
#include "tst_descriptorbudget.moc"
