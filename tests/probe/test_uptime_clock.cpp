// The uptime clock: time since boot in 100 ns units, rising with real time.
#include <QTest>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "probe/uptime_clock.h"

class test_uptime_clock : public QObject {
    Q_OBJECT

private slots:
    void agrees_with_the_kernels_uptime();
    void counts_elapsed_time_in_100ns_units();
    void never_goes_back();
};

void test_uptime_clock::agrees_with_the_kernels_uptime()
{
    std::ifstream file("/proc/uptime");
    double seconds = 0;
    QVERIFY(file >> seconds);
    const std::int64_t reading = quorvel::read_uptime();
    QVERIFY(reading > 0);
    // /proc/uptime shows hundredths of a second and was read a moment earlier.
    QVERIFY2(std::abs(double(reading) / 1e7 - seconds) < 0.5, qPrintable(QString::number(reading)));
}

void test_uptime_clock::counts_elapsed_time_in_100ns_units()
{
    const auto start = std::chrono::steady_clock::now();
    const std::int64_t first = quorvel::read_uptime();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const std::int64_t second = quorvel::read_uptime();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const std::int64_t elapsed_units = std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 100;
    QVERIFY(second - first >= 3'000'000);  // at least the 300 ms slept
    QVERIFY(second - first <= elapsed_units);
}

void test_uptime_clock::never_goes_back()
{
    std::int64_t last = quorvel::read_uptime();
    for (int i = 0; i < 100'000; ++i) {
        const std::int64_t now = quorvel::read_uptime();
        QVERIFY(now >= last);
        last = now;
    }
}

QTEST_APPLESS_MAIN(test_uptime_clock)
#include "test_uptime_clock.moc"
