// The echo probe on Linux: an unprivileged ICMP datagram socket where the system allows it
// (net.ipv4.ping_group_range), else a raw ICMP socket (CAP_NET_RAW).
#include "probe/echo_probe.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <linux/capability.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>

namespace quorvel {

struct probe_cancel::state {
  int event_fd = -1;
  std::atomic<bool> fired{false};
};

probe_cancel::probe_cancel() : state_(std::make_unique<state>()) {
  state_->event_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

probe_cancel::~probe_cancel() {
  if (state_->event_fd >= 0) close(state_->event_fd);
}

void probe_cancel::cancel() {
  state_->fired.store(true);
  const std::uint64_t one = 1;
  if (state_->event_fd >= 0) {
    [[maybe_unused]] const auto written = write(state_->event_fd, &one, sizeof one);
  }
}

bool probe_cancel::cancelled() const { return state_->fired.load(); }

int probe_cancel::wake_fd() const { return state_->event_fd; }

namespace {

constexpr std::size_t icmp_header_size = 8;
constexpr std::size_t ip_header_min_size = 20;
// Large enough for any ICMP message we care about; anything longer is ignored as oversized.
constexpr std::size_t receive_buffer_size = 1024;

// The program file holds CAP_NET_RAW only as permitted (setcap cap_net_raw+p), so that nothing
// else the program does runs with it. It is made effective just around socket() and dropped
// again. Capabilities belong to a thread: this works on the thread that opens the socket.
int open_raw_socket_with_capability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3> caps{};
  const std::uint32_t raw_bit = 1u << CAP_NET_RAW;
  bool raised = syscall(SYS_capget, &header, caps.data()) == 0 && (caps[0].permitted & raw_bit) != 0 &&
                (caps[0].effective & raw_bit) == 0;
  if (raised) {
    caps[0].effective |= raw_bit;
    raised = syscall(SYS_capset, &header, caps.data()) == 0;
  }
  const int fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
  const int socket_error = errno;
  if (raised) {
    caps[0].effective &= ~raw_bit;
    syscall(SYS_capset, &header, caps.data());
  }
  errno = socket_error;
  return fd;
}

int open_icmp_socket(echo_socket_kind kind) {
  if (kind == echo_socket_kind::raw) return open_raw_socket_with_capability();
  return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
}

struct socket_choice {
  echo_socket_kind kind = echo_socket_kind::none;
  int datagram_error = 0;
  int raw_error = 0;
};

// Which socket kind the system lets us open. Asked again while none has worked, so that a fix
// the user makes meanwhile (a wider ping_group_range) counts at once; kept once one has worked.
socket_choice chosen_socket() {
  static std::mutex mutex;
  static socket_choice choice;
  const std::lock_guard lock(mutex);
  if (choice.kind != echo_socket_kind::none) return choice;
  for (const auto kind : {echo_socket_kind::datagram, echo_socket_kind::raw}) {
    const int fd = open_icmp_socket(kind);
    if (fd >= 0) {
      close(fd);
      choice.kind = kind;
      break;
    }
    (kind == echo_socket_kind::datagram ? choice.datagram_error : choice.raw_error) = errno;
  }
  return choice;
}

// Identifiers and sequence numbers differ between the probes of one process, so that
// a late or duplicated reply to an earlier probe never matches a later one.
std::uint16_t next_probe_number() {
  static std::atomic<std::uint32_t> counter{static_cast<std::uint32_t>(getpid()) * 7919u};
  return static_cast<std::uint16_t>(counter.fetch_add(1));
}

std::uint16_t internet_checksum(const std::uint8_t* data, std::size_t size) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < size; i += 2) sum += (data[i] << 8) | data[i + 1];
  if (size % 2 == 1) sum += data[size - 1] << 8;
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::uint16_t read_u16(const std::uint8_t* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }

void write_u16(std::uint8_t* p, std::uint16_t value) {
  p[0] = static_cast<std::uint8_t>(value >> 8);
  p[1] = static_cast<std::uint8_t>(value);
}

std::optional<in_addr_t> resolve_ipv4(const std::string& host) {
  const in_addr_t numeric = inet_addr(host.c_str());
  if (numeric != INADDR_NONE) return numeric;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
  in_addr_t address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
  freeaddrinfo(found);
  return address;
}

std::int64_t clock_ns(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// What we sent: the fields a reply or an error report must carry to be ours.
struct echo_request {
  in_addr_t target = 0;
  std::uint16_t identifier = 0;
  std::uint16_t sequence = 0;
};

// An ICMP message inside a received datagram, checked against its bounds.
struct icmp_view {
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
  in_addr_t source = 0;
};

// Raw sockets deliver the IP header too; datagram sockets only the ICMP message.
std::optional<icmp_view> strip_ip_header(const std::uint8_t* data, std::size_t size) {
  if (size < ip_header_min_size || (data[0] >> 4) != 4) return std::nullopt;
  const std::size_t header_size = std::size_t{data[0] & 0x0fu} * 4;
  const std::size_t total_size = read_u16(data + 2);
  if (header_size < ip_header_min_size || total_size < header_size || total_size > size) return std::nullopt;
  if (data[9] != IPPROTO_ICMP) return std::nullopt;
  in_addr_t source;
  std::memcpy(&source, data + 12, sizeof source);
  return icmp_view{data + header_size, total_size - header_size, source};
}

bool is_our_echo(const std::uint8_t* icmp, std::size_t size, std::uint8_t type, const echo_request& request) {
  return size >= icmp_header_size && icmp[0] == type && icmp[1] == 0 &&
         read_u16(icmp + 4) == request.identifier && read_u16(icmp + 6) == request.sequence;
}

// The reports that mean the request will get no answer. Others (a redirect, a source quench)
// travel while the request is still forwarded, so the reply may yet come.
bool is_error_type(std::uint8_t type) {
  return type == ICMP_DEST_UNREACH || type == ICMP_TIME_EXCEEDED || type == ICMP_PARAMETERPROB;
}

enum class verdict { unrelated, reply, error };

// Raw path: an error report quotes our request's IP header and at least its first 8 bytes.
// The quoted total length is the original one, which the quote may cut short, so it is not used.
bool quotes_our_request(const icmp_view& message, const echo_request& request) {
  const std::uint8_t* ip = message.data + icmp_header_size;
  const std::size_t size = message.size - icmp_header_size;
  if (size < ip_header_min_size || (ip[0] >> 4) != 4 || ip[9] != IPPROTO_ICMP) return false;
  const std::size_t header_size = std::size_t{ip[0] & 0x0fu} * 4;
  if (header_size < ip_header_min_size || size < header_size + icmp_header_size) return false;
  in_addr_t destination;
  std::memcpy(&destination, ip + 16, sizeof destination);
  return destination == request.target && is_our_echo(ip + header_size, icmp_header_size, ICMP_ECHO, request);
}

verdict judge_raw(const std::uint8_t* data, std::size_t size, const echo_request& request) {
  const auto message = strip_ip_header(data, size);
  if (!message || message->size < icmp_header_size) return verdict::unrelated;
  if (message->source == request.target && is_our_echo(message->data, message->size, ICMP_ECHOREPLY, request))
    return internet_checksum(message->data, message->size) == 0 ? verdict::reply : verdict::unrelated;
  if (is_error_type(message->data[0]) && quotes_our_request(*message, request))
    return internet_checksum(message->data, message->size) == 0 ? verdict::error : verdict::unrelated;
  return verdict::unrelated;
}

verdict judge_datagram(const std::uint8_t* data, std::size_t size, in_addr_t source, const echo_request& request) {
  return source == request.target && is_our_echo(data, size, ICMP_ECHOREPLY, request) ? verdict::reply
                                                                                       : verdict::unrelated;
}

// One echo exchange on its own socket, closed on every path.
class echo_exchange {
public:
  echo_exchange(echo_socket_kind kind, in_addr_t target) : kind_(kind) {
    fd_ = open_icmp_socket(kind);
    request_.target = target;
  }
  ~echo_exchange() {
    if (fd_ >= 0) close(fd_);
  }
  echo_exchange(const echo_exchange&) = delete;
  echo_exchange& operator=(const echo_exchange&) = delete;

  bool send();
  std::int32_t await_reply(int timeout_ms, int wake_fd);

private:
  bool prepare_socket();
  std::optional<verdict> receive_one();
  std::optional<verdict> receive_error();
  std::optional<std::int32_t> take_queued(short events, int timeout_ms);
  std::int32_t round_trip_ms() const;

  echo_socket_kind kind_;
  int fd_ = -1;
  echo_request request_;
  std::int64_t sent_realtime_ns_ = 0;
  std::int64_t sent_monotonic_ns_ = 0;
  std::int64_t received_realtime_ns_ = 0;
  std::int64_t received_monotonic_ns_ = 0;
};

bool echo_exchange::prepare_socket() {
  const int on = 1;
  if (setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0) return false;
  if (kind_ == echo_socket_kind::datagram) {
    // Error reports reach a datagram socket only through its error queue.
    if (setsockopt(fd_, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) return false;
    // The kernel replaces the identifier by the socket's port: bind to learn it.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t local_size = sizeof local;
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return false;
    if (getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &local_size) != 0) return false;
    request_.identifier = ntohs(local.sin_port);
  } else {
    // Wake only for replies and error reports, not for every request on the machine.
    icmp_filter filter{};
    filter.data = ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_TIME_EXCEEDED) |
                    (1u << ICMP_PARAMETERPROB));
    if (setsockopt(fd_, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0) return false;
    request_.identifier = next_probe_number();
  }
  return true;
}

bool echo_exchange::send() {
  if (fd_ < 0 || !prepare_socket()) return false;
  request_.sequence = next_probe_number();
  std::array<std::uint8_t, icmp_header_size> packet{ICMP_ECHO, 0};
  write_u16(packet.data() + 4, request_.identifier);
  write_u16(packet.data() + 6, request_.sequence);
  write_u16(packet.data() + 2, internet_checksum(packet.data(), packet.size()));
  sockaddr_in destination{};
  destination.sin_family = AF_INET;
  destination.sin_addr.s_addr = request_.target;
  sent_monotonic_ns_ = clock_ns(CLOCK_MONOTONIC);
  sent_realtime_ns_ = clock_ns(CLOCK_REALTIME);
  const auto sent = sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&destination),
                           sizeof destination);
  return sent == static_cast<ssize_t>(packet.size());
}

std::int32_t echo_exchange::round_trip_ms() const {
  const std::int64_t monotonic_ns = received_monotonic_ns_ - sent_monotonic_ns_;
  std::int64_t elapsed_ns = received_realtime_ns_ - sent_realtime_ns_;
  // The kernel stamps the reply before we read the clock again, so a stamp outside that window
  // means the wall clock was stepped meanwhile: then the monotonic reading is the better one.
  if (received_realtime_ns_ == 0 || elapsed_ns < 0 || elapsed_ns > monotonic_ns) elapsed_ns = monotonic_ns;
  return static_cast<std::int32_t>(elapsed_ns / 1'000'000);
}

std::int64_t timestamp_of(msghdr& message) {
  for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
      timespec stamp;
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      return std::int64_t{stamp.tv_sec} * 1'000'000'000 + stamp.tv_nsec;
    }
  }
  return 0;
}

// One datagram with its sender and ancillary data, read without blocking.
struct received_message {
  std::array<std::uint8_t, receive_buffer_size> data;
  alignas(cmsghdr) std::array<char, 512> control;
  sockaddr_in peer{};
  msghdr header{};
  iovec io{};
  std::size_t size = 0;

  // -1 with errno on failure; EAGAIN once nothing is left.
  int read(int fd, int flags) {
    io = iovec{data.data(), data.size()};
    header = msghdr{};
    header.msg_name = &peer;
    header.msg_namelen = sizeof peer;
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    header.msg_control = control.data();
    header.msg_controllen = control.size();
    const ssize_t got = recvmsg(fd, &header, flags | MSG_DONTWAIT);
    size = got > 0 ? static_cast<std::size_t>(got) : 0;
    return got < 0 ? -1 : 0;
  }
};

// Reads one datagram; nullopt when there is nothing more to read now.
std::optional<verdict> echo_exchange::receive_one() {
  received_message message;
  if (message.read(fd_, 0) != 0) return errno == EINTR ? std::optional{verdict::unrelated} : std::nullopt;
  received_monotonic_ns_ = clock_ns(CLOCK_MONOTONIC);
  if ((message.header.msg_flags & MSG_TRUNC) != 0) return verdict::unrelated;
  const verdict result = kind_ == echo_socket_kind::raw
                             ? judge_raw(message.data.data(), message.size, request_)
                             : judge_datagram(message.data.data(), message.size, message.peer.sin_addr.s_addr, request_);
  if (result == verdict::reply) received_realtime_ns_ = timestamp_of(message.header);
  return result;
}

// Datagram path: an error report that the kernel matched to our socket; check it quotes our request.
// Every entry is read, also one that is ignored: POLLERR stays set while the queue holds any.
std::optional<verdict> echo_exchange::receive_error() {
  received_message message;
  if (message.read(fd_, MSG_ERRQUEUE) != 0) return errno == EINTR ? std::optional{verdict::unrelated} : std::nullopt;
  for (cmsghdr* c = CMSG_FIRSTHDR(&message.header); c != nullptr; c = CMSG_NXTHDR(&message.header, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
      continue;
    sock_extended_err error;
    std::memcpy(&error, CMSG_DATA(c), sizeof error);
    const bool ours = error.ee_origin == SO_EE_ORIGIN_ICMP && is_error_type(error.ee_type) &&
                      message.peer.sin_addr.s_addr == request_.target &&
                      is_our_echo(message.data.data(), message.size, ICMP_ECHO, request_);
    if (ours) return verdict::error;
  }
  return verdict::unrelated;
}

std::int64_t remaining_ns(std::int64_t deadline_ns) { return deadline_ns - clock_ns(CLOCK_MONOTONIC); }

// Reads everything queued now; the probe's result once a reply or an error report is among it.
std::optional<std::int32_t> echo_exchange::take_queued(short events, int timeout_ms) {
  if ((events & POLLERR) != 0) {
    while (const auto seen = receive_error())
      if (*seen == verdict::error) return -1;
  }
  while (const auto seen = receive_one()) {
    if (*seen == verdict::error) return -1;
    // A wait may wake late: a reply is judged by its own round trip, not by when it was read.
    if (*seen == verdict::reply) {
      const std::int32_t round_trip = round_trip_ms();
      return round_trip < timeout_ms ? round_trip : -1;
    }
  }
  return std::nullopt;
}

std::int32_t echo_exchange::await_reply(int timeout_ms, int wake_fd) {
  timeout_ms = timeout_ms > 0 ? timeout_ms : 0;
  const std::int64_t deadline_ns = sent_monotonic_ns_ + std::int64_t{timeout_ms} * 1'000'000;
  for (;;) {
    // At the deadline the queue is looked at once more without waiting.
    const std::int64_t left_ns = std::max<std::int64_t>(remaining_ns(deadline_ns), 0);
    std::array<pollfd, 2> watched{pollfd{fd_, POLLIN, 0}, pollfd{wake_fd, POLLIN, 0}};
    const timespec wait{static_cast<time_t>(left_ns / 1'000'000'000), static_cast<long>(left_ns % 1'000'000'000)};
    const int ready = ppoll(watched.data(), wake_fd >= 0 ? 2 : 1, &wait, nullptr);
    if (ready < 0) {
      if (errno != EINTR) return -1;
      continue;
    }
    if (ready > 0) {
      if (watched[1].revents != 0) return -1;
      if (const auto result = take_queued(watched[0].revents, timeout_ms)) return *result;
    }
    if (left_ns == 0) return -1;
  }
}

std::int32_t probe_once(std::string_view host_text, int timeout_ms, const probe_cancel* cancel) {
  const echo_socket_kind kind = chosen_socket().kind;
  if (kind == echo_socket_kind::none) return -1;
  if (cancel != nullptr && cancel->cancelled()) return -1;
  const auto target = resolve_ipv4(std::string(host_text));
  if (!target || (cancel != nullptr && cancel->cancelled())) return -1;
  echo_exchange exchange(kind, *target);
  if (!exchange.send()) return -1;
  return exchange.await_reply(timeout_ms, cancel != nullptr ? cancel->wake_fd() : -1);
}

std::string error_text(int error) {
  switch (error) {
    case EACCES:
    case EPERM:
      return "没有权限";
    case EAFNOSUPPORT:
    case EPROTONOSUPPORT:
    case ESOCKTNOSUPPORT:
      return "系统不支持";
    case EMFILE:
    case ENFILE:
      return "打开的文件过多";
    case ENOBUFS:
    case ENOMEM:
      return "内存不足";
    default:
      return "错误码 " + std::to_string(error);
  }
}

// The path as one shell word, so that a copied command works whatever the folder is called.
std::string shell_word(const std::string& text) {
  if (!text.empty() && text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/._+-") ==
                           std::string::npos)
    return text;
  std::string quoted = "'";
  for (const char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string program_path() {
  std::array<char, 4096> path{};
  const ssize_t size = readlink("/proc/self/exe", path.data(), path.size() - 1);
  return size > 0 ? std::string(path.data(), static_cast<std::size_t>(size)) : std::string("/usr/bin/quorvel");
}

// The kernel writes the range as "first<TAB>last".
std::string current_ping_group_range() {
  std::ifstream in("/proc/sys/net/ipv4/ping_group_range");
  long first = 0;
  long last = 0;
  if (!(in >> first >> last)) return "未知";
  return std::to_string(first) + " " + std::to_string(last);
}

std::string unavailable_reason(const socket_choice& choice) {
  return "本程序既不能打开 ICMP 数据报套接字（" + error_text(choice.datagram_error) +
         "），也不能打开原始 ICMP 套接字（" + error_text(choice.raw_error) +
         "）。数据报套接字只对 net.ipv4.ping_group_range 范围内的用户组开放，当前范围是“" +
         current_ping_group_range() + "”；原始套接字需要 CAP_NET_RAW 权限。下面任选一种办法解决。";
}

std::vector<echo_fix> unavailable_fixes() {
  return {
      {"sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"",
       "允许所有用户组使用 ICMP 数据报套接字。立即生效，再按“开始测试”即可；重启系统后恢复原值。"},
      {"echo 'net.ipv4.ping_group_range = 0 2147483647' | sudo tee /etc/sysctl.d/60-ping.conf",
       "把上一条设置写入配置文件，以后每次开机都生效。"},
      {"sudo setcap cap_net_raw+p " + shell_word(program_path()),
       "只给本程序原始套接字权限（需要软件包 libcap2-bin）。权限在程序启动时取得，所以要重新启动本程序才生效"
       "（同样，新加入的用户组要到下次登录后才生效）；程序文件被替换后要重新设置；文件系统以 nosuid "
       "挂载或程序在 no_new_privs 下运行时不起作用。"},
  };
}

}  // namespace

std::int32_t echo_probe(std::string_view host_text, int timeout_ms) {
  return probe_once(host_text, timeout_ms, nullptr);
}

std::int32_t echo_probe(std::string_view host_text, int timeout_ms, const probe_cancel& cancel) {
  return probe_once(host_text, timeout_ms, &cancel);
}

echo_availability check_echo_available() {
  const socket_choice choice = chosen_socket();
  echo_availability result;
  result.kind = choice.kind;
  result.available = choice.kind != echo_socket_kind::none;
  if (!result.available) {
    result.reason = unavailable_reason(choice);
    result.fixes = unavailable_fixes();
  }
  return result;
}

}  // namespace quorvel
