// When a recorded episode deserves the user's attention: once it has had 3 bad results in a row
// (so single lost probes stay quiet), and again when such an episode is recorded.
#pragma once

#include "probe/episode_recorder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace quorvel {

// What one tracker did with one probe result.
struct episode_step {
  episode_kind kind = episode_kind::timeout;
  tracker_settings settings;
  std::int32_t result = -1;
  bool was_open = false;                      // before the result
  const episode_tracker* tracker = nullptr;   // after the result
  const episode_record* recorded = nullptr;   // the record the result appended, if any
};

struct episode_alert {
  std::string summary;  // e.g. "网关连接中断"
  std::string body;     // e.g. "开始于 2026-12-11 10:25:05"
};

// Follows the four trackers (channel 0 gateway, 1 external; high ping, timeout).
class episode_alerts {
public:
  static constexpr int bad_results_to_alert = 3;

  std::optional<episode_alert> observe(std::size_t channel, const episode_step& step);

private:
  struct follow {
    int bad_in_row = 0;
    bool alerted = false;
  };
  std::array<follow, 4> follows_;
};

}  // namespace quorvel
