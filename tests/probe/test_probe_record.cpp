// The run's probe records: time stamps as the log writes them (also across a zone change), the
// shown order of both channels, the per-column reduction against a brute-force scan, and the
// probe logs against the text a plain text log holds.
#include "probe/column_extremes.h"
#include "probe/latency_stats.h"
#include "probe/log_store.h"
#include "probe/probe_record.h"
#include "text/time_stamp.h"

#include <QTest>

#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <vector>

using namespace quorvel;

namespace {

void set_zone(const char* zone) {
  setenv("TZ", zone, 1);
  tzset();
}

// A log line as the probe cycle wrote it before the records, from the clock of that moment.
std::string todays_stamp_at(std::time_t utc) {
  std::tm local{};
  localtime_r(&utc, &local);
  const double days = static_cast<double>(timegm(&local) / 86400) + 25569.0;  // 1970-01-01
  return time_stamp_text(days + static_cast<double>(timegm(&local) % 86400) / 86400.0);
}

probe_time time_in_zone(std::time_t utc) {
  std::tm local{};
  localtime_r(&utc, &local);
  return {utc, static_cast<std::int32_t>(timegm(&local) - utc)};
}

struct made_probe {
  std::size_t channel;
  std::int32_t result;
  probe_time time;
};

// Both channels at their own pace, answers of every size and losses, the clock going on.
std::vector<made_probe> random_run(std::mt19937& random, std::size_t count, bool clock_set_back) {
  std::vector<made_probe> probes;
  std::int64_t utc = 1'796'900'000;
  std::uniform_int_distribution<int> step(0, 3), result(-1, 4999), channel(0, 2);
  for (std::size_t i = 0; i < count; ++i) {
    utc += step(random);
    if (clock_set_back && i == count / 2) utc -= 500;
    const std::int32_t r = result(random) % 7 == 0 ? -1 : result(random);
    probes.push_back({channel(random) == 0 ? 0u : 1u, r, {utc, 28800}});
  }
  return probes;
}

probe_record_list records_of(const std::vector<made_probe>& probes) {
  probe_record_list records;
  for (const made_probe& probe : probes) records.add(probe.channel, probe.result, probe.time);
  return records;
}

}  // namespace

class test_probe_record : public QObject {
  Q_OBJECT

private slots:
  void cleanup() { set_zone("UTC"); }

  void time_stamp_as_the_log_wrote_it_data() {
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<qint64>("utc");
    QTest::newRow("Beijing") << QByteArray("CST-8") << qint64{1'796'900'000};
    QTest::newRow("UTC midnight") << QByteArray("UTC") << qint64{1'796'947'200};
    QTest::newRow("west of UTC, previous day") << QByteArray("EST5") << qint64{1'796'947'200};
    QTest::newRow("half-hour zone") << QByteArray("IST-5:30") << qint64{1'796'925'599};
    QTest::newRow("odd seconds of offset") << QByteArray("LMT-0:05:43") << qint64{1'796'940'000};
    QTest::newRow("leap day") << QByteArray("CST-8") << qint64{1'709'222'399};
    QTest::newRow("year 2099") << QByteArray("UTC") << qint64{4'102'444'799};
  }
  void time_stamp_as_the_log_wrote_it() {
    QFETCH(QByteArray, zone);
    QFETCH(qint64, utc);
    set_zone(zone.constData());
    const std::string expected = todays_stamp_at(static_cast<std::time_t>(utc));
    QCOMPARE(probe_time_stamp(time_in_zone(static_cast<std::time_t>(utc))), expected);
    probe_record_list records;
    records.add(1, 7, time_in_zone(static_cast<std::time_t>(utc)));
    QCOMPARE(probe_time_stamp(records.at(0).time), expected);
  }

  void now_is_the_clock_of_the_log() {
    for (const char* zone : {"CST-8", "EST5EDT,M3.2.0,M11.1.0", "UTC"}) {
      set_zone(zone);
      std::string expected, made;
      do {  // the same second for both readings
        expected = time_stamp_text(current_date_time());
        made = probe_time_stamp(probe_time_now());
      } while (expected != time_stamp_text(current_date_time()));
      QCOMPARE(made, expected);
    }
  }

  void stamps_keep_their_zone_after_a_change() {
    probe_record_list records;
    set_zone("CST-8");
    records.add(0, 12, probe_time_now());
    const std::string before = probe_time_stamp(records.at(0).time);
    set_zone("EST5");
    records.add(0, 13, probe_time_now());
    QCOMPARE(probe_time_stamp(records.at(0).time), before);
    QCOMPARE(records.at(1).time.utc_offset_seconds, -5 * 3600);
    QCOMPARE(records.at(0).time.utc_offset_seconds, 8 * 3600);
    std::vector<std::string> stamps;
    records.for_each_shown([&](std::size_t, std::string_view stamp, std::int32_t) { stamps.emplace_back(stamp); });
    QCOMPARE(stamps.front(), before);
    QCOMPARE(stamps.back(), probe_time_stamp(records.at(1).time));
  }

  void results_kept_data() {
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("kept");
    QTest::newRow("no answer") << -1 << -1;
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("just under the timeout") << 4999 << 4999;
    QTest::newRow("longest kept exactly") << 32766 << 32766;
    QTest::newRow("longer is cut") << 100000 << 32766;
  }
  void results_kept() {
    QFETCH(int, result);
    QFETCH(int, kept);
    probe_record_list records;
    records.add(1, result, {1'796'900'000, 0});
    QCOMPARE(records.at(0).result, kept);
    QCOMPARE(records.at(0).channel, std::size_t{1});
  }

  void shown_order_and_each_channel() {
    std::mt19937 random(14);
    const std::vector<made_probe> probes = random_run(random, 50'000, false);
    const probe_record_list records = records_of(probes);
    QCOMPARE(records.size(), probes.size());
    std::size_t at = 0;
    bool same = true;
    records.for_each_shown([&](std::size_t channel, std::string_view stamp, std::int32_t result) {
      const made_probe& made = probes[at++];
      same = same && channel == made.channel && result == made.result && stamp == probe_time_stamp(made.time);
    });
    QVERIFY(same);
    QCOMPARE(at, probes.size());
    std::vector<std::size_t> seen(probe_channel_count, 0);
    for (std::size_t position = 0; position < probes.size(); ++position) {
      const made_probe& made = probes[position];
      const std::size_t index = seen[made.channel]++;
      if (records.position_of(made.channel, index) != position) QFAIL(qPrintable(QString::number(position)));
      const shown_probe probe = records.of_channel(made.channel, index);
      QCOMPARE(probe.result, made.result);
      QCOMPARE(probe.time, made.time);
    }
    QCOMPARE(records.count(0), seen[0]);
    QCOMPARE(records.count(1), seen[1]);
    std::size_t walked = 0;
    records.for_each_of_channel(1, 1000, [&](const shown_probe& probe) {
      same = same && probe.channel == 1 && probe.time == records.of_channel(1, 1000 + walked).time;
      return ++walked < 5000;
    });
    QVERIFY(same);
    QCOMPARE(walked, std::size_t{5000});
  }

  void a_week_in_at_most_8_bytes_a_probe() {
    probe_record_list records;
    for (std::int64_t second = 0; second < 604'800; ++second) {
      for (std::size_t channel = 0; channel < probe_channel_count; ++channel)
        records.add(channel, static_cast<std::int32_t>(second % 700) - 1, {1'796'900'000 + second, 28800});
    }
    const double per_probe = static_cast<double>(records.memory_bytes()) / static_cast<double>(records.size());
    QVERIFY2(per_probe <= 8.0, qPrintable(QString::number(per_probe)));
    QVERIFY(per_probe >= 6.0);  // the record itself: no undercount
    records.clear();
    QCOMPARE(records.size(), std::size_t{0});
    QVERIFY(records.memory_bytes() < 1024);
  }

  void columns_against_a_brute_force_scan_data() {
    QTest::addColumn<bool>("clock_set_back");
    QTest::addColumn<int>("columns");
    QTest::newRow("more probes than columns") << false << 97;
    QTest::newRow("more columns than probes") << false << 3000;
    QTest::newRow("one column") << false << 1;
    QTest::newRow("clock set back") << true << 500;
  }
  void columns_against_a_brute_force_scan() {
    QFETCH(bool, clock_set_back);
    QFETCH(int, columns);
    std::mt19937 random(static_cast<std::uint32_t>(columns));
    const std::vector<made_probe> probes = random_run(random, 20'000, clock_set_back);
    const probe_record_list records = records_of(probes);
    QCOMPARE(records.times_ascending(), !clock_set_back);
    column_reducer reducer(records);
    const double first = static_cast<double>(probes.front().time.utc_seconds);
    const double last = static_cast<double>(probes.back().time.utc_seconds);
    std::uniform_real_distribution<double> place(first - 100.0, last + 100.0);
    for (int round = 0; round < 20; ++round) {
      double begin = place(random), end = place(random);
      if (round == 0) begin = first, end = last + 1.0;  // all of it
      if (end < begin) std::swap(begin, end);
      const time_span span{begin, end};
      const channel_columns reduced = reduce_columns(records, span, columns);
      // Every probe in the span must be inside its column's extremes, and the extremes made of them.
      channel_columns expected;
      for (auto& channel : expected) channel.assign(static_cast<std::size_t>(columns), {});
      for (const made_probe& probe : probes) {
        const int column = column_of(span, columns, probe.time.utc_seconds);
        if (column < 0) continue;
        column_extreme& c = expected[probe.channel][static_cast<std::size_t>(column)];
        if (probe.result < 0) {
          c.lost = true;
        } else if (!c.answered) {
          c = {probe.result, probe.result, probe.result, probe.result, true, c.lost};
        } else {
          c.min_ms = std::min(c.min_ms, probe.result);
          c.max_ms = std::max(c.max_ms, probe.result);
          c.last_ms = probe.result;
        }
      }
      QVERIFY2(reduced == expected, qPrintable(QStringLiteral("round %1").arg(round)));
      QVERIFY2(reducer.reduce(span, columns) == expected, qPrintable(QStringLiteral("reducer, round %1").arg(round)));
    }
  }

  // The reducer's kept extremes follow the list as it grows and after it is cleared.
  void reducer_follows_the_list() {
    std::mt19937 random(3);
    const std::vector<made_probe> probes = random_run(random, 3000, false);
    probe_record_list records;
    column_reducer reducer(records);
    const time_span all{static_cast<double>(probes.front().time.utc_seconds),
                        static_cast<double>(probes.back().time.utc_seconds) + 1.0};
    for (std::size_t count : {std::size_t{100}, std::size_t{1000}, probes.size()}) {
      while (records.size() < count) {
        const made_probe& probe = probes[records.size()];
        records.add(probe.channel, probe.result, probe.time);
      }
      QVERIFY(reducer.reduce(all, 7) == reduce_columns(records, all, 7));
    }
    records.clear();
    for (std::size_t i = 0; i < 500; ++i) records.add(1, static_cast<std::int32_t>(i), probes[i].time);
    QVERIFY(reducer.reduce(all, 7) == reduce_columns(records, all, 7));
    QVERIFY(reducer.memory_bytes() > 0);
  }

  void column_of_edges() {
    const time_span span{100.0, 200.0};
    QCOMPARE(column_of(span, 10, 99), -1);
    QCOMPARE(column_of(span, 10, 100), 0);
    QCOMPARE(column_of(span, 10, 109), 0);
    QCOMPARE(column_of(span, 10, 110), 1);
    QCOMPARE(column_of(span, 10, 199), 9);
    QCOMPARE(column_of(span, 10, 200), -1);
    QCOMPARE(column_of(span, 0, 150), -1);
  }

  // The log's lines and whole text, against a plain text log fed what the cycle used to append.
  void probe_log_reads_as_the_text_log_data() {
    QTest::addColumn<QStringList>("steps");  // "p<result>" a probe, anything else a text
    QTest::newRow("run") << QStringList{"开始进行测试...", "p20", "p-1", "p0", "p4999", "\r\n停止网络测试。"};
    QTest::newRow("probe first") << QStringList{"p5", "p6", "\r\n停止网络测试。"};
    QTest::newRow("text goes on in a probe line") << QStringList{"x", "p5", " more", "p6", "\r", "\nend"};
    QTest::newRow("break split after a probe") << QStringList{"p5", "\r", "\n", "p7"};
    QTest::newRow("empty texts") << QStringList{"", "p5", "", "p6"};
    QTest::newRow("bare break after a probe") << QStringList{"a", "p5", "\r\n", "p6", "\r\n\r\n"};
    QTest::newRow("stop then a new start") << QStringList{"开始进行测试...", "p1", "\r\n停止网络测试。", "p2"};
  }
  void probe_log_reads_as_the_text_log() {
    QFETCH(QStringList, steps);
    set_zone("CST-8");
    probe_record_list records;
    probe_log log(&records, 1);
    log_store today;
    std::int64_t utc = 1'796'900'000;
    for (const QString& step : steps) {
      if (step.startsWith('p') && step.size() > 1) {
        const probe_time time = time_in_zone(static_cast<std::time_t>(++utc));
        records.add(0, 3, time);  // the other channel's probe in between
        records.add(1, step.mid(1).toInt(), time);
        log.append_probe();
        today.append(log_line(todays_stamp_at(static_cast<std::time_t>(utc)), step.mid(1).toInt()));
      } else {
        log.append(step.toStdString());
        today.append(step.toStdString());
      }
    }
    QCOMPARE(log.line_count(), today.line_count());
    for (std::size_t line = 0; line < today.line_count(); ++line) {
      QCOMPARE(log.line(line), std::string(today.line(line)));
    }
    QCOMPARE(log.line(today.line_count()), std::string());
    QCOMPARE(log.plain_text(), today.plain_text());
    log.clear();
    QCOMPARE(log.line_count(), std::size_t{0});
    QCOMPARE(log.plain_text(), std::string());
  }
};

QTEST_APPLESS_MAIN(test_probe_record)
#include "test_probe_record.moc"
