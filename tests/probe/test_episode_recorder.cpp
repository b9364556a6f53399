// High-ping and timeout episodes fed with scripted results and a scripted clock.
#include "probe/episode_recorder.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTest>

#include <deque>

using namespace quorvel;

namespace {

QString qs(const std::string& text) { return QString::fromStdString(text); }

constexpr std::int64_t units_per_ms = 10000;

// Probe k arrives 1030 ms after probe k-1; odd probes carry an extra half millisecond, so that
// an elapsed time from an odd to an even probe ends in .5 ms and shows the truncation.
class probe_time_clock final : public episode_clock {
public:
  int probe_index = 0;
  std::string time_stamp_now() override { return stamp_of(probe_index); }
  std::int64_t uptime_now() override {
    return 777 * units_per_ms + probe_index * 1030 * units_per_ms + (probe_index % 2) * 5000;
  }
  static std::string stamp_of(int probe_index) {
    return QString("2026-12-11 10:%1:%2")
        .arg(probe_index / 60, 2, 10, QChar('0'))
        .arg(probe_index % 60, 2, 10, QChar('0'))
        .toStdString();
  }
};

// Hands out the given uptime readings one after the other.
class scripted_uptime_clock final : public episode_clock {
public:
  std::deque<std::int64_t> readings;
  std::string time_stamp_now() override { return "2026-12-11 10:00:00"; }
  std::int64_t uptime_now() override {
    const std::int64_t reading = readings.front();
    readings.pop_front();
    return reading;
  }
};

// "start probe index:duration ms", the form the tables below expect records in; a start text
// that is no probe's time stamp shows as index -1.
QStringList described(const std::vector<episode_record>& records) {
  QStringList lines;
  for (const episode_record& record : records) {
    int start_index = 99;
    while (start_index >= 0 && probe_time_clock::stamp_of(start_index) != record.start_text) --start_index;
    lines << QString("%1:%2").arg(start_index).arg(record.duration_ms);
  }
  return lines;
}

}  // namespace

class test_episode_recorder : public QObject {
  Q_OBJECT

private slots:
  // Durations by hand: elapsed ms between the opening and the closing probe (1030 per probe,
  // truncated), minus 1000 per good result in the final run, minus the sum of all good results,
  // plus first_ms.
  void scripted_runs_data() {
    QTest::addColumn<bool>("high_ping");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<QString>("threshold_text");
    QTest::addColumn<int>("combo_index");
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<QStringList>("records");
    QTest::addColumn<bool>("left_open");

    // 2060 - 1000 - 30 + 600
    QTest::newRow("high ping: opened by 600, ended by 30")
        << true << true << "500" << 0 << QList<int>{20, 600, 700, 30} << QStringList{"1:1630"} << false;
    // 1029.5 truncates to 1029: 1029 - 1000 - 500 + 501
    QTest::newRow("high ping: equal to the threshold is good")
        << true << true << "500" << 0 << QList<int>{500, 501, 500} << QStringList{"1:30"} << false;
    // the 700 zeroes the count but not the sum (80): 5150 - 3000 - 80 + 600
    QTest::newRow("high ping: tolerance 2, a bad result in between")
        << true << true << "500" << 2 << QList<int>{600, 20, 700, 20, 20, 20} << QStringList{"0:2670"}
        << false;
    // 3089.5 -> 3089: 3089 - 1000 - 20 + 600; a -1 neither starts nor touches a high-ping episode
    QTest::newRow("high ping: no answer is ignored")
        << true << true << "500" << 0 << QList<int>{-1, 600, -1, -1, 20} << QStringList{"1:2669"}
        << false;
    QTest::newRow("high ping: tolerance not yet used up stays open")
        << true << true << "500" << 3 << QList<int>{600, 20, 20, 20} << QStringList{} << true;
    // no selection behaves as 0: 1030 - 1000 - 20 + 600
    QTest::newRow("high ping: combo index -1")
        << true << true << "500" << -1 << QList<int>{600, 20} << QStringList{"0:610"} << false;
    QTest::newRow("high ping: unticked never records")
        << true << false << "500" << 0 << QList<int>{600, 20, 900, 30} << QStringList{} << false;
    // 1029 - 1000 - 20 + 700, then 1029 - 1000 - 30 + 800
    QTest::newRow("high ping: two episodes in a row")
        << true << true << "500" << 0 << QList<int>{20, 700, 20, 800, 30} << QStringList{"1:709", "3:799"}
        << false;
    QTest::newRow("high ping: threshold 0 means 500")
        << true << true << "0" << 0 << QList<int>{400, 600, 20} << QStringList{"1:609"} << false;
    QTest::newRow("high ping: empty threshold means 500")
        << true << true << "" << 0 << QList<int>{499, 500, 20} << QStringList{} << false;
    QTest::newRow("high ping: negative threshold means 500")
        << true << true << "-20" << 0 << QList<int>{30, 501, 20} << QStringList{"1:510"} << false;
    // full-width digits and an ideographic space are understood: threshold 80
    QTest::newRow("high ping: full-width threshold")
        << true << true << "\u3000８０" << 0 << QList<int>{80, 81, 80} << QStringList{"1:30"} << false;
    // 2^32 + 100 wraps to 100
    QTest::newRow("high ping: huge threshold wraps")
        << true << true << "4294967396" << 0 << QList<int>{100, 101, 100} << QStringList{"1:30"} << false;
    // 1030.5 -> 1030: 1030 - 1000 - 3000 + 5000
    QTest::newRow("timeout: a slow answer is good")
        << false << true << "" << 0 << QList<int>{-1, 3000} << QStringList{"0:2030"} << false;
    // 4120 - 2000 - 60 + 5000
    QTest::newRow("timeout: tolerance 1")
        << false << true << "" << 1 << QList<int>{-1, 20, -1, 20, 20} << QStringList{"0:7060"} << false;
    QTest::newRow("timeout: only no answer starts one")
        << false << true << "" << 0 << QList<int>{5000, 9999, 0} << QStringList{} << false;
    QTest::newRow("timeout: still open after the last result")
        << false << true << "" << 0 << QList<int>{20, -1, -1} << QStringList{} << true;
    QTest::newRow("timeout: unticked never records")
        << false << false << "" << 0 << QList<int>{-1, 20} << QStringList{} << false;
  }

  void scripted_runs() {
    QFETCH(bool, high_ping);
    QFETCH(bool, enabled);
    QFETCH(QString, threshold_text);
    QFETCH(int, combo_index);
    QFETCH(QList<int>, results);
    QFETCH(QStringList, records);
    QFETCH(bool, left_open);

    const episode_kind kind = high_ping ? episode_kind::high_ping : episode_kind::timeout;
    const tracker_settings settings{enabled, high_ping_threshold_from_text(threshold_text.toStdString()),
                                    ignore_count_from_index(combo_index)};
    probe_time_clock clock;
    episode_tracker tracker;
    std::vector<episode_record> list;
    for (const int result : results) {
      const std::size_t before = list.size();
      const bool ended = feed_episode_tracker(kind, tracker, list, settings, result, clock);
      QCOMPARE(ended, list.size() == before + 1);
      ++clock.probe_index;
    }
    QCOMPARE(described(list), records);
    QCOMPARE(tracker.is_open, left_open);
  }

  void both_kinds_overlap_independently() {
    const tracker_settings settings{true, 500, 0};
    probe_time_clock clock;
    episode_tracker high_ping, timeout;
    std::vector<episode_record> high_ping_records, timeout_records;
    for (const int result : {600, -1, 20}) {
      feed_episode_tracker(episode_kind::high_ping, high_ping, high_ping_records, settings, result, clock);
      feed_episode_tracker(episode_kind::timeout, timeout, timeout_records, settings, result, clock);
      ++clock.probe_index;
    }
    // high ping: 2060 - 1000 - 20 + 600; timeout: 1029 - 1000 - 20 + 5000
    QCOMPARE(described(high_ping_records), QStringList{"0:1640"});
    QCOMPARE(described(timeout_records), QStringList{"1:5009"});
  }

  // A timeout episode's opening -1 counts for as long as its probe took, at most the timeout;
  // a high-ping episode's opening result is its own round trip whatever the probe took.
  void opening_result_counts_for_its_probe_time_data() {
    QTest::addColumn<bool>("high_ping");
    QTest::addColumn<QList<int>>("results");
    QTest::addColumn<QList<int>>("probe_ms");
    QTest::addColumn<QStringList>("records");
    // 1030 - 1000 - 20 + first_ms
    QTest::newRow("error report after 3 ms")
        << false << QList<int>{-1, 20} << QList<int>{3, 21} << QStringList{"0:13"};
    QTest::newRow("answer refused at once") << false << QList<int>{-1, 20} << QList<int>{0, 21} << QStringList{"0:10"};
    QTest::newRow("name given up after 2 s")
        << false << QList<int>{-1, 20} << QList<int>{2000, 21} << QStringList{"0:2010"};
    QTest::newRow("the whole timeout") << false << QList<int>{-1, 20} << QList<int>{5000, 21} << QStringList{"0:5010"};
    QTest::newRow("timeout and a slow resolver")
        << false << QList<int>{-1, 20} << QList<int>{7300, 21} << QStringList{"0:5010"};
    // 2060 - 1000 - 20 + 3: only the opening probe's time counts
    QTest::newRow("later -1 do not count")
        << false << QList<int>{-1, -1, 20} << QList<int>{3, 5000, 21} << QStringList{"0:1043"};
    QTest::newRow("high ping: its round trip")
        << true << QList<int>{600, 20} << QList<int>{650, 21} << QStringList{"0:610"};
  }

  void opening_result_counts_for_its_probe_time() {
    QFETCH(bool, high_ping);
    QFETCH(QList<int>, results);
    QFETCH(QList<int>, probe_ms);
    QFETCH(QStringList, records);
    const episode_kind kind = high_ping ? episode_kind::high_ping : episode_kind::timeout;
    probe_time_clock clock;
    episode_tracker tracker;
    std::vector<episode_record> list;
    for (qsizetype i = 0; i < results.size(); ++i) {
      feed_episode_tracker(kind, tracker, list, tracker_settings{true, 500, 0}, results[i], clock, probe_ms[i]);
      ++clock.probe_index;
    }
    QCOMPARE(described(list), records);
  }

  // A threshold below 1 that reaches the tracker directly still means 500.
  void tracker_guards_its_threshold() {
    probe_time_clock clock;
    episode_tracker tracker;
    std::vector<episode_record> list;
    for (const int result : {300, 501, 20}) {
      feed_episode_tracker(episode_kind::high_ping, tracker, list, tracker_settings{true, -7, 0}, result, clock);
      ++clock.probe_index;
    }
    QCOMPARE(described(list), QStringList{"1:510"});
  }

  void elapsed_time_truncates_toward_zero_data() {
    QTest::addColumn<qint64>("start_units");
    QTest::addColumn<qint64>("end_units");
    QTest::addColumn<int>("duration_ms");
    // results 600, 20: duration = elapsed - 1000 - 20 + 600 = elapsed - 420
    QTest::newRow("1.5 ms") << qint64{0} << qint64{15000} << 1 - 420;
    QTest::newRow("clock back 1.5 ms") << qint64{15000} << qint64{0} << -1 - 420;
    QTest::newRow("clock back 0.7 ms") << qint64{5000} << qint64{-2000} << 0 - 420;
    QTest::newRow("failed reading at the start") << qint64{-1} << qint64{199'999'999} << 20000 - 420;
    QTest::newRow("failed reading at the end") << qint64{30'000'000} << qint64{-1} << -3000 - 420;
    // 30 days do not fit into 32-bit milliseconds; the low 32 bits are kept, as stored
    QTest::newRow("beyond 32 bits") << qint64{0} << qint64{25'920'000'000'000}
                                    << static_cast<int>(2'592'000'000LL - 4'294'967'296LL - 420);
  }

  void elapsed_time_truncates_toward_zero() {
    QFETCH(qint64, start_units);
    QFETCH(qint64, end_units);
    QFETCH(int, duration_ms);
    scripted_uptime_clock clock;
    clock.readings = {start_units, end_units};
    episode_tracker tracker;
    std::vector<episode_record> list;
    const tracker_settings settings{true, 500, 0};
    QVERIFY(!feed_episode_tracker(episode_kind::high_ping, tracker, list, settings, 600, clock));
    QVERIFY(feed_episode_tracker(episode_kind::high_ping, tracker, list, settings, 20, clock));
    QCOMPARE(list.size(), std::size_t{1});
    QCOMPARE(list[0].duration_ms, duration_ms);
    QVERIFY(clock.readings.empty());
  }

  void threshold_from_text_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("threshold");
    QTest::newRow("plain") << "300" << 300;
    QTest::newRow("leading spaces") << "  300" << 300;
    QTest::newRow("full-width digits") << "５００" << 500;
    QTest::newRow("ideographic space, full-width 80") << "\u3000８０" << 80;
    QTest::newRow("full-width plus sign") << "＋７" << 7;
    QTest::newRow("plus sign") << "+7" << 7;
    QTest::newRow("1 is the smallest kept") << "1" << 1;
    QTest::newRow("digits then text") << "12ms" << 12;
    QTest::newRow("empty") << "" << 500;
    QTest::newRow("zero") << "0" << 500;
    QTest::newRow("negative") << "-20" << 500;
    QTest::newRow("letters") << "abc" << 500;
    QTest::newRow("sign and a space") << "- 5" << 500;
    QTest::newRow("2^31 wraps negative") << "2147483648" << 500;
    QTest::newRow("2^32 + 1 wraps to 1") << "4294967297" << 1;
    QTest::newRow("eleven nines") << "99999999999" << 1215752191;
  }

  void threshold_from_text() {
    QFETCH(QString, text);
    QFETCH(int, threshold);
    QCOMPARE(high_ping_threshold_from_text(text.toStdString()), threshold);
  }

  void ignore_count_from_combo_index() {
    QCOMPARE(ignore_count_from_index(-1), 0);
    QCOMPARE(ignore_count_from_index(0), 0);
    QCOMPARE(ignore_count_from_index(9), 9);
  }

  void record_line_text_data() {
    QTest::addColumn<int>("duration_ms");
    QTest::addColumn<QString>("line");
    QTest::newRow("1500 ms") << 1500 << "发生在:2020-02-03 09:05:07  约:1.50秒";
    QTest::newRow("250 ms") << 250 << "发生在:2020-02-03 09:05:07  约:0.25秒";
    QTest::newRow("whole seconds") << 5000 << "发生在:2020-02-03 09:05:07  约:5.00秒";
    QTest::newRow("negative, not clamped") << -420 << "发生在:2020-02-03 09:05:07  约:-0.42秒";
    QTest::newRow("long, no grouping") << 2147483647 << "发生在:2020-02-03 09:05:07  约:2147483.65秒";
  }

  void record_line_text() {
    QFETCH(int, duration_ms);
    QFETCH(QString, line);
    QCOMPARE(qs(record_line(episode_record{"2020-02-03 09:05:07", duration_ms})), line);
  }

  void system_clock_reads_the_real_clocks() {
    episode_clock& clock = system_episode_clock();
    const std::string stamp = clock.time_stamp_now();
    QCOMPARE(stamp.size(), std::size_t{19});
    QVERIFY(clock.uptime_now() > 0);
  }
};

QTEST_APPLESS_MAIN(test_episode_recorder)
#include "test_episode_recorder.moc"
