// Which client addresses the key server serves: the local network only.
#include "server/LocalPeer.h"

#include <QHostAddress>
#include <QTest>

using server::LocalPeer;

class TestLocalPeer : public QObject {
    Q_OBJECT

private slots:
    void allows_data();
    void allows();
};

void TestLocalPeer::allows_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("local");
    const struct {
        const char* name;
        const char* address;
        bool local;
    } rows[] = {
        {"IPv4 loopback", "127.0.0.1", true},
        {"IPv4 loopback, far end", "127.255.255.254", true},
        {"10/8", "10.1.2.3", true},
        {"172.16/12 first", "172.16.0.1", true},
        {"172.16/12 last", "172.31.255.255", true},
        {"just above 172.16/12", "172.32.0.1", false},
        {"just below 172.16/12", "172.15.255.255", false},
        {"192.168/16", "192.168.1.20", true},
        {"192.169 is public", "192.169.0.1", false},
        {"IPv4 link-local", "169.254.10.10", true},
        {"shared 100.64/10 first", "100.64.0.1", true},
        {"shared 100.64/10 last", "100.127.255.254", true},
        {"just above shared", "100.128.0.1", false},
        {"public IPv4", "8.8.8.8", false},
        {"public IPv4 next to 10/8", "11.0.0.1", false},
        {"unspecified IPv4", "0.0.0.0", false},
        {"broadcast", "255.255.255.255", false},
        {"multicast", "224.0.0.1", false},
        {"IPv6 loopback", "::1", true},
        {"unique-local fc00::/7, fd", "fd12:3456:789a::1", true},
        {"unique-local fc00::/7, fc", "fc00::1", true},
        {"link-local", "fe80::1234:5678", true},
        {"link-local with scope", "fe80::1%2", true},
        {"just above link-local", "fec0::1", false},
        {"global IPv6", "2001:db8::1", false},
        {"global IPv6, 2a00", "2a00:1450:4007:80e::200e", false},
        {"unspecified IPv6", "::", false},
        {"IPv6 multicast", "ff02::1", false},
        {"IPv4-mapped private", "::ffff:192.168.1.20", true},
        {"IPv4-mapped loopback", "::ffff:127.0.0.1", true},
        {"IPv4-mapped shared", "::ffff:100.64.1.1", true},
        {"IPv4-mapped public", "::ffff:8.8.8.8", false},
        {"NAT64 of a private address", "64:ff9b::c0a8:0114", false},
        {"not an address", "", false},
    };
    for (const auto& row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.address) << row.local;
}

void TestLocalPeer::allows() {
    QFETCH(QString, address);
    QFETCH(bool, local);
    QCOMPARE(LocalPeer::allows(QHostAddress(address)), local);
}

QTEST_GUILESS_MAIN(TestLocalPeer)
#include "tst_localpeer.moc"
