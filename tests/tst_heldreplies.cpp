// A connection's replies in request order, with no sockets: held behind a pending read, then
// counted until the system has taken each whole.
#include "server/HeldReplies.h"

#include <QTest>

using server::HeldReplies;

namespace {
HeldReplies::Reply reply(const QByteArray& bytes) {
    return {bytes, server::DeviceEvent::Outcome::KeySent, {}};
}
QByteArrayList bytesOf(const QList<HeldReplies::Reply>& replies) {
    QByteArrayList bytes;
    for (const HeldReplies::Reply& each : replies)
        bytes << each.bytes;
    return bytes;
}
} // namespace

class TestHeldReplies : public QObject {
    Q_OBJECT

private slots:
    void repliesLeaveInRequestOrder();
    void left_data();
    void left();
};

// Replies behind a place still waiting for its key file wait with it, whichever read ends
// first; a place filled twice or never held changes nothing.
void TestHeldReplies::repliesLeaveInRequestOrder() {
    HeldReplies replies;
    const HeldReplies::Ticket first = replies.expect();
    replies.append(reply("b"));
    const HeldReplies::Ticket third = replies.expect();
    replies.append(reply("dd"));
    QVERIFY(replies.waiting());
    QCOMPARE(replies.heldBytes(), 3);
    replies.fill(third, reply("ccc"));
    replies.fill(third + 100, reply("never held"));
    QCOMPARE(bytesOf(replies.takeReady()), QByteArrayList());
    QCOMPARE(replies.heldBytes(), 6);
    replies.fill(first, reply("a"));
    QCOMPARE(bytesOf(replies.takeReady()), (QByteArrayList{"a", "b", "ccc", "dd"}));
    QVERIFY(!replies.waiting());
    QCOMPARE(replies.size(), 0);
    QCOMPARE(replies.heldBytes(), 0);
}

void TestHeldReplies::left_data() {
    QTest::addColumn<qint64>("unsent");
    QTest::addColumn<QByteArrayList>("left");
    QTest::addColumn<int>("stillCounted");
    // Written: "aaaa" (4 bytes), then "bbbbbb" (6).
    QTest::newRow("the first but its last byte") << qint64(7) << QByteArrayList{} << 2;
    QTest::newRow("the first whole") << qint64(6) << QByteArrayList{"aaaa"} << 1;
    QTest::newRow("both whole") << qint64(0) << QByteArrayList{"aaaa", "bbbbbb"} << 0;
}

// Each written reply is told once, when the system has taken its last byte.
void TestHeldReplies::left() {
    QFETCH(qint64, unsent);
    QFETCH(QByteArrayList, left);
    QFETCH(int, stillCounted);
    HeldReplies replies;
    replies.written(reply("aaaa"));
    replies.written(reply("bbbbbb"));
    QCOMPARE(bytesOf(replies.left(unsent)), left);
    QCOMPARE(replies.size(), stillCounted);
    QCOMPARE(bytesOf(replies.left(unsent)), QByteArrayList());
}

QTEST_GUILESS_MAIN(TestHeldReplies)
#include "tst_heldreplies.moc"
