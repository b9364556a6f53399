// Two probe cycles with the real echo probe, a silent gateway and an external target that answers
// after 20 ms, while a 10 ms timer on the GUI thread measures how late that thread handles events.
// Prints the longest stall, the spacing of each channel's probes and the process's CPU use.
// Sends echo requests: run it only through scripts/bench-stall (private namespace, loopback only).
#include "app/probe_cycle.h"
#include "echo_responder.h"

#include <QCoreApplication>
#include <QTimer>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <numeric>
#include <string>
#include <vector>

using namespace quorvel;
using steady = std::chrono::steady_clock;

namespace {

constexpr const char* silent_target = "127.0.0.2";
constexpr const char* answering_target = "127.0.0.3";
constexpr int answer_delay_ms = 20;
constexpr int stall_timer_ms = 10;

double ms_between(steady::time_point from, steady::time_point to) {
  return std::chrono::duration<double, std::milli>(to - from).count();
}

// The responder lives in a child process, so that its work is not counted as this process's.
// Returns the write end of a pipe whose closing (at our exit) ends the child, or -1.
int start_responder() {
  int ready[2];
  int hold[2];
  if (pipe(ready) != 0 || pipe(hold) != 0) return -1;
  if (fork() == 0) {
    close(ready[0]);
    close(hold[1]);
    testing::echo_responder responder;
    responder.set_script(silent_target, {testing::echo_action::drop});
    responder.set_script(answering_target, {testing::echo_action::reply, answer_delay_ms});
    if (!responder.running()) std::fprintf(stderr, "%s\n", responder.failure().c_str());
    const char ok = responder.running() ? 1 : 0;
    [[maybe_unused]] const auto written = write(ready[1], &ok, 1);
    char byte;
    while (read(hold[0], &byte, 1) > 0) {
    }
    _exit(0);
  }
  close(ready[1]);
  close(hold[0]);
  char ok = 0;
  const bool answered = read(ready[0], &ok, 1) == 1 && ok == 1;
  close(ready[0]);
  return answered ? hold[1] : -1;
}

// Keeps what a window would keep: the log lines; ticks record high-ping and timeout episodes.
class bench_view : public channel_view {
public:
  void show_class_count(int, std::int32_t) override {}
  void show_float_result(std::int32_t, int) override {}
  tracker_settings read_tracker_settings(episode_kind) override { return {true, 500, 0}; }
  void enable_records_button(episode_kind) override {}
  void show_summary(const std::string&) override {}
  void show_caption(const std::string&) override {}
  void append_log(const std::string& text) override { log.push_back(text); }
  void close_float() override {}

  std::vector<std::string> log;
};

// When each probe of a channel started; written by the probe threads.
class probe_starts {
public:
  probe_function wrap(probe_function inner) {
    return [this, inner](const std::string& host, int timeout_ms, const probe_cancel& cancel) {
      {
        std::lock_guard lock(mutex_);
        at_.push_back(steady::now());
      }
      return inner(host, timeout_ms, cancel);
    };
  }

  void print(const char* name, double target_ms, double tolerance_ms) const {
    std::lock_guard lock(mutex_);
    std::vector<double> spacing;
    for (std::size_t i = 1; i < at_.size(); ++i) spacing.push_back(ms_between(at_[i - 1], at_[i]));
    if (spacing.empty()) {
      std::printf("%-9s probes: %zu, too few for a spacing\n", name, at_.size());
      return;
    }
    const double mean = std::accumulate(spacing.begin(), spacing.end(), 0.0) / spacing.size();
    const auto [low, high] = std::minmax_element(spacing.begin(), spacing.end());
    const auto near = std::count_if(spacing.begin(), spacing.end(), [&](double ms) {
      return std::abs(ms - target_ms) <= tolerance_ms;
    });
    std::printf("%-9s probes: %3zu  spacing mean %8.2f ms  min %8.2f  max %8.2f  "
                "(target %.0f +- %.0f: %td of %zu within)\n",
                name, at_.size(), mean, *low, *high, target_ms, tolerance_ms, near, spacing.size());
  }

private:
  mutable std::mutex mutex_;
  std::vector<steady::time_point> at_;
};

// The lateness of a 10 ms precise timer: how long the GUI thread left an event waiting.
class stall_meter {
public:
  stall_meter() {
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] { note(); });
  }
  void start() {
    last_ = steady::now();
    timer_.start(stall_timer_ms);
  }
  void stop() { timer_.stop(); }
  double longest_ms() const { return longest_ms_; }
  long fired() const { return fired_; }

private:
  void note() {
    const steady::time_point now = steady::now();
    longest_ms_ = std::max(longest_ms_, ms_between(last_, now) - stall_timer_ms);
    last_ = now;
    ++fired_;
  }

  QTimer timer_;
  steady::time_point last_;
  double longest_ms_ = 0.0;
  long fired_ = 0;
};

double cpu_seconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
  const char* in_namespace = std::getenv("QUORVEL_IN_TEST_NETNS");
  if (!in_namespace || std::string(in_namespace) != "1") {
    std::fprintf(stderr, "gui_stall_bench sends echo requests: run it through scripts/bench-stall\n");
    return 2;
  }
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  if (start_responder() < 0) {
    std::fprintf(stderr, "gui_stall_bench: the echo responder could not start\n");
    return 1;
  }
  QCoreApplication app(argc, argv);
  if (const echo_availability echo = check_echo_available(); !echo.available) {
    std::fprintf(stderr, "gui_stall_bench: %s\n", echo.reason.c_str());
    return 1;
  }

  bool test_running = true;
  probe_channel gateway;
  probe_channel external;
  gateway.target_host = silent_target;
  external.target_host = answering_target;
  bench_view gateway_view;
  bench_view external_view;
  probe_starts gateway_starts;
  probe_starts external_starts;
  probe_cycle gateway_cycle(gateway, gateway_view, "网关测试结果   平均速度：", test_running,
                            gateway_starts.wrap(echo_prober()));
  probe_cycle external_cycle(external, external_view, "外网测试结果   平均速度：", test_running,
                             external_starts.wrap(echo_prober()));
  int wound_down = 0;
  for (probe_cycle* cycle : {&gateway_cycle, &external_cycle}) {
    QObject::connect(cycle, &probe_cycle::wound_down, [&] {
      if (++wound_down == 2) app.quit();
    });
  }
  stall_meter stalls;
  QTimer::singleShot(seconds * 1000, [&] { test_running = false; });

  const double cpu_before = cpu_seconds();
  const steady::time_point began = steady::now();
  stalls.start();
  gateway_cycle.arm();
  external_cycle.arm();
  app.exec();
  stalls.stop();
  const double wall = ms_between(began, steady::now()) / 1000.0;
  const double cpu = cpu_seconds() - cpu_before;

  std::printf("run: %d s asked, %.2f s until both channels wound down\n", seconds, wall);
  std::printf("longest GUI stall: %.2f ms over %ld timer events of %d ms (target < 30)\n",
              stalls.longest_ms(), stalls.fired(), stall_timer_ms);
  external_starts.print("external", 1020, 5);
  gateway_starts.print("gateway", 6000, 50);
  std::printf("log lines: external %zu, gateway %zu; external mean round trip %.2f ms\n",
              external_view.log.size(), gateway_view.log.size(), external.stats.mean_rtt_ms);
  std::printf("CPU: %.3f s in %.2f s = %.3f %% of one core\n", cpu, wall, 100.0 * cpu / wall);
  return 0;
}
