#include "probe/latency_stats.h"

#include "text/conversions.h"

namespace quorvel {

namespace {

// Upper bounds (inclusive) of the answered classes; what lies above the last is class 1000.
constexpr std::array<std::int32_t, 6> class_upper_bounds{80, 160, 240, 400, 640, 999};
constexpr std::array<int, latency_class_count> class_levels{1, 2, 2, 3, 4, 4, 4, 0};

constexpr int level_count = 5;
// The summary's percentage groups in the order shown; each group is one latency level.
struct summary_group {
  std::string_view lead;  // separator and label
  int level;
};
constexpr std::array<summary_group, level_count> summary_groups{{
    {", 丢包: ", 0},
    {", 快: ", 1},
    {"\r\n中: ", 2},
    {", 缓: ", 3},
    {", 慢: ", 4},
}};

bool is_no_answer(std::int32_t result) { return result < 0; }

std::string percentage_text(std::int32_t part, std::int32_t whole) {
  // Quotient first, then the scaling: the order decides the last bit and so the rounding of halves.
  // Without probes there is nothing to divide by; show 0.00% rather than a not-a-number text.
  const double quotient = whole > 0 ? static_cast<double>(part) / static_cast<double>(whole) : 0.0;
  return join_texts({number_to_fixed_text(quotient * 100.0, 2), "%"});
}

}  // namespace

int latency_class_of(std::int32_t result) {
  if (is_no_answer(result)) return timeout_class;
  int latency_class = 0;
  for (const std::int32_t bound : class_upper_bounds) {
    if (result <= bound) return latency_class;
    ++latency_class;
  }
  return latency_class;
}

int latency_level_of_class(int latency_class) {
  if (latency_class < 0 || latency_class >= latency_class_count) return 0;
  return class_levels[static_cast<std::size_t>(latency_class)];
}

int add_probe_result(latency_stats& stats, std::int32_t result) {
  // The order of the floating operations is fixed: a timeout adds the old mean, so it keeps it.
  const double weighted = stats.mean_rtt_ms * static_cast<double>(stats.probe_count);
  const double added = is_no_answer(result) ? stats.mean_rtt_ms : static_cast<double>(result);
  stats.mean_rtt_ms = (weighted + added) / (static_cast<double>(stats.probe_count) + 1.0);
  stats.probe_count += 1;
  const int latency_class = latency_class_of(result);
  stats.class_counts[static_cast<std::size_t>(latency_class)] += 1;
  return latency_class;
}

std::string summary_text(const latency_stats& stats) {
  std::array<std::int32_t, level_count> level_sums{};
  for (int latency_class = 0; latency_class < latency_class_count; ++latency_class) {
    level_sums[static_cast<std::size_t>(latency_level_of_class(latency_class))] +=
        stats.class_counts[static_cast<std::size_t>(latency_class)];
  }
  std::string text = join_texts({"次数: ", int_to_text(stats.probe_count)});
  for (const summary_group& group : summary_groups) {
    const std::int32_t sum = level_sums[static_cast<std::size_t>(group.level)];
    text += join_texts({group.lead, percentage_text(sum, stats.probe_count)});
  }
  return text;
}

std::string mean_caption(std::string_view prefix, const latency_stats& stats) {
  return join_texts({prefix, number_to_fixed_text(stats.mean_rtt_ms, 0), "ms"});
}

std::string log_line(std::string_view time_stamp, std::int32_t result) {
  if (is_no_answer(result)) return join_texts({"\r\n", time_stamp, "    ", "超时或出现故障"});
  return join_texts({"\r\n", time_stamp, "    ", "响应时间：", int_to_text(result), "ms"});
}

}  // namespace quorvel
