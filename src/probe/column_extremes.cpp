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

void merge_into_column(column_extreme& column, const column_extreme& part) {
  if (part.lost) column.lost = true;
  if (!part.answered) return;
  if (!column.answered) {
    column = {part.min_ms, part.max_ms, part.first_ms, part.last_ms, true, column.lost};
    return;
  }
  column.min_ms = std::min(column.min_ms, part.min_ms);
  column.max_ms = std::max(column.max_ms, part.max_ms);
  column.last_ms = part.last_ms;
}

std::pair<std::size_t, std::size_t> positions_within(const probe_record_list& probes, const time_span& span) {
  if (!probes.times_ascending()) return {0, probes.size()};
  // Whole seconds: t >= begin means t >= ceil(begin), and so for the end.
  return {probes.first_position_at(static_cast<std::int64_t>(std::ceil(span.begin))),
          probes.first_position_at(static_cast<std::int64_t>(std::ceil(span.end)))};
}

channel_columns empty_columns(int columns) {
  channel_columns result;
  for (auto& channel : result) channel.assign(static_cast<std::size_t>(std::max(columns, 0)), {});
  return result;
}

}  // namespace

int column_of(const time_span& span, int columns, std::int64_t utc_seconds) {
  return column_mapping(span, columns).column(utc_seconds);
}

channel_columns reduce_columns(const probe_record_list& probes, const time_span& span, int columns) {
  channel_columns result = empty_columns(columns);
  if (columns <= 0 || !(span.end > span.begin)) return result;
  const auto [first, last] = positions_within(probes, span);
  const column_mapping mapping(span, columns);
  probes.scan(first, last, [&](std::size_t channel, std::int64_t utc_seconds, std::int32_t probe_result) {
    const int column = mapping.column(utc_seconds);
    if (column >= 0) add_to_column(result[channel][static_cast<std::size_t>(column)], probe_result);
  });
  return result;
}

channel_columns column_reducer::reduce(const time_span& span, int columns) {
  catch_up();
  if (!probes_.times_ascending()) return reduce_columns(probes_, span, columns);
  channel_columns result = empty_columns(columns);
  if (columns <= 0 || !(span.end > span.begin)) return result;
  const auto [first, last] = positions_within(probes_, span);
  const column_mapping mapping(span, columns);
  const auto add_probe = [&](std::size_t channel, std::int64_t utc_seconds, std::int32_t probe_result) {
    const int column = mapping.column(utc_seconds);
    if (column >= 0) add_to_column(result[channel][static_cast<std::size_t>(column)], probe_result);
  };
  for (std::size_t position = first; position < last;) {
    const std::size_t index = position / bucket_probes;
    const std::size_t bucket_end = (index + 1) * bucket_probes;
    if (position % bucket_probes == 0 && bucket_end <= last && index < buckets_.size()) {
      const bucket& whole = buckets_[index];
      const int column = mapping.column(whole.first_utc);
      if (column >= 0 && column == mapping.column(whole.last_utc)) {
        for (std::size_t channel = 0; channel < probe_channel_count; ++channel)
          merge_into_column(result[channel][static_cast<std::size_t>(column)], whole.channels[channel]);
        position = bucket_end;
        continue;
      }
    }
    const std::size_t stop = std::min(last, bucket_end);
    probes_.scan(position, stop, add_probe);
    position = stop;
  }
  return result;
}

void column_reducer::catch_up() {
  if (generation_ != probes_.generation() || buckets_.size() * bucket_probes > probes_.size()) {
    buckets_.clear();
    generation_ = probes_.generation();
  }
  while ((buckets_.size() + 1) * bucket_probes <= probes_.size()) {
    const std::size_t first = buckets_.size() * bucket_probes;
    bucket summary{probes_.at(first).time.utc_seconds, probes_.at(first + bucket_probes - 1).time.utc_seconds, {}};
    probes_.scan(first, first + bucket_probes, [&](std::size_t channel, std::int64_t, std::int32_t result) {
      add_to_column(summary.channels[channel], result);
    });
    buckets_.push_back(summary);
  }
}

}  // namespace quorvel
