// One ICMP echo request to one IPv4 target, and its round-trip time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// Lets another thread end a waiting probe at once. Thread-safe; cancel() may be called any time.
class probe_cancel {
public:
  probe_cancel();
  ~probe_cancel();
  probe_cancel(const probe_cancel&) = delete;
  probe_cancel& operator=(const probe_cancel&) = delete;

  void cancel();
  bool cancelled() const;
  int wake_fd() const;  // becomes readable once cancel() was called; for poll()

private:
  struct state;
  std::unique_ptr<state> state_;
};

// Round-trip time in whole milliseconds (0 or more), or -1 for no answer of any kind.
std::int32_t echo_probe(std::string_view host_text, int timeout_ms = 10000);
// The same, returning -1 at once when `cancel` fires.
std::int32_t echo_probe(std::string_view host_text, int timeout_ms, const probe_cancel& cancel);

// Which socket the probes use, the unprivileged kind first. Tried again at every check until one
// kind has worked; that kind is then kept for the rest of the process.
enum class echo_socket_kind { none, datagram, raw };

// One way to allow echo requests: a whole shell command and what the user should know about it.
struct echo_fix {
  std::string command;
  std::string note;
};

// Whether echo requests can be sent at all; if not, why (in Chinese) and how to fix it.
struct echo_availability {
  bool available = false;
  echo_socket_kind kind = echo_socket_kind::none;
  std::string reason;  // empty when available
  std::vector<echo_fix> fixes;
};
echo_availability check_echo_available();

}  // namespace quorvel
