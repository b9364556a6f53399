// The project's own echo peer for tests and benchmarks: a raw ICMP socket on loopback that answers
// echo requests as scripted per target address. Needs CAP_NET_RAW and a namespace in which the
// kernel's own echo replies are off (net.ipv4.icmp_echo_ignore_all=1).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace quorvel::testing {

enum class echo_action {
  reply,                   // reply after delay_ms
  drop,                    // never answer
  unreachable,             // a host-unreachable report after delay_ms instead of a reply
  duplicate,               // answer the first request after delay_ms and again after later_ms; drop later ones
  wrong_identifier_first,  // a reply with another identifier after delay_ms, the right one after later_ms
  wrong_sequence_first,    // the same with another sequence number
  wrong_source_first,      // the same from another address
  truncated_first,         // a reply cut to 6 bytes after delay_ms, the right one after later_ms
  // An ICMP message quoting the request after delay_ms, the right reply after later_ms:
  redirect_first,                   // a host redirect (to 127.0.0.254)
  source_quench_first,              // a source quench
  corrupt_unreachable_first,        // a host-unreachable report whose checksum is wrong
};

struct echo_script {
  echo_action action = echo_action::reply;
  int delay_ms = 0;
  int later_ms = 0;
};

// One echo request the responder saw, and when it answered it.
struct seen_request {
  std::uint32_t destination = 0;  // network byte order
  std::uint16_t identifier = 0;
  std::uint16_t sequence = 0;
  // From the kernel's receive stamp of the request to just before sendto of the (right) reply;
  // -1 while not (or never) answered.
  std::int64_t hold_ns = -1;
};

class echo_responder {
public:
  echo_responder();  // unscripted addresses are answered at once
  ~echo_responder();
  echo_responder(const echo_responder&) = delete;
  echo_responder& operator=(const echo_responder&) = delete;

  bool running() const { return fd_ >= 0; }
  const std::string& failure() const { return failure_; }

  void set_script(std::string_view address, echo_script script);
  std::vector<seen_request> requests() const;
  std::size_t request_count() const;

private:
  struct pending_send {
    std::int64_t due_realtime_ns;
    std::vector<std::uint8_t> packet;
    std::uint32_t destination;
    std::size_t request_index;  // whose hold time this send fixes, or none
    std::int64_t received_ns;
  };

  void run();
  void receive_requests();
  void answer(const std::uint8_t* ip_packet, std::size_t size, std::int64_t received_ns);
  void send_due();
  std::int64_t next_due_ns() const;

  int fd_ = -1;
  int stop_fd_ = -1;
  std::string failure_;
  mutable std::mutex mutex_;
  std::map<std::uint32_t, echo_script> scripts_;
  std::map<std::uint32_t, int> answered_per_address_;
  std::vector<seen_request> seen_;
  std::vector<pending_send> pending_;
  std::thread worker_;
};

}  // namespace quorvel::testing
