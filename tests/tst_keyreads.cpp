// Key file reads on worker threads: shared while in flight, and forgetting who has gone.
#include "server/KeyReads.h"
#include "support/KeyServerFixture.h"

#include <QTest>

class TestKeyReads : public QObject {
    Q_OBJECT

private slots:
    void goneWaitersAreDropped();
};

// Who waits for a stalled read and goes meanwhile is not kept until the read ends; the waiters
// for one file share its one read.
void TestKeyReads::goneWaitersAreDropped() {
    KeyServerFixture fx;
    server::KeyReads reads(fx.gatedReader());
    const runtime::FolderItem file = fx.folder.keysItem().child(fx.selected);
    auto gone = std::make_unique<QObject>();
    QObject stays;
    int calls = 0;
    for (QObject* context : {gone.get(), gone.get(), &stays})
        QVERIFY(reads.read(file, context, [&calls](const runtime::RegularFileRead&) { ++calls; }));
    QCOMPARE(reads.waiters(), 3);
    QCOMPARE(reads.inFlight(), 1);
    gone.reset();
    QCOMPARE(reads.waiters(), 1);
    fx.gate->release();
    QTRY_COMPARE(reads.inFlight(), 0);
    QCOMPARE(calls, 1);
    QCOMPARE(fx.gate->count(), 1);
}

QTEST_GUILESS_MAIN(TestKeyReads)
#include "tst_keyreads.moc"
