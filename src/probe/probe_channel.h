// All state of one probe channel (gateway or external).
#pragma once

#include "probe/episode_recorder.h"
#include "probe/latency_stats.h"

#include <string>
#include <vector>

namespace quorvel {

struct probe_channel {
  std::string target_host;
  bool stats_reset_pending = false;
  latency_stats stats;
  episode_tracker high_ping_tracker;
  episode_tracker timeout_tracker;
  std::vector<episode_record> high_ping_records;
  std::vector<episode_record> timeout_records;

  episode_tracker& tracker(episode_kind kind) {
    return kind == episode_kind::high_ping ? high_ping_tracker : timeout_tracker;
  }
  std::vector<episode_record>& records(episode_kind kind) {
    return kind == episode_kind::high_ping ? high_ping_records : timeout_records;
  }
};

}  // namespace quorvel
