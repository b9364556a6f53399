// Episodes timed and runs stopped in a real run: the window, the echo probe and the project's
// responder on loopback, inside a private namespace.
#include "app/main_window.h"
#include "echo_responder.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <arpa/inet.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

using namespace quorvel;
using quorvel::testing::echo_action;
using quorvel::testing::echo_responder;
using quorvel::testing::echo_script;
using steady = std::chrono::steady_clock;

Q_DECLARE_METATYPE(echo_action)

namespace {

constexpr const char* gateway = "127.0.0.5";
constexpr const char* external_address = "127.0.0.6";
constexpr int first_bad_probe = 3;
constexpr int fast_ms = 20;
constexpr const char* stop_line = "停止网络测试。";

struct timed_probe {
  steady::time_point sent, returned;
  std::int32_t result = -1;
};

// The gateway's probes as the channel made them; shared with the probe threads.
struct gateway_log {
  std::mutex mutex;
  std::vector<timed_probe> probes;
};

std::int64_t ms_between(steady::time_point from, steady::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

// The responder, the external host's name and a settings file for one window.
class run_setup {
public:
  bool prepare(const QByteArray& settings) {
    const char* hosts = std::getenv("QUORVEL_TEST_HOSTS");
    if (!hosts || !responder->running()) return false;
    QFile hosts_file(QString::fromLocal8Bit(hosts));
    if (!hosts_file.open(QIODevice::Append)) return false;
    hosts_file.write("127.0.0.6\tbaidu.com\n");  // the first host of the external list
    QFile ini_file(ini());
    if (!ini_file.open(QIODevice::WriteOnly)) return false;
    ini_file.write("[pingtest]\ngway_ip=127.0.0.5\n" + settings);
    return true;
  }

  QString ini() const { return dir.filePath(QStringLiteral("ini.ini")); }

  std::size_t requests_to(const char* address) const {
    in_addr wanted{};
    inet_pton(AF_INET, address, &wanted);
    std::size_t count = 0;
    for (const auto& request : responder->requests()) count += request.destination == wanted.s_addr;
    return count;
  }

  // Sent and not yet answered: the probe is in flight.
  bool awaits_answer(const char* address) const {
    in_addr wanted{};
    inet_pton(AF_INET, address, &wanted);
    const auto seen = responder->requests();
    for (auto request = seen.rbegin(); request != seen.rend(); ++request)
      if (request->destination == wanted.s_addr) return request->hold_ns < 0;
    return false;
  }

  const std::shared_ptr<echo_responder> responder = std::make_shared<echo_responder>();

private:
  QTemporaryDir dir;
};

QStringList log_lines(const main_window& window, const char* name) {
  return window.findChild<QWidget*>(QString::fromUtf8(name))->property("plainText").toString().split(u'\n');
}

std::size_t probe_lines(const main_window& window, const char* name) {
  static const QRegularExpression stamped(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "));
  std::size_t count = 0;
  for (const QString& line : log_lines(window, name)) count += stamped.match(line).hasMatch();
  return count;
}

bool timer_waits(const main_window& window, const char* name) {
  return window.findChild<QTimer*>(QString::fromUtf8(name))->isActive();
}

}  // namespace

class test_episode_timing : public QObject {
  Q_OBJECT

private slots:
  void duration_matches_the_probe_times_data();
  void duration_matches_the_probe_times();
  void stop_leaves_one_fresh_probe_per_channel_data();
  void stop_leaves_one_fresh_probe_per_channel();
};

// The gateway answers in 20 ms except for a stretch of bad probes; the external host never
// answers, and must not stretch the gateway's episode.
void test_episode_timing::duration_matches_the_probe_times_data() {
  QTest::addColumn<QByteArray>("settings");
  QTest::addColumn<bool>("high_ping");
  QTest::addColumn<echo_action>("bad_action");
  QTest::addColumn<int>("bad_ms");
  QTest::addColumn<int>("bad_probes");
  QTest::newRow("high ping: six answers in 400 ms, threshold 300")
      << QByteArray("gway_pi_start=1\ngway_pi_time=300\n") << true << echo_action::reply << 400 << 6;
  // Each -1 comes 150 ms after its request: the episode lasts as long as they took.
  QTest::newRow("timeout: three unreachable reports")
      << QByteArray("gway_ou_start=1\n") << false << echo_action::unreachable << 150 << 3;
  QTest::newRow("timeout: one probe that waits out its timeout")
      << QByteArray("gway_ou_start=1\n") << false << echo_action::drop << 5000 << 1;
}

void test_episode_timing::duration_matches_the_probe_times() {
  QFETCH(QByteArray, settings);
  QFETCH(bool, high_ping);
  QFETCH(echo_action, bad_action);
  QFETCH(int, bad_ms);
  QFETCH(int, bad_probes);
  run_setup setup;
  if (!std::getenv("QUORVEL_TEST_HOSTS")) QSKIP("needs the private namespace's hosts file");
  QVERIFY2(setup.prepare(settings), setup.responder->failure().c_str());
  setup.responder->set_script(external_address, echo_script{echo_action::drop, 0, 0});

  auto log = std::make_shared<gateway_log>();
  const probe_function echo = echo_prober();
  probe_function prober = [echo, responder = setup.responder, log, bad_action, bad_ms, bad_probes](
                              const std::string& host, int timeout_ms, const probe_cancel& cancel) {
    if (host != gateway) return echo(host, timeout_ms, cancel);
    std::size_t number;
    {
      std::lock_guard lock(log->mutex);
      number = log->probes.size() + 1;
      log->probes.emplace_back();
    }
    const bool bad = number >= first_bad_probe && number < std::size_t(first_bad_probe + bad_probes);
    responder->set_script(gateway, bad ? echo_script{bad_action, bad_ms, 0}
                                       : echo_script{echo_action::reply, fast_ms, 0});
    timed_probe probe;
    probe.sent = steady::now();
    probe.result = echo(host, timeout_ms, cancel);
    probe.returned = steady::now();
    std::lock_guard lock(log->mutex);
    log->probes[number - 1] = probe;
    return probe.result;
  };

  main_window window(main_window_setup{setup.ini().toStdString(), prober, check_echo_available});
  window.show();
  QTest::mouseClick(window.findChild<QWidget*>(QStringLiteral("btn_start")), Qt::LeftButton);
  QVERIFY(window.test_running());
  const std::vector<episode_record>& records =
      high_ping ? window.channel(0).high_ping_records : window.channel(0).timeout_records;
  QTRY_VERIFY_WITH_TIMEOUT(!records.empty(), 20000);

  std::vector<timed_probe> probes;
  {
    std::lock_guard lock(log->mutex);
    probes = log->probes;
  }
  const std::size_t first = first_bad_probe - 1;
  const std::size_t ending = first + bad_probes;  // the first fast probe after the stretch
  QVERIFY(probes.size() > ending);
  for (std::size_t i = first; i < ending; ++i)
    QVERIFY(high_ping ? probes[i].result >= bad_ms - 5 : probes[i].result == -1);
  QVERIFY(probes[ending].result >= 0 && probes[ending].result < 300);

  // The formula with the actual clock readings: elapsed - 1000 x good count - good sum + first,
  // where first is the opening round trip, or for no answer what the opening probe took (at most
  // its timeout).
  const std::int64_t first_ms =
      high_ping ? probes[first].result
                : std::min<std::int64_t>(5000, ms_between(probes[first].sent, probes[first].returned));
  const std::int64_t formula = ms_between(probes[first].returned, probes[ending].returned) -
                               1000 - probes[ending].result + first_ms;
  // What it stands for: from the first bad probe's request to the last bad result.
  const std::int64_t stretch = ms_between(probes[first].sent, probes[ending - 1].returned);
  const std::int32_t recorded = records.front().duration_ms;
  qInfo("recorded %d ms, formula %lld ms, stretch %lld ms", recorded,
        static_cast<long long>(formula), static_cast<long long>(stretch));
  QVERIFY(std::abs(recorded - formula) <= 50);
  QVERIFY(std::abs(recorded - stretch) <= 50);
  // The silent external target (5 s a probe) does not delay the gateway's ticks.
  const int ideal = bad_probes * (1000 + bad_ms) - 1000;
  QVERIFY2(recorded < ideal + 150, qPrintable(QString::number(recorded)));
  QCOMPARE(records.size(), std::size_t{1});
}

void test_episode_timing::stop_leaves_one_fresh_probe_per_channel_data() {
  QTest::addColumn<int>("answer_ms");
  QTest::addColumn<bool>("click_in_flight");
  QTest::newRow("click while both probes are in flight") << 400 << true;
  QTest::newRow("click while both timers wait") << fast_ms << false;
}

// Each channel sends exactly one request after the stop click, logs it, then the stop line; the
// click's wait lasts until both have.
void test_episode_timing::stop_leaves_one_fresh_probe_per_channel() {
  QFETCH(int, answer_ms);
  QFETCH(bool, click_in_flight);
  run_setup setup;
  if (!std::getenv("QUORVEL_TEST_HOSTS")) QSKIP("needs the private namespace's hosts file");
  QVERIFY2(setup.prepare(QByteArray()), setup.responder->failure().c_str());
  for (const char* address : {gateway, external_address})
    setup.responder->set_script(address, echo_script{echo_action::reply, answer_ms, 0});

  main_window window(main_window_setup{setup.ini().toStdString(), echo_prober(), check_echo_available});
  window.show();
  QTest::mouseClick(window.findChild<QWidget*>(QStringLiteral("btn_start")), Qt::LeftButton);
  QTRY_VERIFY_WITH_TIMEOUT(setup.requests_to(gateway) >= 2 && setup.requests_to(external_address) >= 2, 8000);
  if (click_in_flight) {
    QTRY_VERIFY_WITH_TIMEOUT(setup.awaits_answer(gateway) && setup.awaits_answer(external_address), 8000);
  } else {
    QTRY_VERIFY_WITH_TIMEOUT(timer_waits(window, "时钟_wg") && timer_waits(window, "时钟_ww"), 8000);
  }
  const std::size_t gateway_before = setup.requests_to(gateway);
  const std::size_t external_before = setup.requests_to(external_address);
  QTest::mouseClick(window.findChild<QWidget*>(QStringLiteral("btn_stop")), Qt::LeftButton);

  for (const char* log : {"edit_wg_log", "edit_ww_log"})
    QVERIFY2(log_lines(window, log).back() == QString::fromUtf8(stop_line), log);
  QTest::qWait(1500);  // nothing follows the stop line
  QCOMPARE(setup.requests_to(gateway), gateway_before + 1);
  QCOMPARE(setup.requests_to(external_address), external_before + 1);
  // Every request made its log line, the fresh one included.
  QCOMPARE(probe_lines(window, "edit_wg_log"), setup.requests_to(gateway));
  QCOMPARE(probe_lines(window, "edit_ww_log"), setup.requests_to(external_address));
  for (const char* log : {"edit_wg_log", "edit_ww_log"})
    QVERIFY(log_lines(window, log).back() == QString::fromUtf8(stop_line));
}

QTEST_MAIN(test_episode_timing)
#include "test_episode_timing.moc"
