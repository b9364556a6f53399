// Default gateways read from /proc/net/route texts given as strings (never the machine's own table).
#include <QTest>

#include <arpa/inet.h>

#include <cstdio>
#include <string>
#include <vector>

#include "probe/default_gateway.h"

using namespace quorvel;

namespace {

// An address as the kernel prints it: the 32-bit number holding it in network byte order.
std::string hex(const char* dotted)
{
    in_addr address{};
    inet_pton(AF_INET, dotted, &address);
    char text[9];
    std::snprintf(text, sizeof text, "%08X", address.s_addr);
    return text;
}

std::string route(const char* interface, const char* destination, const char* gateway, const char* flags,
                  int metric, const char* mask)
{
    return std::string(interface) + "\t" + hex(destination) + "\t" + hex(gateway) + "\t" + flags + "\t0\t0\t" +
           std::to_string(metric) + "\t" + hex(mask) + "\t0\t0\t0\n";
}

const std::string header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

QStringList list(const std::vector<std::string>& texts)
{
    QStringList result;
    for (const std::string& text : texts) result << QString::fromStdString(text);
    return result;
}

}  // namespace

class test_default_gateway : public QObject {
    Q_OBJECT

private slots:
    void gateways_data();
    void gateways();
};

void test_default_gateway::gateways_data()
{
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QStringList>("expected");
    const auto row = [](const char* name, const std::string& table, const QStringList& expected) {
        QTest::newRow(name) << QByteArray::fromStdString(table) << expected;
    };
    const std::string lan = route("eth0", "192.168.1.0", "0.0.0.0", "0001", 100, "255.255.255.0");
    row("one default route", header + route("eth0", "0.0.0.0", "192.168.1.1", "0003", 100, "0.0.0.0") + lan,
        {"192.168.1.1"});
    row("no default route", header + lan, {});
    row("empty text", "", {});
    row("header only", header, {});
    row("lowest metric first",
        header + route("wlan0", "0.0.0.0", "10.1.2.254", "0003", 600, "0.0.0.0") + lan +
            route("eth0", "0.0.0.0", "192.168.1.1", "0003", 100, "0.0.0.0"),
        {"192.168.1.1", "10.1.2.254"});
    row("same metric keeps the table's order",
        header + route("eth1", "0.0.0.0", "172.16.0.1", "0003", 100, "0.0.0.0") +
            route("eth0", "0.0.0.0", "192.168.1.1", "0003", 100, "0.0.0.0"),
        {"172.16.0.1", "192.168.1.1"});
    row("one gateway on two interfaces, once",
        header + route("eth0", "0.0.0.0", "192.168.1.1", "0003", 100, "0.0.0.0") +
            route("wlan0", "0.0.0.0", "192.168.1.1", "0003", 600, "0.0.0.0"),
        {"192.168.1.1"});
    row("default route without a gateway", header + route("ppp0", "0.0.0.0", "0.0.0.0", "0001", 0, "0.0.0.0"), {});
    row("route that is down", header + route("eth0", "0.0.0.0", "192.168.1.1", "0002", 0, "0.0.0.0"), {});
    row("gateway flag with other flags", header + route("eth0", "0.0.0.0", "192.168.5.1", "0013", 0, "0.0.0.0"),
        {"192.168.5.1"});
    row("half of the address space is no default",
        header + route("tun0", "0.0.0.0", "10.8.0.1", "0003", 0, "128.0.0.0") +
            route("tun0", "128.0.0.0", "10.8.0.1", "0003", 0, "128.0.0.0"),
        {});
    row("broken lines skipped",
        header + "eth0\t00000000\n" + "eth0\t00000000\tZZ01A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n" +
            route("eth0", "0.0.0.0", "192.168.1.1", "0003", 100, "0.0.0.0"),
        {"192.168.1.1"});
    std::string last = route("eth0", "0.0.0.0", "192.168.1.1", "0003", 100, "0.0.0.0");
    last.pop_back();
    row("last line without line break", header + last, {"192.168.1.1"});
}

void test_default_gateway::gateways()
{
    QFETCH(QByteArray, table);
    QFETCH(QStringList, expected);
    QCOMPARE(list(default_gateways(table.toStdString())), expected);
}

QTEST_APPLESS_MAIN(test_default_gateway)

#include "test_default_gateway.moc"
