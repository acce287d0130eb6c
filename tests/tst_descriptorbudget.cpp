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
    void followsTheProcessLimit();
};

void TestDescriptorBudget::budget_data() {
    QTest::addColumn<qlonglong>("limit");
    QTest::addColumn<int>("places");
    QTest::addColumn<int>("reserved");
    QTest::newRow("no limit the system tells") << -1LL << 512 << 64;
    QTest::newRow("the usual 1024: today's bound") << 1024LL << 512 << 64;
    QTest::newRow("just enough for today's bound") << 624LL << 512 << 64;
    QTest::newRow("one short of it: the reserve gives") << 623LL << 512 << 63;
    QTest::newRow("128") << 128LL << 72 << 8;
    QTest::newRow("below the program's own: the fewest places") << 20LL << 8 << 1;
    QTest::newRow("beyond what an int holds") << (1LL << 40) << 512 << 64;
}

void TestDescriptorBudget::budget() {
    QFETCH(qlonglong, limit);
    QFETCH(int, places);
    QFETCH(int, reserved);
    const server::ConnectionBudget budget = server::connectionBudget(limit);
    QCOMPARE(budget.maxConnections, places);
    QCOMPARE(budget.reservedConnections, reserved);
}

// The bound the server takes by default is the one the process's own limit gives, as it stands.
void TestDescriptorBudget::followsTheProcessLimit() {
#ifdef Q_OS_UNIX
    rlimit usual{};
    QCOMPARE(getrlimit(RLIMIT_NOFILE, &usual), 0);
    rlimit lowered = usual;
    lowered.rlim_cur = 128;
    QCOMPARE(setrlimit(RLIMIT_NOFILE, &lowered), 0);
    const server::ConnectionBudget budget = server::connectionBudget();
    setrlimit(RLIMIT_NOFILE, &usual);
    QCOMPARE(budget, server::connectionBudget(128));
#else
    QCOMPARE(server::connectionBudget(), server::ConnectionBudget{});
#endif
}

QTEST_GUILESS_MAIN(TestDescriptorBudget)
#include "tst_descriptorbudget.moc"
