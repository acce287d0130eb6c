// Which client addresses the key server serves: the local network only, whatever address space
// it is numbered from.
#include "server/LocalPeer.h"

#include <QHostAddress>
#include <QTest>

using server::LocalPeer;

class TestLocalPeer : public QObject {
    Q_OBJECT

private slots:
    void allows_data();
    void allows();
    void onLink_data();
    void onLink();
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
        {"unspecified IPv6", "::", false},
        {"IPv6 multicast", "ff02::1", false},
        {"IPv4-mapped private", "::ffff:192.168.1.20", true},
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

namespace {

// Interfaces written as "address/prefix" entries separated by ",", one interface per ";"; an
// interface may start with "down " or "virtual ", then "p2p ".
QList<runtime::InterfaceInfo> interfacesFrom(const QString& text) {
    QList<runtime::InterfaceInfo> interfaces;
    for (QString adapterText : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        runtime::InterfaceInfo adapter;
        adapterText = adapterText.trimmed();
        adapter.up = !adapterText.startsWith(QLatin1String("down "));
        adapter.running = adapter.up;
        adapter.pointToPoint = adapterText.contains(QLatin1String("p2p "));
        adapter.isVirtual = adapterText.startsWith(QLatin1String("virtual "));
        for (const QString& entry :
             adapterText.section(QLatin1Char(' '), -1).split(QLatin1Char(','))) {
            adapter.addresses.append(QHostAddress(entry.section(QLatin1Char('/'), 0, 0)));
            adapter.prefixLengths.append(entry.section(QLatin1Char('/'), 1).toInt());
        }
        interfaces.append(adapter);
    }
    return interfaces;
}

} // namespace

void TestLocalPeer::onLink_data() {
    QTest::addColumn<QString>("interfaces");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<bool>("served");
    const struct {
        const char* name;
        const char* interfaces;
        const char* peer;
        bool served;
    } rows[] = {
        {"public /24, peer inside", "192.0.2.20/24", "192.0.2.77", true},
        {"public /24, peer outside", "192.0.2.20/24", "192.0.3.77", false},
        {"/16 is the widest IPv4 subnet taken", "198.18.5.5/16", "198.18.200.1", true},
        {"/15 is too wide", "198.18.5.5/15", "198.19.0.1", false},
        {"prefix unknown", "192.0.2.20/-1", "192.0.2.21", false},
        {"interface down", "down 192.0.2.20/24", "192.0.2.77", false},
        {"point-to-point link", "p2p 192.0.2.20/24", "192.0.2.77", false},
        {"advertised veth, the only address", "virtual 192.0.2.20/24", "192.0.2.77", true},
        {"advertised virtual switch beside a VPN",
         "virtual 192.0.2.20/24; virtual p2p 198.18.5.5/16", "192.0.2.77", true},
        {"VPN adapter beside the advertised LAN", "10.1.1.1/8; virtual 198.18.5.5/16",
         "198.18.200.1", false},
        {"container bridge beside an advertised bridge",
         "virtual 192.0.2.20/24; virtual 203.0.113.1/24", "203.0.113.77", false},
        {"VPN adapter with a public /64", "10.1.1.1/8; virtual 2001:db8:1:2::10/64",
         "2001:db8:1:2::1", false},
        {"second address of an interface", "10.1.1.1/8,203.0.113.9/25", "203.0.113.100", true},
        {"second interface", "10.1.1.1/8; 203.0.113.9/25", "203.0.113.100", true},
        {"IPv4-mapped peer inside", "192.0.2.20/24", "::ffff:192.0.2.77", true},
        {"public IPv6 /64, peer inside", "2001:db8:1:2::10/64", "2001:db8:1:2:a:b:c:d", true},
        {"IPv6 /56 is too wide", "2001:db8:1:200::10/56", "2001:db8:1:2ff::1", false},
        {"no interfaces, private peer", "", "192.168.1.5", true},
    };
    for (const auto& row : rows)
        QTest::newRow(row.name) << QString::fromLatin1(row.interfaces)
                                << QString::fromLatin1(row.peer) << row.served;
}

void TestLocalPeer::onLink() {
    QFETCH(QString, interfaces);
    QFETCH(QString, peer);
    QFETCH(bool, served);
    const QList<server::Subnet> subnets = LocalPeer::onLinkSubnets(interfacesFrom(interfaces));
    QCOMPARE(LocalPeer::allowsOnLink(QHostAddress(peer), subnets), served);
}

QTEST_GUILESS_MAIN(TestLocalPeer)
#include "tst_localpeer.moc"
