// Accuracy and cost of the echo probe against the project's own responder, side by side with
// iputils ping. Runs in a network namespace of its own (created here, as root) holding only
// loopback, so nothing it sends can leave the machine.
//
// True delay: the responder's hold time, from the kernel's receive stamp of the request on its
// raw socket to the moment just before it calls sendto for the reply. The loopback transit
// (a few microseconds each way) is not part of it, so a perfect probe reads true delay + transit.
#include "echo_responder.h"
#include "probe/echo_probe.h"

#include <net/if.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

using quorvel::testing::echo_action;
using quorvel::testing::echo_responder;
using quorvel::testing::echo_script;

namespace {

constexpr int probes_per_delay = 50;
constexpr int delays_ms[] = {0, 20, 150, 700};

bool write_sysctl(const char* path, const char* value) {
  std::ofstream file(path);
  file << value;
  return static_cast<bool>(file.flush());
}

bool bring_loopback_up() {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq request{};
  std::strcpy(request.ifr_name, "lo");
  bool up = ioctl(fd, SIOCGIFFLAGS, &request) == 0;
  request.ifr_flags |= IFF_UP;
  up = up && ioctl(fd, SIOCSIFFLAGS, &request) == 0;
  close(fd);
  return up;
}

// A fresh network namespace with only loopback and kernel echo replies off; datagram ICMP
// sockets allowed, or refused to measure the raw socket path.
bool enter_private_network(bool raw_only) {
  if (unshare(CLONE_NEWNET) != 0) {
    std::perror("unshare(CLONE_NEWNET) (run as root)");
    return false;
  }
  return bring_loopback_up() && write_sysctl("/proc/sys/net/ipv4/icmp_echo_ignore_all", "1") &&
         write_sysctl("/proc/sys/net/ipv4/ping_group_range", raw_only ? "1 0" : "0 2147483647");
}

double thread_cpu_us() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e6 + static_cast<double>(now.tv_nsec) / 1e3;
}

// CPU time of a bare wait of `ms` in ppoll: what waking up costs on this machine, apart from the probe.
double idle_wait_cpu_us(int ms) {
  const int never_ready = eventfd(0, EFD_CLOEXEC);
  pollfd watched{never_ready, POLLIN, 0};
  const timespec wait{ms / 1000, (ms % 1000) * 1'000'000L};
  const double before = thread_cpu_us();
  ppoll(&watched, 1, &wait, nullptr);
  const double cpu = thread_cpu_us() - before;
  close(never_ready);
  return cpu;
}

// The hold time of the latest request the responder saw, in ms; -1 if it did not answer.
double last_hold_ms(const echo_responder& responder) {
  const auto seen = responder.requests();
  return seen.empty() || seen.back().hold_ns < 0 ? -1.0 : static_cast<double>(seen.back().hold_ns) / 1e6;
}

// One iputils ping; its RTT in ms, or -1.
double ping_once(const std::string& address) {
  const std::string command = "ping -n -c 1 -W 2 " + address + " 2>&1";
  FILE* output = popen(command.c_str(), "r");
  if (output == nullptr) return -1;
  char line[512];
  double rtt = -1;
  while (std::fgets(line, sizeof line, output) != nullptr) {
    if (const char* time = std::strstr(line, "time="); time != nullptr) rtt = std::atof(time + 5);
  }
  pclose(output);
  return rtt;
}

struct sample_set {
  std::vector<double> errors_ms;  // measured − true delay
  int equal_to_truncated = 0;
  int failed = 0;
  std::map<long, int> truncated_difference;  // measured (truncated) − truncated true delay
  std::vector<double> cpu_us;
  std::vector<double> idle_cpu_us;

  void add(double measured_ms, double true_ms) {
    if (measured_ms < 0 || true_ms < 0) {
      ++failed;
      return;
    }
    errors_ms.push_back(measured_ms - true_ms);
    const long difference = static_cast<long>(std::floor(measured_ms)) - static_cast<long>(std::floor(true_ms));
    ++truncated_difference[difference];
    if (difference == 0) ++equal_to_truncated;
  }

  double quantile(double q) const {
    if (errors_ms.empty()) return NAN;
    auto sorted = errors_ms;
    std::sort(sorted.begin(), sorted.end());
    return sorted[static_cast<std::size_t>(q * static_cast<double>(sorted.size() - 1) + 0.5)];
  }

  double max_abs_error() const {
    double worst = 0;
    for (double e : errors_ms) worst = std::max(worst, std::fabs(e));
    return worst;
  }

  std::string differences() const {
    std::string text;
    for (const auto& [difference, count] : truncated_difference) {
      char item[32];
      std::snprintf(item, sizeof item, "%s%ld:%d", text.empty() ? "" : " ", difference, count);
      text.append(item);
    }
    return text;
  }
};

void print_row(const char* who, int delay, const sample_set& set) {
  const int total = static_cast<int>(set.errors_ms.size()) + set.failed;
  std::printf("%-6s %5d %4d %4d %7.1f%%  %-14s %8.3f %8.3f %8.3f %8.3f", who, delay, total, set.failed,
              100.0 * set.equal_to_truncated / std::max(1, total), set.differences().c_str(), set.quantile(0.0),
              set.quantile(0.5), set.quantile(1.0), set.max_abs_error());
  if (!set.cpu_us.empty()) {
    double sum = 0, worst = 0, idle = 0;
    for (double c : set.cpu_us) sum += c, worst = std::max(worst, c);
    for (double c : set.idle_cpu_us) idle += c;
    const auto count = static_cast<double>(set.cpu_us.size());
    std::printf(" %8.1f %8.1f %8.1f", sum / count, worst, idle / count);
  }
  std::printf("\n");
}

}  // namespace

// Usage: echo_bench [--raw]
int main(int argc, char** argv) {
  const bool raw_only = argc > 1 && std::strcmp(argv[1], "--raw") == 0;
  if (!enter_private_network(raw_only)) return 77;
  echo_responder responder;
  if (!responder.running()) {
    std::fprintf(stderr, "%s\n", responder.failure().c_str());
    return 1;
  }
  const auto availability = quorvel::check_echo_available();
  if (!availability.available) {
    std::fprintf(stderr, "%s\n", availability.reason.c_str());
    return 1;
  }
  std::printf("echo probe socket: %s; %d probes per delay; true delay = responder hold time\n",
              availability.kind == quorvel::echo_socket_kind::datagram ? "datagram" : "raw", probes_per_delay);
  std::printf("%-6s %5s %4s %4s %8s  %-14s %8s %8s %8s %8s %8s %8s %8s\n", "who", "delay", "n", "lost", "=trunc",
              "trunc diff:n", "err min", "err med", "err max", "|err|max", "cpu µs", "cpu max", "idle µs");
  sample_set all_ours, all_ping;
  int next_host = 1;
  for (const int delay : delays_ms) {
    const std::string address = "127.0.10." + std::to_string(next_host++);
    responder.set_script(address, echo_script{echo_action::reply, delay, 0});
    sample_set ours, ping;
    for (int i = 0; i < probes_per_delay; ++i) {
      const double cpu_before = thread_cpu_us();
      const auto result = quorvel::echo_probe(address, 5000);
      const double cpu = thread_cpu_us() - cpu_before;
      ours.cpu_us.push_back(cpu);
      all_ours.cpu_us.push_back(cpu);
      const double idle = idle_wait_cpu_us(delay);
      ours.idle_cpu_us.push_back(idle);
      all_ours.idle_cpu_us.push_back(idle);
      const double true_ms = last_hold_ms(responder);
      ours.add(result, true_ms);
      all_ours.add(result, true_ms);
      const double ping_ms = ping_once(address);
      const double ping_true_ms = last_hold_ms(responder);
      ping.add(ping_ms, ping_true_ms);
      all_ping.add(ping_ms, ping_true_ms);
    }
    print_row("ours", delay, ours);
    print_row("ping", delay, ping);
  }
  print_row("ours", -1, all_ours);
  print_row("ping", -1, all_ping);
  std::printf("(delay -1: all delays together; err = measured - true delay in ms; trunc diff = truncated measured"
              " - truncated true; cpu = thread CPU time of one echo_probe call; idle = thread CPU time of a bare"
              " ppoll wait as long as the delay, the machine's own wake-up cost)\n");
  return 0;
}
