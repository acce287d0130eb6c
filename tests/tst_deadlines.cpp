// Which deadline of a connection applies, and when, as its life goes on: on a clock the test moves.
#include "server/Deadlines.h"
#include "support/ManualClock.h"

#include <QTest>

using server::Deadlines;

class TestDeadlines : public QObject {
    Q_OBJECT

private slots:
    void due_data();
    void due();
};

void TestDeadlines::due_data() {
    QTest::addColumn<int>("timeoutMs");
    // From the accept: "+MS" moves the clock; "get"; "send:TAKEN:UNSENT"; "linger"; "deliver".
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("due"); // "none", or "KIND MS" counted from the accept
    // clang-format off
    QTest::newRow("the request line, from the accept") << 10'000 << "+3000" << "line 10000";
    QTest::newRow("a GET ends the request line's time") << 10'000 << "+3000 get" << "none";
    QTest::newRow("a reply waiting in Qt: from its first write") << 10'000 << "+1000 get send:0:500" << "send 11000";
    QTest::newRow("bytes the system took move it") << 10'000 << "get send:0:500 +2000 send:100:400" << "send 12000";
    QTest::newRow("a write the system took nothing of does not") << 10'000 << "get send:0:500 +2000 send:0:900" << "send 10000";
    QTest::newRow("a new wait starts anew") << 10'000 << "get send:0:500 +2000 send:500:0 +1000 send:0:300" << "send 13000";
    QTest::newRow("the linger, shorter than the timeout") << 10'000 << "get send:0:500 +4000 linger" << "linger 9000";
    QTest::newRow("the linger, never longer than the timeout") << 3'000 << "get +1000 linger" << "linger 4000";
    QTest::newRow("a reply still delivered: the timeout from then") << 10'000 << "get +1000 linger +3000 deliver" << "linger 14000";
    // clang-format on
}

void TestDeadlines::due() {
    QFETCH(int, timeoutMs);
    QFETCH(QString, script);
    QFETCH(QString, due);
    ManualClock clock;
    const auto start = clock.now();
    Deadlines deadlines(std::chrono::milliseconds(timeoutMs), std::chrono::seconds(5));
    deadlines.accepted(start);
    for (const QString& word : script.split(QLatin1Char(' '))) {
        const QStringList send = word.split(QLatin1Char(':'));
        if (word.startsWith(QLatin1Char('+')))
            clock.advance(std::chrono::milliseconds(word.mid(1).toInt()));
        else if (word == QLatin1String("get"))
            deadlines.requestRead();
        else if (word == QLatin1String("linger"))
            deadlines.lingering(clock.now());
        else if (word == QLatin1String("deliver"))
            deadlines.delivering(clock.now());
        else
            deadlines.sending(clock.now(), send.at(1).toLongLong(), send.at(2).toLongLong());
    }
    const Deadlines::Due got = deadlines.due();
    const QString kind = QStringList{"none", "line", "send", "linger"}.at(int(got.kind));
    const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(got.at - start).count();
    QCOMPARE(got.kind == Deadlines::Kind::None ? kind : kind + ' ' + QString::number(at), due);
}

QTEST_GUILESS_MAIN(TestDeadlines)
#include "tst_deadlines.moc"
