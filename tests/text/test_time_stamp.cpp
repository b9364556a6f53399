// Calendar time stamps: the text of given values, and the clock reading in several time zones.
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

#include "text/time_stamp.h"

using namespace quorvel;

namespace {

constexpr double seconds_per_day = 86400.0;
constexpr double unix_epoch_day = 25569.0;  // 1970-01-01 counted from 1899-12-30

double at(double day, int hour, int minute, int second)
{
    return day + (hour * 3600 + minute * 60 + second) / seconds_per_day;
}

// The clock itself notices the change of zone.
void use_time_zone(const char* zone) { ::setenv("TZ", zone, 1); }

// The wall clock of `moment` at a fixed offset east of UTC, formatted without local-time rules.
QByteArray utc_text(std::time_t moment, int offset_seconds)
{
    const std::time_t shifted = moment + offset_seconds;
    std::tm fields{};
    gmtime_r(&shifted, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
    return text;
}

QByteArray local_text(std::time_t moment)
{
    ::tzset();
    std::tm fields{};
    localtime_r(&moment, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &fields);
    return text;
}

}  // namespace

class test_time_stamp : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { ::unsetenv("TZ"); }
    void text_of_value_data();
    void text_of_value();
    void clock_reads_whole_local_seconds_data();
    void clock_reads_whole_local_seconds();
    void clock_follows_the_zone_rules_data();
    void clock_follows_the_zone_rules();
};

void test_time_stamp::text_of_value_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QByteArray>("expected");
    const double feb_3_2020 = 43864;
    const double dec_31_2020 = 44196;
    QTest::newRow("morning") << at(feb_3_2020, 9, 5, 7) << QByteArray("2020-02-03 09:05:07");
    QTest::newRow("evening, 24-hour clock") << at(feb_3_2020, 21, 5, 7) << QByteArray("2020-02-03 21:05:07");
    QTest::newRow("midnight begins the day") << dec_31_2020 + 1 << QByteArray("2021-01-01 00:00:00");
    QTest::newRow("last second of the year") << at(dec_31_2020, 23, 59, 59) << QByteArray("2020-12-31 23:59:59");
    QTest::newRow("one second later") << at(dec_31_2020, 23, 59, 59) + 1 / seconds_per_day
                                       << QByteArray("2021-01-01 00:00:00");
    QTest::newRow("a hair below a second") << at(feb_3_2020, 9, 5, 7) - 1e-10 << QByteArray("2020-02-03 09:05:07");
    QTest::newRow("a hair below midnight carries into the year")
        << dec_31_2020 + 1 - 1e-10 << QByteArray("2021-01-01 00:00:00");
    QTest::newRow("half a second goes up") << at(feb_3_2020, 9, 5, 7) + 0.5001 / seconds_per_day
                                           << QByteArray("2020-02-03 09:05:08");
    QTest::newRow("below half a second stays") << at(feb_3_2020, 9, 5, 7) + 0.4999 / seconds_per_day
                                               << QByteArray("2020-02-03 09:05:07");
    QTest::newRow("leap day") << at(45351, 12, 0, 0) << QByteArray("2024-02-29 12:00:00");
    QTest::newRow("day zero") << 0.0 << QByteArray("1899-12-30 00:00:00");
    QTest::newRow("before day zero") << -1.25 << QByteArray("1899-12-29 06:00:00");
    QTest::newRow("single digits padded") << at(36526, 1, 2, 3) << QByteArray("2000-01-01 01:02:03");
}

void test_time_stamp::text_of_value()
{
    QFETCH(double, value);
    QFETCH(QByteArray, expected);
    const std::string text = time_stamp_text(value);
    QCOMPARE(QByteArray(text.c_str()), expected);
    QCOMPARE(text.size(), size_t(19));
}

void test_time_stamp::clock_reads_whole_local_seconds_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("offset_seconds");  // east of UTC, at every time of the year
    QTest::newRow("UTC") << QByteArray("UTC0") << 0;
    QTest::newRow("UTC+8 by name") << QByteArray("Asia/Shanghai") << 8 * 3600;
    QTest::newRow("UTC-9:30") << QByteArray("<-0930>9:30") << -(9 * 3600 + 1800);
    // Standard time UTC-3 with daylight saving time in force all year, so it is in force now.
    QTest::newRow("daylight saving time") << QByteArray("AAA3BBB,J1/0,J365/24") << -2 * 3600;
}

void test_time_stamp::clock_reads_whole_local_seconds()
{
    QFETCH(QByteArray, zone);
    QFETCH(int, offset_seconds);
    use_time_zone(zone.constData());
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const double value = current_date_time();
        if (std::time(nullptr) != before) continue;  // the second turned over: read again
        const double expected = unix_epoch_day + double(before + offset_seconds) / seconds_per_day;
        QVERIFY2(std::fabs(value - expected) < 1e-3 / seconds_per_day, qPrintable(QString::number(value, 'f', 10)));
        QCOMPARE(QByteArray(time_stamp_text(value).c_str()), utc_text(before, offset_seconds));
        return;
    }
    QFAIL("the clock never stood still for a second");
}

void test_time_stamp::clock_follows_the_zone_rules_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::newRow("Berlin") << QByteArray("Europe/Berlin");
    QTest::newRow("Sydney") << QByteArray("Australia/Sydney");
    QTest::newRow("New York") << QByteArray("America/New_York");
}

// Zones whose daylight saving time comes and goes: the text matches the system's own local
// calendar, whichever half of the year it is.
void test_time_stamp::clock_follows_the_zone_rules()
{
    QFETCH(QByteArray, zone);
    use_time_zone(zone.constData());
    for (int attempt = 0; attempt < 5; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const std::string text = time_stamp_text(current_date_time());
        if (std::time(nullptr) != before) continue;
        QCOMPARE(QByteArray(text.c_str()), local_text(before));
        return;
    }
    QFAIL("the clock never stood still for a second");
}

QTEST_APPLESS_MAIN(test_time_stamp)
#include "test_time_stamp.moc"
