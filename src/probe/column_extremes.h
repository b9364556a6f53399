// The chart's reduction: per pixel column of a span of time, the least and greatest round trip
// and whether a probe went unanswered, so that a redraw costs the width, not the number of probes.
#pragma once

#include "probe/probe_record.h"

#include <array>
#include <cstdint>
#include <vector>

namespace quorvel {

struct column_extreme {
  std::int32_t min_ms = 0;    // of the answered probes; meaningless without any
  std::int32_t max_ms = 0;
  std::int32_t first_ms = 0;  // the first and last answered probe, to join the columns
  std::int32_t last_ms = 0;
  bool answered = false;      // some probe of the column got an answer
  bool lost = false;          // some probe of the column got none
  bool operator==(const column_extreme&) const = default;
};

// A span of UTC time shown across `columns` columns of equal width: a probe at UTC second t lies in
// column floor((t - begin) / (end - begin) * columns) when begin <= t < end.
struct time_span {
  double begin = 0.0;
  double end = 1.0;
};

// Where a UTC second falls, the same arithmetic for every caller.
class column_mapping {
public:
  column_mapping(const time_span& span, int columns)
      : begin_(span.begin), end_(span.end), columns_(columns),
        scale_(columns > 0 && span.end > span.begin ? columns / (span.end - span.begin) : 0.0) {}
  int column(std::int64_t utc_seconds) const {  // -1 outside
    const auto t = static_cast<double>(utc_seconds);
    if (scale_ <= 0.0 || !(t >= begin_ && t < end_)) return -1;
    const auto at = static_cast<int>((t - begin_) * scale_);  // not negative, so truncation floors
    return at < columns_ ? at : columns_ - 1;  // rounding at the very end
  }

private:
  double begin_, end_;
  int columns_;
  double scale_;
};

int column_of(const time_span& span, int columns, std::int64_t utc_seconds);  // -1 outside

using channel_columns = std::array<std::vector<column_extreme>, probe_channel_count>;

// Both channels' columns of `span`, in one pass over the probes that lie in it.
channel_columns reduce_columns(const probe_record_list& probes, const time_span& span, int columns);

// The same columns for a chart redrawn again and again: it keeps the extremes of each run of
// bucket_probes probes, and a run that falls in one column is taken whole. Catches up with new
// probes (and a cleared list) at each call.
class column_reducer {
public:
  static constexpr std::size_t bucket_probes = 128;

  explicit column_reducer(const probe_record_list& probes) : probes_(probes) {}
  channel_columns reduce(const time_span& span, int columns);
  std::size_t memory_bytes() const { return buckets_.capacity() * sizeof(bucket); }

private:
  struct bucket {
    std::int64_t first_utc;
    std::int64_t last_utc;
    std::array<column_extreme, probe_channel_count> channels;
  };
  void catch_up();

  const probe_record_list& probes_;
  std::vector<bucket> buckets_;
  std::uint64_t generation_ = 0;
};

}  // namespace quorvel
