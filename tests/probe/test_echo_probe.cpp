// The echo probe against the project's own responder, inside a private loopback-only namespace.
// Run once per socket kind: plain (the unprivileged datagram socket) and with --raw, which closes
// net.ipv4.ping_group_range in the namespace first so that only the raw socket is left.
#include "echo_responder.h"
#include "probe/echo_probe.h"
#include "probe/prober.h"

#include <QtTest>

#include <linux/capability.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

using namespace quorvel;
using quorvel::testing::echo_action;
using quorvel::testing::echo_responder;
using quorvel::testing::echo_script;
using std::chrono::steady_clock;

Q_DECLARE_METATYPE(echo_action)

namespace {

const char* const ping_group_range = "/proc/sys/net/ipv4/ping_group_range";
const char* const availability_child_option = "--report-availability";

std::string read_file(const char* path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void write_file(const char* path, const std::string& text) { std::ofstream(path) << text; }

void append_hosts_line(const std::string& line) {
  const char* hosts = std::getenv("QUORVEL_TEST_HOSTS");
  std::ofstream(hosts != nullptr ? hosts : "/etc/hosts", std::ios::app) << line << '\n';
}

std::string dotted(std::uint32_t network_order) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr address{network_order};
  inet_ntop(AF_INET, &address, text, sizeof text);
  return text;
}

long long elapsed_ms(steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(steady_clock::now() - since).count();
}

// Child mode: without CAP_NET_RAW (and with the datagram range closed by the parent) echo is
// impossible; report what the probe and the availability check say.
int report_availability_without_privilege() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[2] = {};
  if (syscall(SYS_capget, &header, data) != 0) return 2;
  const unsigned raw_bit = 1u << CAP_NET_RAW;
  data[0].effective &= ~raw_bit;
  data[0].permitted &= ~raw_bit;
  data[0].inheritable &= ~raw_bit;
  if (syscall(SYS_capset, &header, data) != 0) return 2;
  const echo_availability availability = check_echo_available();
  std::printf("%d %d\n%s\n", availability.available ? 1 : 0, echo_probe("127.0.0.1", 200), availability.reason.c_str());
  for (const echo_fix& fix : availability.fixes) std::printf("%s\n", fix.command.c_str());
  return 0;
}

void ignore_signal(int) {}

std::int64_t thread_cpu_ns() {
  timespec used{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return std::int64_t{used.tv_sec} * 1'000'000'000 + used.tv_nsec;
}

// A probe on a thread of its own whose timed waits may end up to `slack_ms` late, as on a busy
// machine: unless something else wakes it first, a wait lasts about as long as the slack allows.
// 0 keeps the default slack of 50 µs.
std::int32_t probe_with_timer_slack(const std::string& address, int timeout_ms, int slack_ms) {
  return std::async(std::launch::async, [&] {
           const unsigned long slack_ns = static_cast<unsigned long>(slack_ms) * 1'000'000UL;
           if (slack_ns > 0) prctl(PR_SET_TIMERSLACK, slack_ns, 0UL, 0UL, 0UL);
           return echo_probe(address, timeout_ms);
         }).get();
}

// Whether `result` is the truncated round trip of the last request to `address`: the responder's
// hold time plus the loopback transit both ways, which stays well under half a millisecond. The
// hold time is measured, not assumed, so a responder thread delayed by a busy machine is no error.
bool matches_hold_time(const echo_responder& responder, const std::string& address, std::int32_t result) {
  in_addr wanted{};
  inet_pton(AF_INET, address.c_str(), &wanted);
  const auto seen = responder.requests();
  for (auto request = seen.rbegin(); request != seen.rend(); ++request) {
    if (request->destination != wanted.s_addr) continue;
    const std::int64_t hold_ns = request->hold_ns;
    return hold_ns >= 0 && result >= hold_ns / 1'000'000 && result <= (hold_ns + 500'000) / 1'000'000;
  }
  return false;
}

#define VERIFY_ROUND_TRIP(address, result, lowest)                                                        \
  QVERIFY2((result) >= (lowest) && matches_hold_time(*responder_, (address), (result)),                   \
           qPrintable(QStringLiteral("%1 ms from %2").arg(result).arg(QString::fromStdString(address))))

}  // namespace

class test_echo_probe : public QObject {
  Q_OBJECT

public:
  explicit test_echo_probe(echo_socket_kind expected) : expected_kind_(expected) {}

private slots:
  void initTestCase();
  void answer_taken_data();
  void answer_taken();
  void no_answer_data();
  void no_answer();
  void duplicate_of_earlier_reply_not_taken();
  void numeric_forms_reach_their_address_data();
  void numeric_forms_reach_their_address();
  void names_resolved_at_every_probe();
  void unresolvable_texts_fail_without_sending_data();
  void unresolvable_texts_fail_without_sending();
  void cancel_ends_a_waiting_probe();
  void signals_do_not_shorten_or_lengthen_the_wait();
  void two_threads_get_their_own_answers();
  void availability_explains_missing_permission();

private:
  std::string probe_destination(const std::string& text, std::int32_t& result);

  echo_socket_kind expected_kind_;
  std::unique_ptr<echo_responder> responder_;
};

void test_echo_probe::initTestCase() {
  responder_ = std::make_unique<echo_responder>();
  QVERIFY2(responder_->running(), responder_->failure().c_str());
  const echo_availability availability = check_echo_available();
  QVERIFY2(availability.available, availability.reason.c_str());
  QCOMPARE(availability.kind, expected_kind_);
  QVERIFY(availability.reason.empty());
}

void test_echo_probe::answer_taken_data() {
  QTest::addColumn<QString>("address");
  QTest::addColumn<echo_action>("action");
  QTest::addColumn<int>("delay_ms");
  QTest::addColumn<int>("later_ms");
  QTest::addColumn<int>("lowest");
  QTest::newRow("under 1 ms is 0") << "127.0.1.1" << echo_action::reply << 0 << 0 << 0;
  QTest::newRow("150 ms") << "127.0.1.2" << echo_action::reply << 150 << 0 << 150;
  QTest::newRow("wrong identifier skipped") << "127.0.1.3" << echo_action::wrong_identifier_first << 0 << 200 << 200;
  QTest::newRow("wrong sequence skipped") << "127.0.1.4" << echo_action::wrong_sequence_first << 0 << 200 << 200;
  QTest::newRow("wrong source skipped") << "127.0.1.6" << echo_action::wrong_source_first << 0 << 200 << 200;
  QTest::newRow("truncated skipped") << "127.0.1.8" << echo_action::truncated_first << 0 << 200 << 200;
  // Messages that do not end the request's journey, and a report that is not intact.
  QTest::newRow("redirect skipped") << "127.0.1.10" << echo_action::redirect_first << 0 << 200 << 200;
  QTest::newRow("source quench skipped") << "127.0.1.11" << echo_action::source_quench_first << 0 << 200 << 200;
  QTest::newRow("corrupt unreachable skipped")
      << "127.0.1.12" << echo_action::corrupt_unreachable_first << 0 << 300 << 300;
}

void test_echo_probe::answer_taken() {
  QFETCH(QString, address);
  QFETCH(echo_action, action);
  QFETCH(int, delay_ms);
  QFETCH(int, later_ms);
  QFETCH(int, lowest);
  responder_->set_script(address.toStdString(), echo_script{action, delay_ms, later_ms});
  const std::int64_t cpu_before_ns = thread_cpu_ns();
  const std::int32_t result = echo_probe(address.toStdString(), 2000);
  const std::int64_t cpu_ms = (thread_cpu_ns() - cpu_before_ns) / 1'000'000;
  VERIFY_ROUND_TRIP(address.toStdString(), result, lowest);
  // Whatever came first was read and put aside: the wait slept instead of waking again and again.
  QVERIFY2(cpu_ms < 40, qPrintable(QStringLiteral("%1 ms of processor time").arg(cpu_ms)));
}

void test_echo_probe::no_answer_data() {
  QTest::addColumn<QString>("address");
  QTest::addColumn<echo_action>("action");
  QTest::addColumn<int>("delay_ms");
  QTest::addColumn<int>("timeout_ms");
  QTest::addColumn<int>("earliest_ms");
  QTest::addColumn<int>("latest_ms");
  QTest::addColumn<int>("timer_slack_ms");
  QTest::newRow("dropped: after the 5000 ms timeout")
      << "127.0.2.1" << echo_action::drop << 0 << 5000 << 5000 << 5050 << 0;
  QTest::newRow("unreachable: at once") << "127.0.2.2" << echo_action::unreachable << 0 << 3000 << 0 << 200 << 0;
  // The wait ends late enough for the reply to be read, but it came too late to count.
  QTest::newRow("reply 3 ms after the timeout, read by a late wait")
      << "127.0.2.4" << echo_action::reply << 1003 << 1000 << 1000 << 1050 << 20;
}

void test_echo_probe::no_answer() {
  QFETCH(QString, address);
  QFETCH(echo_action, action);
  QFETCH(int, delay_ms);
  QFETCH(int, timeout_ms);
  QFETCH(int, earliest_ms);
  QFETCH(int, latest_ms);
  QFETCH(int, timer_slack_ms);
  responder_->set_script(address.toStdString(), echo_script{action, delay_ms, 0});
  const auto start = steady_clock::now();
  QCOMPARE(probe_with_timer_slack(address.toStdString(), timeout_ms, timer_slack_ms), -1);
  const auto took = elapsed_ms(start);
  QVERIFY2(took >= earliest_ms && took <= latest_ms, qPrintable(QString::number(took)));
}

void test_echo_probe::duplicate_of_earlier_reply_not_taken() {
  // The first request is answered at once and again 300 ms later; the second is never answered,
  // so the stale copy arriving while it waits must not count.
  responder_->set_script("127.0.2.3", echo_script{echo_action::duplicate, 0, 300});
  const std::int32_t first = echo_probe("127.0.2.3", 1000);
  VERIFY_ROUND_TRIP("127.0.2.3", first, 0);
  QCOMPARE(echo_probe("127.0.2.3", 700), -1);
}

std::string test_echo_probe::probe_destination(const std::string& text, std::int32_t& result) {
  const std::size_t before = responder_->request_count();
  result = echo_probe(text, 1000);
  const auto seen = responder_->requests();
  return seen.size() == before + 1 ? dotted(seen.back().destination) : std::string("(no single request)");
}

void test_echo_probe::numeric_forms_reach_their_address_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("address");
  QTest::newRow("four parts") << "127.0.4.1" << "127.0.4.1";
  QTest::newRow("three parts") << "127.4.258" << "127.4.1.2";
  QTest::newRow("two parts") << "127.262147" << "127.4.0.3";
  QTest::newRow("one part") << "2130969604" << "127.4.4.4";
  QTest::newRow("octal") << "0177.04.0.05" << "127.4.0.5";
  QTest::newRow("hexadecimal") << "0x7f.0x4.0.0X6" << "127.4.0.6";
  QTest::newRow("one hexadecimal part") << "0x7F040007" << "127.4.0.7";
}

void test_echo_probe::numeric_forms_reach_their_address() {
  QFETCH(QString, text);
  QFETCH(QString, address);
  std::int32_t result = -1;
  QCOMPARE(QString::fromStdString(probe_destination(text.toStdString(), result)), address);
  // Answered at once: the responder's hold time, which a busy machine may make a few ms.
  VERIFY_ROUND_TRIP(address.toStdString(), result, 0);
}

void test_echo_probe::names_resolved_at_every_probe() {
  std::int32_t result = -1;
  append_hosts_line("127.0.5.1\tpeer-one.test");
  QCOMPARE(probe_destination("peer-one.test", result), std::string("127.0.5.1"));
  VERIFY_ROUND_TRIP(std::string("127.0.5.1"), result, 0);
  append_hosts_line("127.0.5.2\tpeer-two.test\n127.0.5.3\tpeer-two.test");
  QCOMPARE(probe_destination("peer-two.test", result), std::string("127.0.5.2"));
  // No address is kept between probes: a changed entry is followed at once.
  std::string hosts = read_file(std::getenv("QUORVEL_TEST_HOSTS"));
  hosts.replace(hosts.find("127.0.5.1\tpeer-one"), 9, "127.0.5.4");
  write_file(std::getenv("QUORVEL_TEST_HOSTS"), hosts);
  QCOMPARE(probe_destination("peer-one.test", result), std::string("127.0.5.4"));
  VERIFY_ROUND_TRIP(std::string("127.0.5.4"), result, 0);
}

void test_echo_probe::unresolvable_texts_fail_without_sending_data() {
  QTest::addColumn<QString>("text");
  QTest::newRow("unknown name") << "no-such-peer.invalid";
  QTest::newRow("empty text") << "";
  QTest::newRow("bad octal digit") << "127.0.0.08";
  // Not numeric for the conversion (its value is the failure value), so it goes to the resolver,
  // which hands back the limited broadcast address; echo there is refused without SO_BROADCAST.
  QTest::newRow("all-ones address") << "255.255.255.255";
}

void test_echo_probe::unresolvable_texts_fail_without_sending() {
  QFETCH(QString, text);
  const std::size_t before = responder_->request_count();
  const auto start = steady_clock::now();
  QCOMPARE(echo_probe(text.toStdString(), 5000), -1);
  QVERIFY2(elapsed_ms(start) < 1000, qPrintable(QString::number(elapsed_ms(start))));
  QCOMPARE(responder_->request_count(), before);
}

void test_echo_probe::cancel_ends_a_waiting_probe() {
  responder_->set_script("127.0.6.1", echo_script{echo_action::drop, 0, 0});
  probe_cancel cancel;
  const probe_function probe = echo_prober();
  const auto start = steady_clock::now();
  auto waiting = std::async(std::launch::async, [&] { return probe("127.0.6.1", 5000, cancel); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  cancel.cancel();
  QCOMPARE(waiting.get(), -1);
  QVERIFY2(elapsed_ms(start) < 400, qPrintable(QString::number(elapsed_ms(start))));
  QVERIFY(cancel.cancelled());
  // Once cancelled, a probe neither sends nor waits.
  const std::size_t before = responder_->request_count();
  QCOMPARE(probe("127.0.1.1", 5000, cancel), -1);
  QCOMPARE(responder_->request_count(), before);
}

void test_echo_probe::signals_do_not_shorten_or_lengthen_the_wait() {
  struct sigaction action{};
  action.sa_handler = ignore_signal;  // no SA_RESTART: every signal interrupts the wait
  sigaction(SIGUSR1, &action, nullptr);
  responder_->set_script("127.0.6.2", echo_script{echo_action::drop, 0, 0});
  responder_->set_script("127.0.6.3", echo_script{echo_action::reply, 300, 0});
  std::atomic<bool> done{false};
  const pthread_t prober_thread = pthread_self();
  std::thread interrupter([&] {
    while (!done) {
      pthread_kill(prober_thread, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  const auto start = steady_clock::now();
  const std::int32_t dropped = echo_probe("127.0.6.2", 1000);
  const auto took = elapsed_ms(start);
  const std::int32_t delayed = echo_probe("127.0.6.3", 1000);
  done = true;
  interrupter.join();
  QCOMPARE(dropped, -1);
  QVERIFY2(took >= 1000 && took <= 1050, qPrintable(QString::number(took)));
  VERIFY_ROUND_TRIP(std::string("127.0.6.3"), delayed, 300);
}

void test_echo_probe::two_threads_get_their_own_answers() {
  responder_->set_script("127.0.7.1", echo_script{echo_action::reply, 300, 0});
  responder_->set_script("127.0.7.2", echo_script{echo_action::reply, 100, 0});
  auto slow = std::async(std::launch::async, [] { return echo_probe("127.0.7.1", 2000); });
  auto fast = std::async(std::launch::async, [] { return echo_probe("127.0.7.2", 2000); });
  const std::int32_t slow_result = slow.get();
  const std::int32_t fast_result = fast.get();
  VERIFY_ROUND_TRIP(std::string("127.0.7.1"), slow_result, 300);
  VERIFY_ROUND_TRIP(std::string("127.0.7.2"), fast_result, 100);
}

void test_echo_probe::availability_explains_missing_permission() {
  const std::string saved_range = read_file(ping_group_range);
  write_file(ping_group_range, "1 0");
  QProcess child;
  child.start(QStringLiteral("/proc/self/exe"), QStringList{QString::fromLatin1(availability_child_option)});
  const bool finished = child.waitForFinished(10000);
  write_file(ping_group_range, expected_kind_ == echo_socket_kind::raw ? "1 0" : saved_range);
  QVERIFY(finished);
  QCOMPARE(child.exitCode(), 0);
  const QString output = QString::fromLocal8Bit(child.readAllStandardOutput());
  QVERIFY2(output.startsWith("0 -1\n"), qPrintable(output));
  QVERIFY2(output.contains("\nsudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"), qPrintable(output));
  QVERIFY2(output.contains("\nsudo setcap cap_net_raw+p /"), qPrintable(output));
}

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], availability_child_option) == 0) return report_availability_without_privilege();
  echo_socket_kind expected = echo_socket_kind::datagram;
  if (argc >= 2 && std::strcmp(argv[1], "--raw") == 0) {
    write_file(ping_group_range, "1 0");
    expected = echo_socket_kind::raw;
    argv[1] = argv[0];
    ++argv;
    --argc;
  }
  test_echo_probe test(expected);
  return QTest::qExec(&test, argc, argv);
}

#include "test_echo_probe.moc"
