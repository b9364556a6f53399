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

int column_of(const time_span& span, int columns, std::int64_t utc_seconds);  // -1 outside

using channel_columns = std::array<std::vector<column_extreme>, probe_channel_count>;

// Both channels' columns of `span`, in one pass over the probes that lie in it.
channel_columns reduce_columns(const probe_record_list& probes, const time_span& span, int columns);

}  // namespace quorvel
