#include "probe/column_extremes.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

void add_to_column(column_extreme& column, std::int32_t result) {
  if (result < 0) {
    column.lost = true;
    return;
  }
  if (!column.answered) {
    column = {result, result, result, result, true, column.lost};
    return;
  }
  column.min_ms = std::min(column.min_ms, result);
  column.max_ms = std::max(column.max_ms, result);
  column.last_ms = result;
}

}  // namespace

int column_of(const time_span& span, int columns, std::int64_t utc_seconds) {
  const auto t = static_cast<double>(utc_seconds);
  if (columns <= 0 || !(t >= span.begin && t < span.end)) return -1;
  const double column = std::floor((t - span.begin) / (span.end - span.begin) * columns);
  return std::clamp(static_cast<int>(column), 0, columns - 1);  // rounding at the very end
}

channel_columns reduce_columns(const probe_record_list& probes, const time_span& span, int columns) {
  channel_columns result;
  if (columns <= 0) return result;
  for (auto& channel : result) channel.assign(static_cast<std::size_t>(columns), {});
  if (!(span.end > span.begin)) return result;
  std::size_t first = 0;
  std::size_t last = probes.size();
  if (probes.times_ascending()) {
    // Whole seconds: t >= begin means t >= ceil(begin), and so for the end.
    first = probes.first_position_at(static_cast<std::int64_t>(std::ceil(span.begin)));
    last = probes.first_position_at(static_cast<std::int64_t>(std::ceil(span.end)));
  }
  for (std::size_t position = first; position < last; ++position) {
    const shown_probe probe = probes.at(position);
    const int column = column_of(span, columns, probe.time.utc_seconds);
    if (column >= 0) add_to_column(result[probe.channel][static_cast<std::size_t>(column)], probe.result);
  }
  return result;
}

}  // namespace quorvel
