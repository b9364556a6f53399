// A high-ping episode timed in a real run: the window, the echo probe and the project's responder
// on loopback, inside a private namespace. The gateway answers in 20 ms except for six probes in
// 400 ms, above a 300 ms threshold; the external host never answers, and must not stretch the
// gateway's episode.
#include "app/main_window.h"
#include "echo_responder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

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

namespace {

constexpr const char* gateway = "127.0.0.5";
constexpr const char* external_address = "127.0.0.6";
constexpr int first_slow_probe = 3;
constexpr int slow_probes = 6;
constexpr int slow_ms = 400;
constexpr int fast_ms = 20;

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

}  // namespace

class test_episode_timing : public QObject {
  Q_OBJECT

private slots:
  void high_ping_duration_matches_the_probe_times() {
    const char* hosts = std::getenv("QUORVEL_TEST_HOSTS");
    if (!hosts) QSKIP("needs the private namespace's hosts file");
    auto responder = std::make_shared<echo_responder>();
    QVERIFY2(responder->running(), responder->failure().c_str());
    responder->set_script(gateway, echo_script{echo_action::reply, fast_ms, 0});
    responder->set_script(external_address, echo_script{echo_action::drop, 0, 0});
    {
      QFile file(QString::fromLocal8Bit(hosts));
      QVERIFY(file.open(QIODevice::Append));
      file.write("127.0.0.6\tbaidu.com\n");  // the first host of the external list
    }

    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("ini.ini"));
    {
      QFile file(ini);
      QVERIFY(file.open(QIODevice::WriteOnly));
      file.write("[pingtest]\ngway_ip=127.0.0.5\ngway_pi_start=1\ngway_pi_time=300\n");
    }

    auto log = std::make_shared<gateway_log>();
    const probe_function echo = echo_prober();
    probe_function prober = [echo, responder, log](const std::string& host, int timeout_ms,
                                                   const probe_cancel& cancel) {
      if (host != gateway) return echo(host, timeout_ms, cancel);
      std::size_t number;
      {
        std::lock_guard lock(log->mutex);
        number = log->probes.size() + 1;
        log->probes.emplace_back();
      }
      const bool slow = number >= first_slow_probe && number < first_slow_probe + slow_probes;
      responder->set_script(gateway, echo_script{echo_action::reply, slow ? slow_ms : fast_ms, 0});
      timed_probe probe;
      probe.sent = steady::now();
      probe.result = echo(host, timeout_ms, cancel);
      probe.returned = steady::now();
      std::lock_guard lock(log->mutex);
      log->probes[number - 1] = probe;
      return probe.result;
    };

    main_window window(main_window_setup{ini.toStdString(), prober, check_echo_available});
    window.show();
    QTest::mouseClick(window.findChild<QWidget*>(QStringLiteral("btn_start")), Qt::LeftButton);
    QVERIFY(window.test_running());
    const std::vector<episode_record>& records = window.channel(0).high_ping_records;
    QTRY_VERIFY_WITH_TIMEOUT(!records.empty(), 20000);

    std::vector<timed_probe> probes;
    {
      std::lock_guard lock(log->mutex);
      probes = log->probes;
    }
    const std::size_t first = first_slow_probe - 1;
    const std::size_t ending = first + slow_probes;  // the first fast probe after the stretch
    QVERIFY(probes.size() > ending);
    for (std::size_t i = first; i < ending; ++i) QVERIFY(probes[i].result >= slow_ms - 5);
    QVERIFY(probes[ending].result >= 0 && probes[ending].result < 300);

    // The formula with the actual clock readings: elapsed - 1000 x good count - good sum + first.
    const std::int64_t formula = ms_between(probes[first].returned, probes[ending].returned) -
                                 1000 - probes[ending].result + probes[first].result;
    // What it stands for: from the first slow probe's request to the last slow answer.
    const std::int64_t stretch = ms_between(probes[first].sent, probes[ending - 1].returned);
    const std::int32_t recorded = records.front().duration_ms;
    qInfo("recorded %d ms, formula %lld ms, stretch %lld ms", recorded,
          static_cast<long long>(formula), static_cast<long long>(stretch));
    QVERIFY(std::abs(recorded - formula) <= 50);
    QVERIFY(std::abs(recorded - stretch) <= 50);
    // The silent external target (5 s a probe) does not delay the gateway's ticks.
    const int ideal = slow_probes * (1000 + slow_ms) - 1000;
    QVERIFY2(recorded < ideal + 150, qPrintable(QString::number(recorded)));
    QCOMPARE(records.size(), std::size_t{1});
  }
};

QTEST_MAIN(test_episode_timing)
#include "test_episode_timing.moc"
