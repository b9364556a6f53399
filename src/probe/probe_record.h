// Every probe of a run, both channels, in the order their results were shown, at 6 bytes a probe:
// the backing of the probe logs, the latency chart and the data export. A probe's log line is
// written only when someone asks for it.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// The moment of a probe: UTC seconds and the local zone's offset from UTC then, so that its time
// stamp stays the local time it was, whatever the zone does later.
struct probe_time {
  std::int64_t utc_seconds = 0;
  std::int32_t utc_offset_seconds = 0;
  bool operator==(const probe_time&) const = default;
};

// Now, in whole seconds, with the zone as it is now.
probe_time probe_time_now();

inline constexpr std::size_t time_stamp_length = 19;  // "yyyy-MM-dd HH:mm:ss"

// The local time stamp of `time`, as the log writes it.
std::string probe_time_stamp(const probe_time& time);
// Into a buffer of time_stamp_length characters, without allocating.
void write_probe_time_stamp(const probe_time& time, char* out);

// The log line of one probe, without the break before it: the time stamp, four blanks, then
// "响应时间：Nms" or, for -1, "超时或出现故障".
std::string probe_line_text(const probe_time& time, std::int32_t result);
void append_probe_line_text(std::string& out, const probe_time& time, std::int32_t result);

inline constexpr std::size_t probe_channel_count = 2;  // 0 gateway, 1 external host

struct shown_probe {
  std::size_t channel = 0;
  std::int32_t result = -1;  // -1: no answer
  probe_time time;
};

class probe_record_list {
public:
  // Results from 0 to this many milliseconds are kept exactly; a longer one is kept as this.
  static constexpr std::int32_t longest_result_ms = 0x7ffe;

  void clear();
  void add(std::size_t channel, std::int32_t result, const probe_time& time);

  // All probes of both channels, in shown order.
  std::size_t size() const { return size_; }
  shown_probe at(std::size_t position) const;
  // The probes of one channel, numbered in shown order.
  std::size_t count(std::size_t channel) const { return channel_counts_[channel]; }
  std::size_t position_of(std::size_t channel, std::size_t index) const;
  shown_probe of_channel(std::size_t channel, std::size_t index) const { return at(position_of(channel, index)); }

  // Calls `visit` with every probe of the run in shown order: its channel, its 19-character time
  // stamp as the log shows it, and its result (-1: no answer). The text lives only for the call.
  using probe_visitor = std::function<void(std::size_t channel, std::string_view time_stamp, std::int32_t result)>;
  void for_each_shown(const probe_visitor& visit) const;
  // Calls `visit` with the probes of `channel` from its `first` on, in order, while it returns true.
  void for_each_of_channel(std::size_t channel, std::size_t first,
                           const std::function<bool(const shown_probe&)>& visit) const;

  // True while no probe is earlier in UTC than the one shown before it (the clock was not set back),
  // so that a span of time is found by bisection.
  bool times_ascending() const { return times_ascending_; }
  // The first position whose UTC second is not before `utc_seconds`; needs times_ascending().
  std::size_t first_position_at(std::int64_t utc_seconds) const;

  // Calls visit(channel, utc_seconds, result) for the positions from `first` to before `last`,
  // without the zone: the quick walk of the chart.
  template <class Visit>
  void scan(std::size_t first, std::size_t last, Visit&& visit) const {
    for (std::size_t position = first; position < last;) {
      const record* block = blocks_[position / block_records].get();
      const std::size_t block_end = std::min(last, (position / block_records + 1) * block_records);
      for (; position < block_end; ++position) {
        const record& r = block[position % block_records];
        visit(channel_of(r), utc_of(r), static_cast<std::int32_t>(r.channel_and_result & 0x7fff) - 1);
      }
    }
  }

  // Heap and object bytes held, slack included.
  std::size_t memory_bytes() const;
  // Changes at every clear(), so that what was worked out from the probes can tell it is stale.
  std::uint64_t generation() const { return generation_; }

private:
  // Three 16-bit halves keep the record at 6 bytes: UTC seconds, then the channel in the top bit
  // above the result plus one (0: no answer).
  struct record {
    std::uint16_t utc_low;
    std::uint16_t utc_high;
    std::uint16_t channel_and_result;
  };
  static_assert(sizeof(record) == 6);
  // The zone's offset changes a few times a year at most, so it is kept as a list of changes.
  struct offset_change {
    std::uint32_t first_position;
    std::int32_t utc_offset_seconds;
  };
  static constexpr std::size_t block_records = 8192;
  // Every so many probes of a channel, its position in the run: the start of a short scan.
  static constexpr std::size_t checkpoint_every = 64;

  const record& record_at(std::size_t position) const;
  static std::size_t channel_of(const record& r) { return r.channel_and_result >> 15; }
  static std::int64_t utc_of(const record& r) { return r.utc_low | (std::int64_t{r.utc_high} << 16); }
  shown_probe decoded(const record& r, std::size_t position) const;
  std::int32_t offset_at(std::size_t position) const;

  std::vector<std::unique_ptr<record[]>> blocks_;
  std::vector<offset_change> offsets_;
  std::vector<std::uint32_t> checkpoints_[probe_channel_count];
  std::size_t channel_counts_[probe_channel_count] = {};
  std::size_t size_ = 0;
  bool times_ascending_ = true;
  std::uint64_t generation_ = 0;
};

}  // namespace quorvel
