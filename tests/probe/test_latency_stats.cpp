// Classes and levels, the running mean, and the summary, caption and log texts.
#include "probe/latency_stats.h"

#include <QList>
#include <QString>
#include <QTest>

#include <limits>

using namespace quorvel;

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

latency_stats stats_after(const QList<int>& results) {
  latency_stats stats;
  for (const int result : results) add_probe_result(stats, result);
  return stats;
}

const std::string gateway_prefix = "网关测试结果   平均速度：";
const std::string external_prefix = "外网测试结果   平均速度：";

}  // namespace

class test_latency_stats : public QObject {
  Q_OBJECT

private slots:
  void class_and_level_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("latency_class");
    QTest::addColumn<int>("level");
    const struct {
      const char* name;
      int result, latency_class, level;
    } rows[] = {
        {"0", 0, 0, 1},        {"80", 80, 0, 1},      {"81", 81, 1, 2},
        {"160", 160, 1, 2},    {"161", 161, 2, 2},    {"240", 240, 2, 2},
        {"241", 241, 3, 3},    {"400", 400, 3, 3},    {"401", 401, 4, 4},
        {"640", 640, 4, 4},    {"641", 641, 5, 4},    {"999", 999, 5, 4},
        {"1000", 1000, 6, 4},  {"4999", 4999, 6, 4},  {"int max", std::numeric_limits<int>::max(), 6, 4},
        {"no answer", -1, timeout_class, 0},
    };
    for (const auto& row : rows) {
      QTest::newRow(row.name) << row.result << row.latency_class << row.level;
    }
  }

  // Only the result's own counter moves, and the class gives the level the float window shows.
  void class_and_level() {
    QFETCH(int, result);
    QFETCH(int, latency_class);
    QFETCH(int, level);
    QCOMPARE(latency_class_of(result), latency_class);
    QCOMPARE(latency_level_of_class(latency_class), level);

    latency_stats stats = stats_after({20, 700});
    auto expected_counts = stats.class_counts;
    expected_counts[static_cast<std::size_t>(latency_class)] += 1;
    QCOMPARE(add_probe_result(stats, result), latency_class);
    QCOMPARE(stats.class_counts, expected_counts);
    QCOMPARE(stats.probe_count, 3);
  }

  void mean_rule_data() {
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<double>("mean");
    QTest::newRow("timeout keeps the mean, later answers average over all") << QList<int>{10, -1, 40} << 20.0;
    QTest::newRow("first probes unanswered keep 0") << QList<int>{-1, -1} << 0.0;
    QTest::newRow("first answer after k timeouts gives a/(k+1)") << QList<int>{-1, -1, -1, 80} << 20.0;
    QTest::newRow("a single zero") << QList<int>{0} << 0.0;
    QTest::newRow("halves stay exact") << QList<int>{12, 13} << 12.5;
    // The fixed order of operations (mean x count, plus x, over count + 1) decides the last bit;
    // the usual incremental form mean + (x - mean) / (n + 1) ends one unit lower here.
    QTest::newRow("order of operations") << QList<int>{69, 111, 223, 215, 293, 273} << 0x1.8aaaaaaaaaaabp+7;
  }

  void mean_rule() {
    QFETCH(QList<int>, results);
    QFETCH(double, mean);
    const latency_stats stats = stats_after(results);
    QCOMPARE(stats.probe_count, static_cast<int>(results.size()));
    QVERIFY2(stats.mean_rtt_ms == mean, qPrintable(QString::number(stats.mean_rtt_ms, 'a', 13)));
  }

  void texts_data() {
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("gateway_caption");
    QTest::newRow("one loss, three fast")
        << QList<int>{-1, 20, 30, 40}
        << "次数: 4, 丢包: 25.00%, 快: 75.00%\r\n中: 0.00%, 缓: 0.00%, 慢: 0.00%"
        << "网关测试结果   平均速度：23ms";
    QTest::newRow("first probe unanswered")
        << QList<int>{-1} << "次数: 1, 丢包: 100.00%, 快: 0.00%\r\n中: 0.00%, 缓: 0.00%, 慢: 0.00%"
        << "网关测试结果   平均速度：0ms";
    QTest::newRow("mean 12.5 shows as 13")
        << QList<int>{0, 25, 13, 12} << "次数: 4, 丢包: 0.00%, 快: 100.00%\r\n中: 0.00%, 缓: 0.00%, 慢: 0.00%"
        << "网关测试结果   平均速度：13ms";
    QTest::newRow("one in three")
        << QList<int>{100, 300, 700} << "次数: 3, 丢包: 0.00%, 快: 0.00%\r\n中: 33.33%, 缓: 33.33%, 慢: 33.33%"
        << "网关测试结果   平均速度：367ms";
    QTest::newRow("medium and slow groups add their classes")
        << QList<int>{81, 240, 641, 1000, 999, 401, 80, -1}
        << "次数: 8, 丢包: 12.50%, 快: 12.50%\r\n中: 25.00%, 缓: 0.00%, 慢: 50.00%"
        << "网关测试结果   平均速度：492ms";
  }

  void texts() {
    QFETCH(QList<int>, results);
    QFETCH(QString, summary);
    QFETCH(QString, gateway_caption);
    const latency_stats stats = stats_after(results);
    QCOMPARE(qs(summary_text(stats)), summary);
    QCOMPARE(qs(mean_caption(gateway_prefix, stats)), gateway_caption);
    QCOMPARE(qs(mean_caption(external_prefix, stats)),
             QString(gateway_caption).replace("网关", "外网"));
  }

  void zeroed_stats_never_divide_by_zero() {
    QCOMPARE(qs(summary_text(latency_stats{})),
             "次数: 0, 丢包: 0.00%, 快: 0.00%\r\n中: 0.00%, 缓: 0.00%, 慢: 0.00%");
  }

  void log_line_text_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("line");
    QTest::newRow("zero") << 0 << "\r\n2026-12-11 09:27:02    响应时间：0ms";
    QTest::newRow("slow") << 1234 << "\r\n2026-12-11 09:27:02    响应时间：1234ms";
    QTest::newRow("no answer") << -1 << "\r\n2026-12-11 09:27:02    超时或出现故障";
  }

  void log_line_text() {
    QFETCH(int, result);
    QFETCH(QString, line);
    QCOMPARE(qs(log_line("2026-12-11 09:27:02", result)), line);
  }
};

QTEST_APPLESS_MAIN(test_latency_stats)
#include "test_latency_stats.moc"
