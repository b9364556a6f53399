// "3 bad in a row" and "recorded" alerts, driven through the real episode trackers.
#include "probe/episode_alerts.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTest>

using namespace quorvel;

namespace {

constexpr std::int64_t units_per_ms = 10000;

// Probe k arrives at second k, stamped 10:25:k.
class second_clock final : public episode_clock {
public:
  int probe_index = 0;
  std::string time_stamp_now() override {
    return QString("2026-12-11 10:25:%1").arg(probe_index, 2, 10, QChar('0')).toStdString();
  }
  std::int64_t uptime_now() override { return probe_index * 1000 * units_per_ms; }
};

// One tracker of one channel fed with `results`; every alert as "summary|body", and "untick"
// among the results clicks the tracker's box twice (which drops an open episode).
QStringList alerts_for(std::size_t channel, episode_kind kind, tracker_settings settings,
                       const QList<int>& results, const QList<int>& untick_before = {}) {
  episode_alerts alerts;
  episode_tracker tracker;
  std::vector<episode_record> records;
  second_clock clock;
  QStringList seen;
  for (qsizetype i = 0; i < results.size(); ++i) {
    clock.probe_index = static_cast<int>(i);
    if (untick_before.contains(static_cast<int>(i))) tracker.is_open = false;
    episode_step step{kind, settings, results[i], tracker.is_open, &tracker, nullptr};
    if (feed_episode_tracker(kind, tracker, records, settings, results[i], clock))
      step.recorded = &records.back();
    if (const auto alert = alerts.observe(channel, step))
      seen << QString::fromStdString(alert->summary + "|" + alert->body);
  }
  return seen;
}

tracker_settings ticked(int ignore_count = 0, std::int32_t threshold_ms = 500) {
  return {true, threshold_ms, ignore_count};
}

}  // namespace

class test_episode_alerts : public QObject {
  Q_OBJECT

private slots:
  void alerts_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<bool>("high_ping");
    QTest::addColumn<int>("ignore_count");
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<QStringList>("expected");
    const QString down_wg = "网关连接中断|开始于 2026-12-11 10:25:01";
    QTest::newRow("three lost probes, then recorded")
        << 0 << false << 0 << QList<int>{20, -1, -1, -1, 20, -1}
        << QStringList{down_wg, "网关已恢复|约:6.98秒，开始于 2026-12-11 10:25:01"};
    QTest::newRow("two lost probes stay quiet")
        << 0 << false << 0 << QList<int>{-1, -1, 20, -1, -1, 20} << QStringList{};
    QTest::newRow("a tolerated good result breaks the row")
        << 0 << false << 1 << QList<int>{-1, -1, 20, -1, 20, 20} << QStringList{};
    QTest::newRow("three in a row after a tolerated good result")
        << 0 << false << 1 << QList<int>{20, -1, 30, -1, -1, -1, 20, 20}
        << QStringList{down_wg, "网关已恢复|约:8.93秒，开始于 2026-12-11 10:25:01"};
    QTest::newRow("once per episode, however long")
        << 1 << false << 0 << QList<int>{-1, -1, -1, -1, -1, -1, 20}
        << QStringList{"外网连接中断|开始于 2026-12-11 10:25:00",
                       "外网已恢复|约:9.98秒，开始于 2026-12-11 10:25:00"};
    QTest::newRow("each episode alerts anew")
        << 1 << false << 0 << QList<int>{-1, -1, -1, 10, -1, -1, -1}
        << QStringList{"外网连接中断|开始于 2026-12-11 10:25:00",
                       "外网已恢复|约:6.99秒，开始于 2026-12-11 10:25:00",
                       "外网连接中断|开始于 2026-12-11 10:25:04"};
    QTest::newRow("high ping: a lost probe neither counts nor breaks the row")
        << 0 << true << 0 << QList<int>{600, -1, 700, -1, 800, 20}
        << QStringList{"网关延迟过高|开始于 2026-12-11 10:25:00",
                       "网关已恢复|约:4.58秒，开始于 2026-12-11 10:25:00"};
    QTest::newRow("high ping: the threshold itself is good")
        << 1 << true << 2 << QList<int>{600, 500, 700, 800, 20, 20, 20}
        << QStringList{};
    QTest::newRow("high ping on the external host")
        << 1 << true << 0 << QList<int>{501, 502, 503, 20}
        << QStringList{"外网延迟过高|开始于 2026-12-11 10:25:00",
                       "外网已恢复|约:2.48秒，开始于 2026-12-11 10:25:00"};
  }

  void alerts() {
    QFETCH(int, channel);
    QFETCH(bool, high_ping);
    QFETCH(int, ignore_count);
    QFETCH(QList<int>, results);
    QFETCH(QStringList, expected);
    const episode_kind kind = high_ping ? episode_kind::high_ping : episode_kind::timeout;
    QCOMPARE(alerts_for(static_cast<std::size_t>(channel), kind, ticked(ignore_count), results),
             expected);
  }

  void unticked_box_stays_quiet() {
    tracker_settings off = ticked();
    off.enabled = false;
    QCOMPARE(alerts_for(0, episode_kind::timeout, off, {-1, -1, -1, -1, 20}), QStringList{});
  }

  // The box clicked during an episode drops it: its recovery is never announced, and the next
  // episode needs its own 3 bad results.
  void dropped_episode_is_forgotten() {
    const QStringList seen =
        alerts_for(0, episode_kind::timeout, ticked(), {-1, -1, -1, -1, -1, 20, -1, -1, 20},
                   {4});
    QCOMPARE(seen, QStringList{"网关连接中断|开始于 2026-12-11 10:25:00"});
  }
};

QTEST_APPLESS_MAIN(test_episode_alerts)
#include "test_episode_alerts.moc"
