#include "probe/episode_recorder.h"

#include "probe/uptime_clock.h"
#include "text/conversions.h"
#include "text/time_stamp.h"

#include <algorithm>
#include <array>

namespace quorvel {

namespace {

constexpr std::int32_t default_threshold_ms = 500;
// The re-arm period of a channel's timer: every good result after the opening one stands for
// this much time that did not belong to the episode.
constexpr std::int64_t probe_period_ms = 1000;
// No answer comes after the probe timeout, so a timeout episode's opening result stands for at
// most this long; less when it came early (an error report, a name that did not resolve).
constexpr std::int32_t probe_timeout_ms = 5000;
constexpr std::int64_t uptime_units_per_ms = 10000;

bool is_no_answer(std::int32_t result) { return result < 0; }

// What one kind of tracker looks at, what is bad for it, and what its opening result counts.
struct kind_rules {
  bool (*looks_at)(std::int32_t result);
  bool (*is_bad)(std::int32_t result, std::int32_t threshold_ms);
  std::int32_t (*first_ms)(std::int32_t opening_result, std::int32_t probe_ms);
};

constexpr std::array<kind_rules, 2> rules_by_kind{{
    // high ping: a missing answer is the timeout tracker's business
    {[](std::int32_t result) { return !is_no_answer(result); },
     [](std::int32_t result, std::int32_t threshold_ms) { return result > threshold_ms; },
     [](std::int32_t opening_result, std::int32_t) { return opening_result; }},
    // timeout: any answer, however slow, is good
    {[](std::int32_t) { return true; },
     [](std::int32_t result, std::int32_t) { return is_no_answer(result); },
     [](std::int32_t, std::int32_t probe_ms) { return std::min(probe_timeout_ms, probe_ms); }},
}};

const kind_rules& rules_of(episode_kind kind) {
  return rules_by_kind[kind == episode_kind::high_ping ? 0 : 1];
}

std::int32_t effective_threshold(std::int32_t threshold_ms) {
  return threshold_ms < 1 ? default_threshold_ms : threshold_ms;
}

// The counters are 32-bit like the durations they make; keep the low bits instead of overflowing.
std::int32_t low_32_bits(std::int64_t value) { return static_cast<std::int32_t>(value); }

std::int64_t uptime_difference(std::int64_t later, std::int64_t earlier) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(later) -
                                   static_cast<std::uint64_t>(earlier));
}

void start_episode(episode_tracker& tracker, std::int32_t first_ms, episode_clock& clock) {
  tracker.start_text = clock.time_stamp_now();
  tracker.start_mark = clock.uptime_now();
  tracker.is_open = true;
  tracker.first_ms = first_ms;
  tracker.good_count = 0;
  tracker.good_sum_ms = 0;
}

// Not clamped: a clock that went wrong shows as an odd duration rather than being hidden.
void end_episode(episode_tracker& tracker, std::vector<episode_record>& records,
                 episode_clock& clock) {
  const double elapsed_units =
      static_cast<double>(uptime_difference(clock.uptime_now(), tracker.start_mark));
  const std::int32_t elapsed_ms =
      low_32_bits(truncate_to_int(elapsed_units / static_cast<double>(uptime_units_per_ms)));
  const std::int64_t duration_ms = std::int64_t{elapsed_ms} - probe_period_ms * tracker.good_count -
                                   tracker.good_sum_ms + tracker.first_ms;
  tracker.is_open = false;
  tracker.good_count = 0;
  tracker.good_sum_ms = 0;
  records.push_back(episode_record{tracker.start_text, low_32_bits(duration_ms)});
}

class system_clock_reader final : public episode_clock {
public:
  std::string time_stamp_now() override { return time_stamp_text(current_date_time()); }
  std::int64_t uptime_now() override { return read_uptime(); }
};

}  // namespace

episode_clock& system_episode_clock() {
  static system_clock_reader reader;
  return reader;
}

std::int32_t high_ping_threshold_from_text(std::string_view text) {
  return effective_threshold(text_to_int(text));
}

int ignore_count_from_index(int index) { return index < 0 ? 0 : index; }

bool feed_episode_tracker(episode_kind kind, episode_tracker& tracker,
                          std::vector<episode_record>& records, const tracker_settings& settings,
                          std::int32_t result, episode_clock& clock, std::int32_t probe_ms) {
  const kind_rules& rules = rules_of(kind);
  if (!settings.enabled || !rules.looks_at(result)) return false;
  const bool bad = rules.is_bad(result, effective_threshold(settings.threshold_ms));
  if (!tracker.is_open) {
    if (bad) start_episode(tracker, rules.first_ms(result, probe_ms), clock);
    return false;
  }
  if (bad) {
    // Only the run of good results in a row restarts; their sum keeps running until the end.
    tracker.good_count = 0;
    return false;
  }
  tracker.good_sum_ms = low_32_bits(std::int64_t{tracker.good_sum_ms} + result);
  tracker.good_count += 1;
  if (tracker.good_count <= ignore_count_from_index(settings.ignore_count)) return false;
  end_episode(tracker, records, clock);
  return true;
}

std::string duration_seconds_text(std::int32_t duration_ms) {
  return number_to_fixed_text(static_cast<double>(duration_ms) / 1000.0, 2);
}

std::string record_line(const episode_record& record) {
  return join_texts(
      {"发生在:", record.start_text, "  约:", duration_seconds_text(record.duration_ms), "秒"});
}

}  // namespace quorvel
