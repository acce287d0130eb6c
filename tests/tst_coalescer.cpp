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
    QTest::addColumn<QList<int>>("events"); // ms from the start
    QTest::addColumn<QStringList>("calls"); // "ms:others"
    // The interval is 250 ms.
    QTest::newRow("none") << QList<int>{} << QStringList{};
    QTest::newRow("a lone event, at once") << QList<int>{0} << QStringList{"0:0"};
    QTest::newRow("two in one burst: the second when the interval ends")
        << QList<int>{0, 249} << QStringList{"0:0", "250:1"};
    QTest::newRow("a whole interval apart: two quiet spells ended")
        << QList<int>{0, 250} << QStringList{"0:0", "250:0"};
    QTest::newRow("the same moment: one burst")
        << QList<int>{0, 0, 0} << QStringList{"0:0", "250:2"};
    QTest::newRow("a flood: once per interval, the last after its last event")
        << QList<int>{0, 100, 200, 300, 400, 500, 600, 700, 800, 900}
        << QStringList{"0:0", "250:2", "500:4", "750:7", "1000:9"};
    QTest::newRow("after a burst and a quiet interval, counting starts again")
        << QList<int>{0, 100, 600, 700} << QStringList{"0:0", "250:1", "600:0", "850:1"};
    QTest::newRow("one event after a shown burst keeps it going")
        << QList<int>{0, 100, 300} << QStringList{"0:0", "250:1", "500:2"};
}

void TestCoalescer::bursts() {
    QFETCH(QList<int>, events);
    QFETCH(QStringList, calls);
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
    QCOMPARE(seen, calls);
    QCOMPARE(clock.pending(), 0);
}

QTEST_GUILESS_MAIN(TestCoalescer)
#include "tst_coalescer.moc"
