// The probe cycle of one channel with a recording view and a scripted prober: no network at all.
#include "app/probe_cycle.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using namespace quorvel;
using steady = std::chrono::steady_clock;

namespace {

const char* const gateway_prefix = "网关测试结果   平均速度：";
const char* const stop_line = "\r\n停止网络测试。";

const char* kind_name(episode_kind kind) {
  return kind == episode_kind::high_ping ? "high_ping" : "timeout";
}

// Every call the tick makes on the window, as one text each, in order.
class recording_view : public channel_view {
public:
  std::vector<std::string> calls;
  tracker_settings settings[2];  // high ping, timeout; switched off unless a test ticks them

  void show_class_count(int latency_class, std::int32_t count) override {
    note("class " + std::to_string(latency_class) + " " + std::to_string(count));
  }
  void show_float_result(std::int32_t result, int latency_level) override {
    note("float " + std::to_string(result) + " " + std::to_string(latency_level));
  }
  tracker_settings read_tracker_settings(episode_kind kind) override {
    note(std::string("settings ") + kind_name(kind));
    return settings[kind == episode_kind::high_ping ? 0 : 1];
  }
  void enable_records_button(episode_kind kind) override {
    note(std::string("enable ") + kind_name(kind));
  }
  void show_summary(const std::string& text) override { note("summary " + text); }
  void show_caption(const std::string& text) override { note("caption " + text); }
  void append_log(const std::string& text) override { note("log " + text); }
  void close_float() override { note("close"); }

  std::vector<std::string> logs() const {
    std::vector<std::string> lines;
    for (const auto& call : calls) {
      if (call.starts_with("log ")) lines.push_back(call.substr(4));
    }
    return lines;
  }

private:
  void note(std::string call) { calls.push_back(std::move(call)); }
};

struct scripted_probe {
  std::int32_t result = 0;
  int delay_ms = 0;
  bool honours_cancel = true;
};

// Results and delays handed out in order (the last one repeats). Shared with the probe threads,
// which may outlive a test's cycle.
class probe_script {
public:
  explicit probe_script(std::vector<scripted_probe> steps) : steps_(std::move(steps)) {}

  static probe_function prober(const std::shared_ptr<probe_script>& script) {
    return [script](const std::string& host, int timeout_ms, const probe_cancel& cancel) {
      return script->run(host, timeout_ms, cancel);
    };
  }

  template <class F>
  auto locked(F read) const {
    std::lock_guard lock(mutex_);
    return read();
  }

  int calls() const { return locked([&] { return int(starts_.size()); }); }
  int returns() const { return locked([&] { return returns_; }); }
  bool saw_cancel() const { return locked([&] { return saw_cancel_; }); }
  std::vector<steady::time_point> starts() const { return locked([&] { return starts_; }); }
  std::string host() const { return locked([&] { return host_; }); }
  int timeout_ms() const { return locked([&] { return timeout_ms_; }); }

private:
  std::int32_t run(const std::string& host, int timeout_ms, const probe_cancel& cancel) {
    const scripted_probe step = begin(host, timeout_ms);
    if (step.honours_cancel) {
      pollfd wake{cancel.wake_fd(), POLLIN, 0};
      ::poll(&wake, 1, step.delay_ms);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(step.delay_ms));
    }
    std::lock_guard lock(mutex_);
    saw_cancel_ = saw_cancel_ || cancel.cancelled();
    ++returns_;
    return cancel.cancelled() ? -1 : step.result;
  }

  scripted_probe begin(const std::string& host, int timeout_ms) {
    std::lock_guard lock(mutex_);
    const std::size_t index = std::min(starts_.size(), steps_.size() - 1);
    starts_.push_back(steady::now());
    host_ = host;
    timeout_ms_ = timeout_ms;
    return steps_[index];
  }

  mutable std::mutex mutex_;
  const std::vector<scripted_probe> steps_;
  std::vector<steady::time_point> starts_;
  std::string host_;
  int timeout_ms_ = 0;
  int returns_ = 0;
  bool saw_cancel_ = false;
};

// Uptime readings handed out in order; fixed time stamps.
class scripted_clock : public episode_clock {
public:
  explicit scripted_clock(std::vector<std::int64_t> uptimes) : uptimes_(std::move(uptimes)) {}
  std::string time_stamp_now() override {
    return "2026-12-11 09:00:0" + std::to_string(stamps_++);
  }
  std::int64_t uptime_now() override { return uptimes_.at(readings_++); }

private:
  std::vector<std::int64_t> uptimes_;
  std::size_t readings_ = 0;
  int stamps_ = 0;
};

// One channel with its view, script and cycle.
struct channel_fixture {
  explicit channel_fixture(std::vector<scripted_probe> steps, std::string host = "127.0.0.9")
      : script(std::make_shared<probe_script>(std::move(steps))) {
    channel.target_host = std::move(host);
    cycle = std::make_unique<probe_cycle>(channel, view, gateway_prefix, test_running,
                                          probe_script::prober(script));
  }

  // Shortens the 1000 ms re-arm, so that tests of what a tick does need not wait out seconds.
  void fast_forward() {
    QObject::connect(cycle.get(), &probe_cycle::tick_finished, cycle.get(), [this] {
      if (cycle->timer().isActive()) cycle->timer().start(1);
    });
  }

  void start() {
    test_running = true;
    cycle->arm();
  }

  // The stop button, pressed as soon as `ticks` ticks have ended (0: right after the start).
  void stop_after(int ticks) {
    if (ticks == 0) test_running = false;
    QObject::connect(cycle.get(), &probe_cycle::tick_finished, cycle.get(),
                     [this, ticks, ended = 0]() mutable {
                       if (++ended == ticks) test_running = false;
                     });
  }

  int count_calls(const std::string& call) const {
    return int(std::count(view.calls.begin(), view.calls.end(), call));
  }

  double ms_since(steady::time_point from, steady::time_point to) const {
    return std::chrono::duration<double, std::milli>(to - from).count();
  }

  bool test_running = false;
  probe_channel channel;
  recording_view view;
  std::shared_ptr<probe_script> script;
  std::unique_ptr<probe_cycle> cycle;
};

std::vector<scripted_probe> results(std::initializer_list<std::int32_t> values) {
  std::vector<scripted_probe> steps;
  for (const std::int32_t value : values) steps.push_back({value, 0, true});
  return steps;
}

}  // namespace

class test_probe_cycle : public QObject {
  Q_OBJECT

private slots:
  void tick_calls_the_view_in_order_data();
  void tick_calls_the_view_in_order();
  void first_tick_and_rearm_follow_the_tick_end();
  void stop_gives_one_more_tick_then_the_stop_line_data();
  void stop_gives_one_more_tick_then_the_stop_line();
  void new_run_during_the_final_probe_keeps_the_channel_going();
  void first_tick_of_a_run_zeroes_the_statistics_data();
  void first_tick_of_a_run_zeroes_the_statistics();
  void silent_channel_does_not_hold_up_the_other();
  void destroying_during_a_probe_abandons_it_data();
  void destroying_during_a_probe_abandons_it();
  void episodes_are_recorded_through_the_ticks();
};

void test_probe_cycle::tick_calls_the_view_in_order_data() {
  QTest::addColumn<int>("result");
  QTest::addColumn<QStringList>("expected");
  QTest::addColumn<QString>("log_tail");
  QTest::newRow("answer") << 20
      << QStringList{"class 0 1", "float 20 1", "settings high_ping", "settings timeout",
                     "summary 次数: 1, 丢包: 0.00%, 快: 100.00%\r\n中: 0.00%, 缓: 0.00%, 慢: 0.00%",
                     QString("caption ") + gateway_prefix + "20ms"}
      << "    响应时间：20ms";
  QTest::newRow("no answer is a full tick") << -1
      << QStringList{"class 7 1", "float -1 0", "settings high_ping", "settings timeout",
                     "summary 次数: 1, 丢包: 100.00%, 快: 0.00%\r\n中: 0.00%, 缓: 0.00%, 慢: 0.00%",
                     QString("caption ") + gateway_prefix + "0ms"}
      << "    超时或出现故障";
}

void test_probe_cycle::tick_calls_the_view_in_order() {
  QFETCH(int, result);
  QFETCH(QStringList, expected);
  QFETCH(QString, log_tail);
  channel_fixture fixture(results({result}), "gw.test");
  QSignalSpy ticks(fixture.cycle.get(), &probe_cycle::tick_finished);
  QCOMPARE(fixture.cycle->timer().timerType(), Qt::PreciseTimer);
  QVERIFY(fixture.cycle->stopped());
  fixture.start();
  QVERIFY(!fixture.cycle->stopped());
  QVERIFY(ticks.wait(3000));

  const auto& calls = fixture.view.calls;
  QCOMPARE(int(calls.size()), expected.size() + 1);
  for (int i = 0; i < expected.size(); ++i) QCOMPARE(QString::fromStdString(calls[i]), expected[i]);
  const QString log = QString::fromStdString(calls.back());
  QVERIFY2(QRegularExpression("^log \r\n\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d")
               .match(log).hasMatch(), qPrintable(log));
  QVERIFY2(log.endsWith(log_tail), qPrintable(log));
  QCOMPARE(fixture.script->host(), std::string("gw.test"));
  QCOMPARE(fixture.script->timeout_ms(), 5000);
  QVERIFY(!fixture.cycle->busy());
  QVERIFY(fixture.cycle->timer().isActive());  // re-armed: the run goes on
}

void test_probe_cycle::first_tick_and_rearm_follow_the_tick_end() {
  // Each probe lasts 300 ms: the next one follows 1000 ms after the tick ends.
  channel_fixture fixture({{20, 300, true}});
  const steady::time_point armed = steady::now();
  fixture.start();
  QTRY_VERIFY_WITH_TIMEOUT(fixture.script->calls() >= 3, 6000);
  const auto starts = fixture.script->starts();
  const double first = fixture.ms_since(armed, starts[0]);
  QVERIFY2(first >= 995 && first < 1100, qPrintable(QString::number(first)));
  for (int i = 1; i < 3; ++i) {
    const double spacing = fixture.ms_since(starts[i - 1], starts[i]);
    QVERIFY2(spacing >= 1295 && spacing < 1420, qPrintable(QString::number(spacing)));
  }
}

void test_probe_cycle::stop_gives_one_more_tick_then_the_stop_line_data() {
  QTest::addColumn<int>("ticks_before_stop");
  QTest::addColumn<bool>("during_probe");
  QTest::newRow("stop before the first tick") << 0 << false;
  QTest::newRow("stop between ticks") << 2 << false;
  // The probe under way was sent before the click: a fresh one still follows it.
  QTest::newRow("stop during the first probe") << 0 << true;
  QTest::newRow("stop during the third probe") << 2 << true;
}

void test_probe_cycle::stop_gives_one_more_tick_then_the_stop_line() {
  QFETCH(int, ticks_before_stop);
  QFETCH(bool, during_probe);
  channel_fixture fixture({{20, during_probe ? 300 : 0, true}});
  fixture.fast_forward();
  QSignalSpy wound_down(fixture.cycle.get(), &probe_cycle::wound_down);
  QSignalSpy ticks(fixture.cycle.get(), &probe_cycle::tick_finished);
  bool stopped_at_wind_down = false;  // what the stop button's wait sees
  QObject::connect(fixture.cycle.get(), &probe_cycle::wound_down, fixture.cycle.get(),
                   [&] { stopped_at_wind_down = fixture.cycle->stopped(); });
  fixture.start();
  if (during_probe) {
    QTRY_VERIFY_WITH_TIMEOUT(fixture.script->calls() == ticks_before_stop + 1, 5000);
    QVERIFY(fixture.cycle->busy() && fixture.script->returns() == ticks_before_stop);
    fixture.test_running = false;
  } else {
    fixture.stop_after(ticks_before_stop);
  }
  QVERIFY(!fixture.cycle->stopped());  // its final tick is still to come
  QVERIFY(wound_down.wait(3000));
  QVERIFY(stopped_at_wind_down);

  QTest::qWait(200);  // nothing follows the wind-down
  const int ticks_after_stop = during_probe ? 2 : 1;  // the one under way, then the fresh one
  QCOMPARE(wound_down.count(), 1);
  QCOMPARE(ticks.count(), ticks_before_stop + ticks_after_stop);
  QCOMPARE(fixture.script->calls(), ticks_before_stop + ticks_after_stop);
  const auto logs = fixture.view.logs();
  QCOMPARE(int(logs.size()), ticks_before_stop + ticks_after_stop + 1);
  QVERIFY(logs[logs.size() - 2].ends_with("响应时间：20ms"));
  QCOMPARE(logs.back(), std::string(stop_line));
  const auto& calls = fixture.view.calls;
  QCOMPARE(calls[calls.size() - 2], std::string("close"));
  QCOMPARE(fixture.count_calls("close"), 1);
  QVERIFY(fixture.cycle->stopped());
}

void test_probe_cycle::new_run_during_the_final_probe_keeps_the_channel_going() {
  channel_fixture fixture({{20, 300, true}});
  fixture.fast_forward();
  QSignalSpy wound_down(fixture.cycle.get(), &probe_cycle::wound_down);
  fixture.start();
  fixture.stop_after(1);
  QTRY_VERIFY_WITH_TIMEOUT(fixture.script->calls() == 2, 5000);  // the final probe, under way
  QVERIFY(fixture.cycle->busy());
  fixture.start();  // a new run begins; its start cannot arm the timer during a tick
  QTRY_VERIFY_WITH_TIMEOUT(fixture.script->calls() >= 4, 5000);
  QCOMPARE(wound_down.count(), 0);
  for (const auto& line : fixture.view.logs()) QVERIFY(line != stop_line);
}

void test_probe_cycle::first_tick_of_a_run_zeroes_the_statistics_data() {
  QTest::addColumn<bool>("reset_pending");
  QTest::addColumn<int>("count_after");
  QTest::newRow("start of a run") << true << 1;
  QTest::newRow("run goes on") << false << 5;
}

void test_probe_cycle::first_tick_of_a_run_zeroes_the_statistics() {
  QFETCH(bool, reset_pending);
  QFETCH(int, count_after);
  channel_fixture fixture(results({40}));
  fixture.channel.stats.probe_count = 4;
  fixture.channel.stats.mean_rtt_ms = 10.0;
  fixture.channel.stats.class_counts[0] = 4;
  fixture.channel.stats_reset_pending = reset_pending;
  QSignalSpy ticks(fixture.cycle.get(), &probe_cycle::tick_finished);
  fixture.start();
  QVERIFY(ticks.wait(3000));

  QVERIFY(!fixture.channel.stats_reset_pending);
  QCOMPARE(fixture.channel.stats.probe_count, count_after);
  const auto& calls = fixture.view.calls;
  QCOMPARE(calls[0], "class 0 " + std::to_string(count_after));
  const std::string mean = reset_pending ? "40ms" : "16ms";  // (10 * 4 + 40) / 5
  QCOMPARE(calls[5], std::string("caption ") + gateway_prefix + mean);
}

void test_probe_cycle::silent_channel_does_not_hold_up_the_other() {
  channel_fixture silent({{20, 5000, true}});
  channel_fixture lively(results({30}));
  silent.start();
  lively.start();
  QTRY_VERIFY_WITH_TIMEOUT(lively.script->calls() >= 4, 5000);

  const auto starts = lively.script->starts();
  for (int i = 1; i < 4; ++i) {
    const double spacing = lively.ms_since(starts[i - 1], starts[i]);
    QVERIFY2(spacing >= 995 && spacing < 1120, qPrintable(QString::number(spacing)));
  }
  QVERIFY(lively.view.logs().size() >= 3);
  QCOMPARE(silent.script->calls(), 1);
  QVERIFY(silent.cycle->busy());
  QVERIFY(silent.view.calls.empty());
}

void test_probe_cycle::destroying_during_a_probe_abandons_it_data() {
  QTest::addColumn<int>("delay_ms");
  QTest::addColumn<bool>("honours_cancel");
  QTest::addColumn<bool>("result_queued");
  QTest::addColumn<int>("longest_destruction_ms");
  QTest::newRow("probe waiting for its timeout") << 5000 << true << false << 50;
  QTest::newRow("result already queued") << 500 << false << true << 50;
  QTest::newRow("probe that ignores its cancel") << 400 << false << false << 250;
}

void test_probe_cycle::destroying_during_a_probe_abandons_it() {
  QFETCH(int, delay_ms);
  QFETCH(bool, honours_cancel);
  QFETCH(bool, result_queued);
  QFETCH(int, longest_destruction_ms);
  channel_fixture fixture({{20, delay_ms, honours_cancel}});
  fixture.start();
  QTRY_COMPARE_WITH_TIMEOUT(fixture.script->calls(), 1, 3000);
  if (result_queued) {
    // Let the result be posted to the GUI thread without handling it.
    while (fixture.script->returns() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  QVERIFY(fixture.cycle->busy());

  QElapsedTimer destruction;
  destruction.start();
  fixture.cycle.reset();
  QVERIFY2(destruction.elapsed() < longest_destruction_ms,
           qPrintable(QString::number(destruction.elapsed())));
  if (honours_cancel) QVERIFY(fixture.script->saw_cancel());

  QTest::qWait(result_queued ? 100 : 500);  // any late result would arrive now
  QCOMPARE(fixture.script->returns(), 1);
  QVERIFY(fixture.view.calls.empty());
}

void test_probe_cycle::episodes_are_recorded_through_the_ticks() {
  // A high-ping stretch of six probes ended by a good answer, then two timeouts ended likewise;
  // the first of these gives up after 120 ms.
  auto steps = results({20, 600, 700, 650, 800, 900, 610, 30, -1, -1, 20});
  steps[8].delay_ms = 120;
  channel_fixture fixture(steps);
  scripted_clock clock({100'000'000, 184'000'000, 200'000'000, 223'500'000});
  fixture.cycle->set_episode_clock(clock);
  fixture.view.settings[0] = {true, 500, 0};
  fixture.view.settings[1] = {true, 500, 0};
  fixture.fast_forward();
  QSignalSpy wound_down(fixture.cycle.get(), &probe_cycle::wound_down);
  fixture.start();
  fixture.stop_after(10);  // the eleventh tick is the last
  QVERIFY(wound_down.wait(5000));

  const auto& high = fixture.channel.high_ping_records;
  QCOMPARE(int(high.size()), 1);
  QCOMPARE(high[0].start_text, std::string("2026-12-11 09:00:00"));
  QCOMPARE(high[0].duration_ms, 8400 - 1000 - 30 + 600);
  const auto& timeouts = fixture.channel.timeout_records;
  QCOMPARE(int(timeouts.size()), 1);
  QCOMPARE(timeouts[0].start_text, std::string("2026-12-11 09:00:01"));
  // Opened by a -1 that came after 120 ms, not after the whole timeout: the probe's own time
  // stands in for the 5000.
  const int opening_ms = timeouts[0].duration_ms - (2350 - 1000 - 20);
  QVERIFY2(opening_ms >= 120 && opening_ms < 170, qPrintable(QString::number(opening_ms)));

  // Each button is enabled as its tracker ends the episode, high ping before timeout.
  const auto& calls = fixture.view.calls;
  for (const std::string kind : {"high_ping", "timeout"}) {
    QCOMPARE(fixture.count_calls("enable " + kind), 1);
    const auto at = std::find(calls.begin(), calls.end(), "enable " + kind);
    QCOMPARE(*(at - 1), "settings " + kind);
    QVERIFY((at + 1)->starts_with(kind == "high_ping" ? "settings timeout" : "summary "));
  }
  QCOMPARE(fixture.count_calls("settings high_ping"), 11);
}

QTEST_GUILESS_MAIN(test_probe_cycle)
#include "test_probe_cycle.moc"
