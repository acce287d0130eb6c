// Which of this computer's addresses the phone is told to connect to.
#include "runtime/AddressWatch.h"
#include "runtime/LocalAddress.h"
#include "runtime/NetworkCategory.h"
#include "runtime/RouteTable.h"
#include "support/ManualClock.h"

#include <QTest>

using runtime::InterfaceInfo;

namespace {

InterfaceInfo adapter(const QString& name, const QStringList& addresses, bool defaultRoute = false,
                      bool isVirtual = false) {
    InterfaceInfo info;
    info.name = name;
    info.up = true;
    info.running = true;
    info.defaultRoute = defaultRoute;
    info.isVirtual = isVirtual;
    for (const QString& address : addresses)
        info.addresses.append(QHostAddress(address));
    return info;
}

// An adapter as the system lists it: known only by name, index and addresses.
InterfaceInfo listed(const QString& name, int index, const QString& address) {
    InterfaceInfo info = adapter(name, {address});
    info.index = index;
    return info;
}

InterfaceInfo loopback() {
    InterfaceInfo info = adapter(QStringLiteral("lo"), {"127.0.0.1", "::1"});
    info.loopback = true;
    return info;
}

} // namespace

Q_DECLARE_METATYPE(QList<InterfaceInfo>)
Q_DECLARE_METATYPE(runtime::RouteFacts)

class TestLocalAddress : public QObject {
    Q_OBJECT

private slots:
    void choose_data();
    void choose();
    void routeFactsDecide_data();
    void routeFactsDecide();
    void systemChoiceIsNeverTheWildcard();
    void watchKeepsInterfacesNoneCouldRead();
};

void TestLocalAddress::choose_data() {
    QTest::addColumn<QList<InterfaceInfo>>("interfaces");
    QTest::addColumn<QString>("address");

    QTest::newRow("nothing at all") << QList<InterfaceInfo>{} << "127.0.0.1";
    QTest::newRow("one real adapter")
        << QList<InterfaceInfo>{loopback(), adapter("eth0", {"fe80::1", "192.168.1.20"})}
        << "192.168.1.20";
    QTest::newRow("container bridge listed first")
        << QList<InterfaceInfo>{adapter("docker0", {"172.17.0.1"}, false, true),
                                adapter("eth0", {"192.168.1.20"})}
        << "192.168.1.20";
    QTest::newRow("VPN carries the default route")
        << QList<InterfaceInfo>{adapter("tun0", {"10.8.0.2"}, true, true),
                                adapter("wlan0", {"192.168.0.7"})}
        << "192.168.0.7";
    QTest::newRow("loopback address on a LAN adapter")
        << QList<InterfaceInfo>{adapter("eth0", {"127.0.1.1"})} << "127.0.0.1";
    QTest::newRow("link-local only")
        << QList<InterfaceInfo>{loopback(), adapter("eth0", {"169.254.10.3"})} << "127.0.0.1";
    QTest::newRow("link-local beside a LAN address")
        << QList<InterfaceInfo>{adapter("eth0", {"169.254.10.3"}), adapter("eth1", {"10.0.0.5"})}
        << "10.0.0.5";
    QTest::newRow("default route wins over order")
        << QList<InterfaceInfo>{adapter("eth0", {"192.168.56.1"}),
                                adapter("wlan0", {"192.168.1.33"}, true)}
        << "192.168.1.33";
    QTest::newRow("private range before public")
        << QList<InterfaceInfo>{adapter("eth0", {"203.0.113.9"}), adapter("eth1", {"10.1.2.3"})}
        << "10.1.2.3";
    QTest::newRow("first of equals kept")
        << QList<InterfaceInfo>{adapter("eth0", {"192.168.1.4"}), adapter("eth1", {"192.168.2.4"})}
        << "192.168.1.4";
    QTest::newRow("IPv6 only adapter")
        << QList<InterfaceInfo>{adapter("eth0", {"2001:db8::5"})} << "127.0.0.1";
    QTest::newRow("only a virtual adapter")
        << QList<InterfaceInfo>{adapter("vboxnet0", {"192.168.56.1"}, false, true)}
        << "192.168.56.1";

    InterfaceInfo down = adapter("eth0", {"192.168.1.20"});
    down.running = false;
    QTest::newRow("adapter down") << QList<InterfaceInfo>{down, adapter("eth1", {"192.168.9.9"})}
                                  << "192.168.9.9";
    InterfaceInfo ppp = adapter("ppp0", {"100.64.0.1"}, true);
    ppp.pointToPoint = true;
    QTest::newRow("point-to-point skipped") << QList<InterfaceInfo>{ppp} << "127.0.0.1";
}

void TestLocalAddress::choose() {
    QFETCH(QList<InterfaceInfo>, interfaces);
    QFETCH(QString, address);
    QCOMPARE(runtime::chooseLanAddress(interfaces), address);
}

// The facts each platform's routing table yields, matched to the interfaces by index. In every
// row the list order alone would pick the wrong adapter.
void TestLocalAddress::routeFactsDecide_data() {
    QTest::addColumn<QList<InterfaceInfo>>("interfaces");
    QTest::addColumn<runtime::RouteFacts>("facts");
    QTest::addColumn<QString>("address");

    // clang-format off
    QTest::newRow("Windows: second card loses to the default-route Wi-Fi")
        << QList<InterfaceInfo>{listed("ethernet_32769", 7, "192.168.56.10"), listed("wireless_32768", 12, "192.168.1.33")}
        << runtime::RouteFacts{12, {}} << "192.168.1.33";
    QTest::newRow("Windows: VPN adapter carries the default route")
        << QList<InterfaceInfo>{listed("ethernet_32770", 25, "10.6.0.2"), listed("wireless_32768", 12, "192.168.1.33")}
        << runtime::RouteFacts{25, {25}} << "192.168.1.33";
    QTest::newRow("Windows: virtual switch listed first")
        << QList<InterfaceInfo>{listed("ethernet_32771", 30, "172.20.160.1"), listed("ethernet_32769", 7, "192.168.1.40")}
        << runtime::RouteFacts{0, {30}} << "192.168.1.40";
    QTest::newRow("Linux: second card loses to the default route")
        << QList<InterfaceInfo>{listed("eth0", 2, "10.0.0.5"), listed("wlan0", 3, "192.168.1.20")}
        << runtime::RouteFacts{3, {}} << "192.168.1.20";
    QTest::newRow("Linux: unnamed tunnel with the default route")
        << QList<InterfaceInfo>{listed("corp", 9, "10.8.0.2"), listed("wlan0", 3, "192.168.0.7")}
        << runtime::RouteFacts{9, {1, 9}} << "192.168.0.7";
    QTest::newRow("unknown indexes match nothing")
        << QList<InterfaceInfo>{listed("eth0", 0, "10.0.0.5"), listed("eth1", 0, "192.168.1.20")}
        << runtime::RouteFacts{0, {0}} << "10.0.0.5";
    // clang-format on
}

void TestLocalAddress::routeFactsDecide() {
    QFETCH(QList<InterfaceInfo>, interfaces);
    QFETCH(runtime::RouteFacts, facts);
    QFETCH(QString, address);
    runtime::applyRouteFacts(interfaces, facts);
    QCOMPARE(runtime::chooseLanAddress(interfaces), address);
}

void TestLocalAddress::systemChoiceIsNeverTheWildcard() {
    const QHostAddress chosen(runtime::localLanAddress());
    QCOMPARE(chosen.protocol(), QAbstractSocket::IPv4Protocol);
    QVERIFY(chosen != QHostAddress(QHostAddress::AnyIPv4));
    // The system's own answer for that address returns, whatever it is (Unknown off Windows).
    qInfo("network category: %d", int(runtime::networkCategoryOf(chosen.toIPv4Address())));
}

// A read that finds no interface at all (the system could not be asked, as with no descriptor
// left) changes nothing; a real change afterwards is still seen.
void TestLocalAddress::watchKeepsInterfacesNoneCouldRead() {
    ManualClock clock;
    QList<InterfaceInfo> system{loopback(), adapter(QStringLiteral("eth0"), {"192.168.1.20"})};
    runtime::AddressWatch watch([&system] { return system; }, runtime::AddressWatch::kInterval,
                                clock);
    QStringList changes;
    QObject::connect(&watch, &runtime::AddressWatch::changed,
                     [&changes](const QString& address) { changes.append(address); });
    int reads = 0;
    QObject::connect(&watch, &runtime::AddressWatch::interfacesChanged, [&reads] { ++reads; });
    watch.read();
    watch.start();
    clock.advance(runtime::AddressWatch::kInterval);
    system.clear();
    clock.advance(runtime::AddressWatch::kInterval);
    QCOMPARE(watch.interfaces().size(), 2);
    system = {loopback()};
    clock.advance(runtime::AddressWatch::kInterval);
    QCOMPARE(changes, QStringList{"127.0.0.1"});
    QCOMPARE(reads, 1);
}

QTEST_GUILESS_MAIN(TestLocalAddress)
#include "tst_localaddress.moc"
