// High-ping and timeout episodes: when they start, how long they last, the records they leave.
#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

enum class episode_kind { high_ping, timeout };

struct episode_record {
  std::string start_text;  // time stamp text, 19 characters
  std::int32_t duration_ms = 0;
};

struct episode_tracker {
  bool is_open = false;
  std::string start_text;
  std::int64_t start_mark = 0;  // uptime in 100 ns units
  std::int32_t first_ms = 0;
  std::int32_t good_count = 0;
  std::int32_t good_sum_ms = 0;
};

// The clocks read when an episode starts and ends; tests script them.
class episode_clock {
public:
  virtual ~episode_clock() = default;
  virtual std::string time_stamp_now() = 0;  // time_stamp_text(current_date_time())
  virtual std::int64_t uptime_now() = 0;     // read_uptime()
};
episode_clock& system_episode_clock();

// What the window's controls say for one tracker, read at every probe.
struct tracker_settings {
  bool enabled = false;          // its check box is ticked
  std::int32_t threshold_ms = 500;  // high ping only
  int ignore_count = 0;
};

// text_to_int of the threshold box; below 1 gives 500.
std::int32_t high_ping_threshold_from_text(std::string_view text);
// A combo box index; no selection (-1) behaves as 0.
int ignore_count_from_index(int index);

// Feeds one probe result to one tracker. Returns true when an episode ended and a record was
// appended to `records`. `probe_ms`: how long the probe took, from just before its call to its
// result; the default stands for a probe that waited out its whole timeout.
bool feed_episode_tracker(episode_kind kind, episode_tracker& tracker,
                          std::vector<episode_record>& records, const tracker_settings& settings,
                          std::int32_t result, episode_clock& clock,
                          std::int32_t probe_ms = std::numeric_limits<std::int32_t>::max());

// The duration in seconds with 2 decimals, as the record lists show it: 1500 gives "1.50".
std::string duration_seconds_text(std::int32_t duration_ms);

// "发生在:" + start + "  约:" + seconds with 2 decimals + "秒".
std::string record_line(const episode_record& record);

}  // namespace quorvel
