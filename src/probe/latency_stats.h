// Running count and mean, the eight latency classes, and the texts made from them.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// Class indexes, in the order of the counter boxes: 0..80, 81..160, 161..240, 241..400,
// 401..640, 641..999, 1000 and more, no answer (-1).
inline constexpr int latency_class_count = 8;
inline constexpr int timeout_class = 7;

int latency_class_of(std::int32_t result);
// 0 no answer, 1 fast ... 4 slow.
int latency_level_of_class(int latency_class);

struct latency_stats {
  std::int32_t probe_count = 0;
  double mean_rtt_ms = 0.0;
  std::array<std::int32_t, latency_class_count> class_counts{};
};

// Updates mean and count (a timeout keeps the mean), then the class counter; returns the class.
int add_probe_result(latency_stats& stats, std::int32_t result);

// "次数: N, 丢包: x%, 快: x%\r\n中: x%, 缓: x%, 慢: x%"; needs probe_count >= 1.
std::string summary_text(const latency_stats& stats);

// prefix + mean with 0 decimals + "ms".
std::string mean_caption(std::string_view prefix, const latency_stats& stats);

// "\r\n" + time stamp + four blanks + "响应时间：Nms" or "超时或出现故障".
std::string log_line(std::string_view time_stamp, std::int32_t result);

}  // namespace quorvel
