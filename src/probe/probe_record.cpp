#include "probe/probe_record.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ctime>

namespace quorvel {

namespace {

constexpr std::int64_t seconds_per_day = 86400;

void write_two_digits(unsigned value, char* out) {
  out[0] = static_cast<char>('0' + value / 10 % 10);
  out[1] = static_cast<char>('0' + value % 10);
}

std::int64_t floor_div(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return quotient * divisor > value ? quotient - 1 : quotient;
}

}  // namespace

probe_time probe_time_now() {
  ::tzset();  // the zone may have changed since the last probe
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (localtime_r(&now, &local) == nullptr) return {now, 0};
  // The local fields read back as UTC, less the UTC time: whatever makes up the offset.
  return {now, static_cast<std::int32_t>(timegm(&local) - now)};
}

void write_probe_time_stamp(const probe_time& time, char* out) {
  using namespace std::chrono;
  const std::int64_t local = time.utc_seconds + time.utc_offset_seconds;
  const std::int64_t day = floor_div(local, seconds_per_day);
  const auto second_of_day = static_cast<unsigned>(local - day * seconds_per_day);
  const year_month_day date{sys_days{days{day}}};
  const auto year_number = static_cast<unsigned>(static_cast<int>(date.year()));
  write_two_digits(year_number / 100, out);
  write_two_digits(year_number % 100, out + 2);
  out[4] = '-';
  write_two_digits(static_cast<unsigned>(date.month()), out + 5);
  out[7] = '-';
  write_two_digits(static_cast<unsigned>(date.day()), out + 8);
  out[10] = ' ';
  write_two_digits(second_of_day / 3600, out + 11);
  out[13] = ':';
  write_two_digits(second_of_day / 60 % 60, out + 14);
  out[16] = ':';
  write_two_digits(second_of_day % 60, out + 17);
}

std::string probe_time_stamp(const probe_time& time) {
  std::string text(time_stamp_length, ' ');
  write_probe_time_stamp(time, text.data());
  return text;
}

void append_probe_line_text(std::string& out, const probe_time& time, std::int32_t result) {
  char stamp[time_stamp_length];
  write_probe_time_stamp(time, stamp);
  out.append(stamp, time_stamp_length);
  // The texts of log_line, written straight into the line: a whole log is made a line at a time.
  if (result < 0) {
    out += "    超时或出现故障";
    return;
  }
  out += "    响应时间：";
  char digits[12];
  const auto [end, error] = std::to_chars(digits, digits + sizeof digits, result);
  out.append(digits, end);
  out += "ms";
}

std::string probe_line_text(const probe_time& time, std::int32_t result) {
  std::string line;
  append_probe_line_text(line, time, result);
  return line;
}

void probe_record_list::clear() {
  std::vector<std::unique_ptr<record[]>>().swap(blocks_);
  std::vector<offset_change>().swap(offsets_);
  for (auto& checkpoints : checkpoints_) std::vector<std::uint32_t>().swap(checkpoints);
  std::fill(std::begin(channel_counts_), std::end(channel_counts_), 0);
  size_ = 0;
  times_ascending_ = true;
  ++generation_;
}

void probe_record_list::add(std::size_t channel, std::int32_t result, const probe_time& time) {
  if (size_ % block_records == 0) blocks_.push_back(std::make_unique_for_overwrite<record[]>(block_records));
  const auto utc = static_cast<std::uint32_t>(time.utc_seconds);
  const std::int32_t kept_result = std::min(result, longest_result_ms);
  const auto stored_result = static_cast<std::uint16_t>(kept_result < 0 ? 0 : kept_result + 1);
  const record fresh{static_cast<std::uint16_t>(utc & 0xffff), static_cast<std::uint16_t>(utc >> 16),
                     static_cast<std::uint16_t>((channel << 15) | stored_result)};
  if (size_ > 0 && utc_of(record_at(size_ - 1)) > utc) times_ascending_ = false;
  if (offsets_.empty() || offsets_.back().utc_offset_seconds != time.utc_offset_seconds) {
    offsets_.push_back({static_cast<std::uint32_t>(size_), time.utc_offset_seconds});
  }
  if (channel_counts_[channel] % checkpoint_every == 0) {
    checkpoints_[channel].push_back(static_cast<std::uint32_t>(size_));
  }
  blocks_.back()[size_ % block_records] = fresh;
  ++channel_counts_[channel];
  ++size_;
}

shown_probe probe_record_list::at(std::size_t position) const {
  return decoded(record_at(position), position);
}

std::size_t probe_record_list::position_of(std::size_t channel, std::size_t index) const {
  std::size_t position = checkpoints_[channel][index / checkpoint_every];
  for (std::size_t skipped = index % checkpoint_every;; ++position) {
    if (channel_of(record_at(position)) != channel) continue;
    if (skipped == 0) return position;
    --skipped;
  }
}

void probe_record_list::for_each_shown(const probe_visitor& visit) const {
  char stamp[time_stamp_length];
  for (std::size_t position = 0; position < size_; ++position) {
    const shown_probe probe = at(position);
    write_probe_time_stamp(probe.time, stamp);
    visit(probe.channel, std::string_view(stamp, time_stamp_length), probe.result);
  }
}

void probe_record_list::for_each_of_channel(std::size_t channel, std::size_t first,
                                            const std::function<bool(const shown_probe&)>& visit) const {
  if (first >= count(channel)) return;
  for (std::size_t position = position_of(channel, first); position < size_; ++position) {
    const record& r = record_at(position);
    if (channel_of(r) == channel && !visit(decoded(r, position))) return;
  }
}

std::size_t probe_record_list::first_position_at(std::int64_t utc_seconds) const {
  std::size_t low = 0;
  std::size_t high = size_;
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    if (utc_of(record_at(middle)) < utc_seconds) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

std::size_t probe_record_list::memory_bytes() const {
  std::size_t bytes = sizeof(*this) + blocks_.capacity() * sizeof(blocks_[0]) +
                      blocks_.size() * block_records * sizeof(record) +
                      offsets_.capacity() * sizeof(offset_change);
  for (const auto& checkpoints : checkpoints_) bytes += checkpoints.capacity() * sizeof(std::uint32_t);
  return bytes;
}

const probe_record_list::record& probe_record_list::record_at(std::size_t position) const {
  return blocks_[position / block_records][position % block_records];
}

shown_probe probe_record_list::decoded(const record& r, std::size_t position) const {
  const std::int32_t stored_result = r.channel_and_result & 0x7fff;
  return {channel_of(r), stored_result - 1, {utc_of(r), offset_at(position)}};
}

std::int32_t probe_record_list::offset_at(std::size_t position) const {
  // The last change at or before the position; the list is nearly always one entry long.
  if (offsets_.size() == 1) return offsets_.front().utc_offset_seconds;
  const auto after = std::upper_bound(offsets_.begin(), offsets_.end(), position,
                                      [](std::size_t at, const offset_change& change) {
                                        return at < change.first_position;
                                      });
  return std::prev(after)->utc_offset_seconds;
}

}  // namespace quorvel
