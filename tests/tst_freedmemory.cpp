// When the heap's free memory is given back: once it has grown enough, and not again for what a
// release could not give back.
#include "runtime/FreedMemory.h"
#include "support/ManualClock.h"

#include <QTest>

class TestFreedMemory : public QObject {
    Q_OBJECT

private slots:
    void releases_data();
    void releases();
};

void TestFreedMemory::releases_data() {
    // The free kilobytes the heap holds at the start and at each look; what a release leaves.
    QTest::addColumn<QList<int>>("looks");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("releases");
    QTest::newRow("ordinary work") << QList<int>{256, 512, 768, 1024} << 0 << 0;
    QTest::newRow("a flood ends, just enough") << QList<int>{256, 1280, 0} << 0 << 1;
    QTest::newRow("what a release leaves starts none")
        << QList<int>{0, 40960, 1536, 1536} << 1536 << 1;
    QTest::newRow("counted from the least seen") << QList<int>{2560, 512, 1536} << 0 << 1;
    QTest::newRow("a second flood") << QList<int>{0, 40960, 1536, 40960} << 1536 << 2;
}

void TestFreedMemory::releases() {
    QFETCH(QList<int>, looks);
    QFETCH(int, left);
    QFETCH(int, releases);
    ManualClock clock;
    std::size_t held = std::size_t(looks.takeFirst()) << 10;
    int released = 0;
    const runtime::FreedMemory watch(
        clock, nullptr, [&held] { return held; },
        [&] {
            ++released;
            held = std::size_t(left) << 10;
        });
    for (const int kilobytes : looks) {
        held = std::size_t(kilobytes) << 10;
        clock.advance(runtime::FreedMemory::kInterval);
    }
    QCOMPARE(released, releases);
}

QTEST_GUILESS_MAIN(TestFreedMemory)
#include "tst_freedmemory.moc"
