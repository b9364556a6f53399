#include "echo_responder.h"

#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <limits>

namespace quorvel::testing {
namespace {

constexpr std::size_t ip_header_size = 20;
constexpr std::size_t icmp_header_size = 8;
constexpr std::size_t no_request = std::numeric_limits<std::size_t>::max();
constexpr std::int64_t ns_per_ms = 1'000'000;

std::int64_t realtime_ns() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

std::uint16_t checksum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += (data[i] << 8) | data[i + 1];
  if (size % 2 == 1) sum += data[size - 1] << 8;
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

void put_u16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 8);
  p[1] = static_cast<std::uint8_t>(value);
}

std::uint16_t get_u16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

// An IP datagram carrying `icmp`; the kernel fills in length, identification and checksum.
std::vector<std::uint8_t> ip_datagram(std::uint32_t source, std::uint32_t destination,
                                      std::vector<std::uint8_t> icmp) {
  std::vector<std::uint8_t> packet(ip_header_size + icmp.size(), 0);
  packet[0] = 0x45;
  packet[8] = 64;
  packet[9] = IPPROTO_ICMP;
  std::memcpy(packet.data() + 12, &source, 4);
  std::memcpy(packet.data() + 16, &destination, 4);
  std::copy(icmp.begin(), icmp.end(), packet.begin() + ip_header_size);
  return packet;
}

std::vector<std::uint8_t> echo_reply(std::uint16_t identifier, std::uint16_t sequence,
                                     const std::uint8_t* payload, std::size_t payload_size) {
  std::vector<std::uint8_t> icmp(icmp_header_size + payload_size, 0);
  icmp[0] = ICMP_ECHOREPLY;
  put_u16(icmp.data() + 4, identifier);
  put_u16(icmp.data() + 6, sequence);
  if (payload_size > 0) std::memcpy(icmp.data() + icmp_header_size, payload, payload_size);
  put_u16(icmp.data() + 2, checksum(icmp.data(), icmp.size()));
  return icmp;
}

// An ICMP message quoting the request's IP header and its first 8 bytes, as a router sends it.
// `rest` is the second word of the header (the new gateway of a redirect).
std::vector<std::uint8_t> quoting_message(std::uint8_t type, std::uint8_t code, const std::uint8_t* request,
                                          std::size_t header_size, std::uint32_t rest = 0) {
  const std::size_t quoted_size = header_size + icmp_header_size;
  std::vector<std::uint8_t> icmp(icmp_header_size + quoted_size, 0);
  icmp[0] = type;
  icmp[1] = code;
  std::memcpy(icmp.data() + 4, &rest, 4);
  std::memcpy(icmp.data() + icmp_header_size, request, quoted_size);
  put_u16(icmp.data() + 2, checksum(icmp.data(), icmp.size()));
  return icmp;
}

std::vector<std::uint8_t> host_unreachable(const std::uint8_t* request, std::size_t header_size) {
  return quoting_message(ICMP_DEST_UNREACH, ICMP_HOST_UNREACH, request, header_size);
}

// Any other checksum sums to a non-zero value over the message.
std::vector<std::uint8_t> with_corrupt_checksum(std::vector<std::uint8_t> icmp) {
  icmp[2] ^= 0x01;
  return icmp;
}

// What goes ahead of the right reply for the actions that send a quoting message first.
std::vector<std::uint8_t> message_before_reply(echo_action action, const std::uint8_t* request,
                                               std::size_t header_size) {
  switch (action) {
    case echo_action::redirect_first:
      return quoting_message(ICMP_REDIRECT, ICMP_REDIR_HOST, request, header_size, htonl(0x7f0000fe));
    case echo_action::source_quench_first:
      return quoting_message(ICMP_SOURCE_QUENCH, 0, request, header_size);
    default:
      return with_corrupt_checksum(host_unreachable(request, header_size));
  }
}

}  // namespace

echo_responder::echo_responder() {
  fd_ = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_ICMP);
  if (fd_ < 0) {
    failure_ = std::string("echo responder: raw ICMP socket: ") + std::strerror(errno);
    return;
  }
  const int on = 1;
  icmp_filter only_requests{~(1u << ICMP_ECHO)};
  stop_fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (setsockopt(fd_, IPPROTO_IP, IP_HDRINCL, &on, sizeof on) != 0 ||
      setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0 ||
      setsockopt(fd_, SOL_RAW, ICMP_FILTER, &only_requests, sizeof only_requests) != 0 || stop_fd_ < 0) {
    failure_ = std::string("echo responder: socket set-up: ") + std::strerror(errno);
    close(fd_);
    fd_ = -1;
    return;
  }
  worker_ = std::thread([this] { run(); });
}

echo_responder::~echo_responder() {
  if (worker_.joinable()) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(stop_fd_, &one, sizeof one);
    worker_.join();
  }
  if (fd_ >= 0) close(fd_);
  if (stop_fd_ >= 0) close(stop_fd_);
}

void echo_responder::set_script(std::string_view address, echo_script script) {
  in_addr parsed{};
  inet_pton(AF_INET, std::string(address).c_str(), &parsed);
  std::lock_guard lock(mutex_);
  scripts_[parsed.s_addr] = script;
  answered_per_address_.erase(parsed.s_addr);
}

std::vector<seen_request> echo_responder::requests() const {
  std::lock_guard lock(mutex_);
  return seen_;
}

std::size_t echo_responder::request_count() const {
  std::lock_guard lock(mutex_);
  return seen_.size();
}

void echo_responder::run() {
  // Scripted delays wait on a timer of their own: a poll timeout may run late by 0.1 % of its
  // length, and the default timer slack adds up to 50 µs more.
  prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  const int timer_fd = timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK);
  for (;;) {
    std::array<pollfd, 3> watched{pollfd{fd_, POLLIN, 0}, pollfd{stop_fd_, POLLIN, 0}, pollfd{timer_fd, POLLIN, 0}};
    const std::int64_t due = next_due_ns();
    itimerspec alarm{};  // all zero: disarmed
    if (due >= 0) {
      const std::int64_t at = std::max<std::int64_t>(1, due);
      alarm.it_value = timespec{static_cast<time_t>(at / 1'000'000'000), static_cast<long>(at % 1'000'000'000)};
    }
    timerfd_settime(timer_fd, TFD_TIMER_ABSTIME, &alarm, nullptr);
    if (ppoll(watched.data(), watched.size(), nullptr, nullptr) < 0 && errno != EINTR) break;
    if (watched[1].revents != 0) break;
    std::uint64_t expirations;
    if (watched[2].revents != 0) [[maybe_unused]] const auto got = read(timer_fd, &expirations, sizeof expirations);
    if (watched[0].revents != 0) receive_requests();
    send_due();
  }
  close(timer_fd);
}

void echo_responder::receive_requests() {
  for (;;) {
    std::array<std::uint8_t, 2048> buffer;
    alignas(cmsghdr) std::array<char, 256> control;
    iovec io{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t size = recvmsg(fd_, &message, 0);
    if (size < 0) return;
    std::int64_t stamp = realtime_ns();
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
        timespec ts;
        std::memcpy(&ts, CMSG_DATA(c), sizeof ts);
        stamp = std::int64_t{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
      }
    }
    answer(buffer.data(), static_cast<std::size_t>(size), stamp);
  }
}

void echo_responder::answer(const std::uint8_t* ip, std::size_t size, std::int64_t received_ns) {
  if (size < ip_header_size || (ip[0] >> 4) != 4) return;
  const std::size_t header_size = std::size_t{ip[0] & 0x0fu} * 4;
  const std::size_t total = std::min<std::size_t>(size, get_u16(ip + 2));
  if (header_size < ip_header_size || total < header_size + icmp_header_size) return;
  const std::uint8_t* icmp = ip + header_size;
  if (icmp[0] != ICMP_ECHO) return;
  std::uint32_t requester, target;
  std::memcpy(&requester, ip + 12, 4);
  std::memcpy(&target, ip + 16, 4);
  // Datagram sockets get their identifier from the kernel: echo whatever arrives.
  const std::uint16_t identifier = get_u16(icmp + 4);
  const std::uint16_t sequence = get_u16(icmp + 6);
  const std::uint8_t* payload = icmp + icmp_header_size;
  const std::size_t payload_size = total - header_size - icmp_header_size;

  std::lock_guard lock(mutex_);
  const std::size_t index = seen_.size();
  seen_.push_back(seen_request{target, identifier, sequence, -1});
  const auto found = scripts_.find(target);
  const echo_script script = found != scripts_.end() ? found->second : echo_script{};
  const int earlier_answers = answered_per_address_[target]++;
  const std::int64_t first_due = received_ns + script.delay_ms * ns_per_ms;
  const std::int64_t later_due = received_ns + script.later_ms * ns_per_ms;
  auto schedule = [&](std::int64_t due, std::vector<std::uint8_t> icmp_message, std::size_t whose,
                      std::uint32_t source) {
    pending_.push_back(pending_send{due, ip_datagram(source, requester, std::move(icmp_message)), requester,
                                    whose, received_ns});
  };
  const auto right_reply = echo_reply(identifier, sequence, payload, payload_size);
  switch (script.action) {
    case echo_action::reply:
      schedule(first_due, right_reply, index, target);
      break;
    case echo_action::drop:
      break;
    case echo_action::unreachable:
      schedule(first_due, host_unreachable(ip, header_size), no_request, target);
      break;
    case echo_action::duplicate:
      if (earlier_answers > 0) break;
      schedule(first_due, right_reply, index, target);
      schedule(later_due, right_reply, no_request, target);
      break;
    case echo_action::wrong_identifier_first:
      schedule(first_due, echo_reply(identifier ^ 0x5a5a, sequence, payload, payload_size), no_request, target);
      schedule(later_due, right_reply, index, target);
      break;
    case echo_action::wrong_sequence_first:
      schedule(first_due, echo_reply(identifier, sequence + 1, payload, payload_size), no_request, target);
      schedule(later_due, right_reply, index, target);
      break;
    case echo_action::wrong_source_first: {
      const std::uint32_t other = htonl(ntohl(target) ^ 0x01);
      schedule(first_due, right_reply, no_request, other);
      schedule(later_due, right_reply, index, target);
      break;
    }
    case echo_action::redirect_first:
    case echo_action::source_quench_first:
    case echo_action::corrupt_unreachable_first:
      schedule(first_due, message_before_reply(script.action, ip, header_size), no_request, target);
      schedule(later_due, right_reply, index, target);
      break;
    case echo_action::truncated_first: {
      auto cut = right_reply;
      cut.resize(6);
      schedule(first_due, cut, no_request, target);
      schedule(later_due, right_reply, index, target);
      break;
    }
  }
}

std::int64_t echo_responder::next_due_ns() const {
  std::int64_t due = -1;
  for (const auto& send : pending_)
    if (due < 0 || send.due_realtime_ns < due) due = send.due_realtime_ns;
  return due;
}

void echo_responder::send_due() {
  for (std::size_t i = 0; i < pending_.size();) {
    const std::int64_t now = realtime_ns();
    if (pending_[i].due_realtime_ns > now) {
      ++i;
      continue;
    }
    const pending_send send = std::move(pending_[i]);
    pending_.erase(pending_.begin() + static_cast<std::ptrdiff_t>(i));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = send.destination;
    const std::int64_t sending = realtime_ns();
    if (send.request_index != no_request) {
      std::lock_guard lock(mutex_);
      seen_[send.request_index].hold_ns = sending - send.received_ns;
    }
    sendto(fd_, send.packet.data(), send.packet.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }
}

}  // namespace quorvel::testing
