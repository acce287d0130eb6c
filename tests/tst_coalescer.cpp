// Bursts of events into a few calls, on a clock the test moves.
#include "app/Coalescer.h"
#include "support/ManualClock.h"

#include <QTest>

using namespace std::chrono_literals;

class TestCoalescer : public QObject {
    Q_OBJECT

private slots:
    void bursts_data();
    void bursts();
};

void TestCoalescer::bursts_data() {
    QTest::addColumn<QList<int>>("events"); // ms from the start, the interval being 250
    QTest::addColumn<QString>("calls");     // ms:others
    QTest::newRow("a lone event, at once") << QList<int>{0} << "0:0";
    QTest::newRow("two in one burst") << QList<int>{0, 249} << "0:0 250:1";
    QTest::newRow("a whole interval apart: two bursts") << QList<int>{0, 250} << "0:0 250:0";
    QTest::newRow("at the same moment") << QList<int>{0, 0, 0} << "0:0 250:2";
    QTest::newRow("a flood: once per interval, the last after its last event")
        << QList<int>{0, 100, 200, 300, 400, 500, 600, 700, 800, 900}
        << "0:0 250:2 500:4 750:7 1000:9";
    QTest::newRow("after a quiet interval, counting starts again")
        << QList<int>{0, 100, 600, 700} << "0:0 250:1 600:0 850:1";
    QTest::newRow("an event after a shown burst goes on with it")
        << QList<int>{0, 100, 300} << "0:0 250:1 500:2";
}

void TestCoalescer::bursts() {
    QFETCH(QList<int>, events);
    QFETCH(QString, calls);
    ManualClock clock;
    const auto start = clock.now();
    const auto elapsed = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock.now() - start);
    };
    QStringList seen;
    Coalescer coalescer(
        250ms,
        [&](int others) { seen << QStringLiteral("%1:%2").arg(elapsed().count()).arg(others); },
        clock);
    for (const int at : events) {
        clock.advance(std::chrono::milliseconds(at) - elapsed());
        coalescer.post();
    }
    clock.advance(1h);
    QCOMPARE(seen.join(' '), calls);
    QCOMPARE(clock.pending(), 0);
}

QTEST_GUILESS_MAIN(TestCoalescer)
#include "tst_coalescer.moc"
