// Who gets a place at the key server's bound, over addresses × holdings × ages × stages.
#include "server/ConnectionAdmission.h"

#include <QTest>

#include <array>

using namespace std::chrono_literals;
using ConnectionAdmission = server::ConnectionAdmission<int*>;
using server::ConnectionFacts;

class TestConnectionAdmission : public QObject {
    Q_OBJECT

private slots:
    void judge_data();
    void judge();
};

void TestConnectionAdmission::judge_data() {
    QTest::addColumn<QList<int>>("limits"); // bound, per address, reserve
    // In the order accepted: "address stage ms-since-accepted"; a sending one's reply: "address
    // sending ms-since-its-first-byte bytes-delivered bytes-remaining".
    QTest::addColumn<QStringList>("open");
    QTest::addColumn<QString>("newcomer"); // "address [reads-spent]": the caller can read no more
    QTest::addColumn<QString>("verdict");  // admit, refuse, or the index of who gives way
    const QList<int> two{2, 64, 0};
    const QList<int> four{4, 64, 0};
    const QList<int> spare{2, 64, 1}; // one place in reserve
    const QList<int> share{8, 2, 0};  // two per address, an IPv6 /64 being one
    const QString third = QStringLiteral("10.0.0.3");
    const QString spent = third + " reads-spent";
    // At 3 s, 2 s are left of the bound: 12000 bytes received and 8000 to go is exactly on pace.
    const QString onPace = QStringLiteral("sending 3000 12000 8000");
    const QString behind = QStringLiteral("sending 3000 12000 8001");
    QTest::newRow("below the bound") << four << QStringList{"10.0.0.1 nothing 50"} << "10.0.0.2"
                                     << "admit";
    QTest::newRow("the longer waiting of two silent")
        << two << QStringList{"10.0.0.1 nothing 50", "10.0.0.2 nothing 40"} << third << "0";
    QTest::newRow("a byte sent is no merit: the older gives way though it began its line")
        << two << QStringList{"10.0.0.1 begun 50", "10.0.0.2 nothing 1"} << third << "0";
    QTest::newRow("the youngest gets its turn: of two that began, the older")
        << two << QStringList{"10.0.0.1 begun 40", "10.0.0.2 begun 50"} << third << "1";
    QTest::newRow("a connection accepted a moment ago gives way all the same")
        << two << QStringList{"10.0.0.1 replying 5", "10.0.0.2 nothing 1"} << third << "1";
    QTest::newRow("a reply behind its pace gives way after those without a GET")
        << two << QStringList{"10.0.0.1 " + behind, "10.0.0.2 nothing 50"} << third << "1";
    QTest::newRow("a reply exactly on pace keeps its place")
        << two << QStringList{"10.0.0.1 replying 50", "10.0.0.2 " + onPace} << third << "refuse";
    QTest::newRow("nothing received a second after the first byte: stuck")
        << two << QStringList{"10.0.0.1 sending 1000 0 20117", "10.0.0.2 replying 40"} << third
        << "0";
    QTest::newRow("within its first second a reply keeps its place")
        << two << QStringList{"10.0.0.1 sending 999 0 20117", "10.0.0.2 replying 40"} << third
        << "refuse";
    QTest::newRow("not arrived at the bound: stuck, whatever trickles")
        << two << QStringList{"10.0.0.1 sending 5000 20116 1", "10.0.0.2 replying 40"} << third
        << "0";
    QTest::newRow("just before the bound, a fast trickle keeps its place")
        << two << QStringList{"10.0.0.1 sending 4999 20116 1", "10.0.0.2 replying 40"} << third
        << "refuse";
    QTest::newRow("of two stuck, the slower")
        << two
        << QStringList{"10.0.0.1 sending 3000 2000 18000", "10.0.0.2 sending 3000 1000 19000"}
        << third << "1";
    QTest::newRow("lingering after its reply, before the silent")
        << two << QStringList{"10.0.0.1 nothing 50", "10.0.0.2 lingering 10"} << third << "1";
    QTest::newRow("reads spent: the reserve before a refusal")
        << spare << QStringList{"10.0.0.1 nothing 50", "10.0.0.2 nothing 40"} << spent << "admit";
    QTest::newRow("reads spent, no reserve: refused")
        << two << QStringList{"10.0.0.1 nothing 50", "10.0.0.2 nothing 40"} << spent << "refuse";
    QTest::newRow("all replying: refused")
        << two << QStringList{"10.0.0.1 replying 50", "10.0.0.2 " + onPace} << third << "refuse";
    QTest::newRow("all replying: a new address gets a reserved place")
        << spare << QStringList{"10.0.0.1 replying 50", "10.0.0.1 replying 40"} << third << "admit";
    QTest::newRow("reserve full: a new address takes back the slowest reply")
        << spare
        << QStringList{"10.0.0.1 replying 50", "10.0.0.1 sending 3000 14000 6000",
                       "10.0.0.2 " + onPace}
        << third << "2";
    QTest::newRow("reserve full: taken back only for an address that holds none")
        << spare
        << QStringList{"10.0.0.1 replying 50", "10.0.0.1 replying 40", "10.0.0.2 " + onPace}
        << "10.0.0.2"
        << "refuse";
    QTest::newRow("the reserve is for addresses that hold none")
        << spare << QStringList{"10.0.0.1 replying 50", "10.0.0.2 replying 40"} << "10.0.0.2"
        << "refuse";
    QTest::newRow("at its share, its own gives way, not an older one elsewhere")
        << share << QStringList{"10.0.0.9 nothing 90", "10.0.0.1 nothing 50", "10.0.0.1 nothing 40"}
        << "10.0.0.1"
        << "1";
    QTest::newRow("at its share and its own all replying: refused despite room")
        << share
        << QStringList{"10.0.0.9 nothing 90", "10.0.0.1 replying 50", "10.0.0.1 replying 40"}
        << "10.0.0.1"
        << "refuse";
    QTest::newRow("a new address takes from the one holding most")
        << four
        << QStringList{"10.0.0.9 nothing 90", "10.0.0.1 nothing 50", "10.0.0.1 nothing 40",
                       "10.0.0.1 nothing 30"}
        << "10.0.0.5"
        << "1";
    QTest::newRow("the one holding most all replying: the next largest gives way")
        << four
        << QStringList{"10.0.0.9 nothing 90", "10.0.0.1 replying 50", "10.0.0.1 replying 40",
                       "10.0.0.1 replying 30"}
        << "10.0.0.5"
        << "0";
    QTest::newRow("from an address holding two more than the newcomer's")
        << four
        << QStringList{"10.0.0.9 nothing 90", "10.0.0.1 nothing 50", "10.0.0.1 nothing 40",
                       "10.0.0.1 nothing 30"}
        << "10.0.0.9"
        << "1";
    QTest::newRow("one more is not enough: refused")
        << QList<int>{5, 64, 0}
        << QStringList{"10.0.0.9 nothing 90", "10.0.0.9 nothing 80", "10.0.0.1 nothing 50",
                       "10.0.0.1 nothing 40", "10.0.0.1 nothing 30"}
        << "10.0.0.9"
        << "refuse";
    QTest::newRow("holding as many as the largest: its own gives way")
        << four
        << QStringList{"10.0.0.9 nothing 90", "10.0.0.9 nothing 80", "10.0.0.1 nothing 50",
                       "10.0.0.1 nothing 40"}
        << "10.0.0.1"
        << "2";
    QTest::newRow("one /64 is one address")
        << share << QStringList{"fd00::1 nothing 50", "fd00::2 nothing 40"} << "fd00::3"
        << "0";
    QTest::newRow("another /64 is another address")
        << share << QStringList{"fd00::1 nothing 50", "fd00::2 nothing 40"} << "fd00:0:0:1::1"
        << "admit";
    QTest::newRow("an IPv4-mapped peer counts as its IPv4 address")
        << share << QStringList{"10.0.0.1 nothing 50", "::ffff:10.0.0.1 nothing 40"} << "10.0.0.1"
        << "0";
}

void TestConnectionAdmission::judge() {
    QFETCH(QList<int>, limits);
    QFETCH(QStringList, open);
    QFETCH(QString, newcomer);
    QFETCH(QString, verdict);
    const auto now = std::chrono::steady_clock::time_point() + 1h;
    ConnectionAdmission admission(limits.at(0), limits.at(1), limits.at(2));
    std::array<int, 8> ids{};
    std::vector<ConnectionFacts> facts;
    for (const QString& line : open) {
        const QStringList fields = line.split(QLatin1Char(' '));
        ConnectionFacts connection;
        const QString stage = fields.at(1);
        connection.stage = stage == QLatin1String("nothing") ? ConnectionFacts::Stage::Nothing
                           : stage == QLatin1String("begun") ? ConnectionFacts::Stage::Begun
                                                             : ConnectionFacts::Stage::Complete;
        connection.replying =
            stage == QLatin1String("replying") || stage == QLatin1String("sending");
        connection.acceptedAt = now - std::chrono::milliseconds(fields.at(2).toInt());
        if (stage == QLatin1String("sending")) {
            connection.sending = server::ReplyProgress{
                connection.acceptedAt, fields.at(3).toLongLong(), fields.at(4).toLongLong()};
        }
        connection.lingering = stage == QLatin1String("lingering");
        admission.add(&ids.at(facts.size()), QHostAddress(fields.at(0)));
        facts.push_back(connection);
    }
    const QHostAddress newcomerAddress(newcomer.section(QLatin1Char(' '), 0, 0));
    // Ones that came and went leave nothing behind.
    admission.add(&ids.back(), newcomerAddress);
    admission.remove(&ids.back());
    QCOMPARE(admission.size(), open.size());

    const ConnectionAdmission::Verdict result = admission.judge(
        newcomerAddress, [&](int* id) { return facts.at(id - ids.data()); }, now,
        !newcomer.contains(QLatin1Char(' ')));
    using Kind = ConnectionAdmission::Verdict::Kind;
    const QString got = result.kind == Kind::Admit    ? QStringLiteral("admit")
                        : result.kind == Kind::Refuse ? QStringLiteral("refuse")
                                                      : QString::number(result.victim - ids.data());
    QCOMPARE(got, verdict);
}

QTEST_GUILESS_MAIN(TestConnectionAdmission)
#include "tst_connectionadmission.moc"
