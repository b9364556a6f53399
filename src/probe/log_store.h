// A probe log's text, held compactly so that a run of days costs little memory.
// Text is appended as to the end of an edit box; "\r\n" breaks lines.
#pragma once

#include "probe/probe_record.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class log_store {
public:
  void clear();
  void append(std::string_view text);
  // A new empty line at the end, as a break would start (on an empty store, its first line).
  void start_new_line();
  // An empty log has no lines; otherwise lines split at each "\r\n" (the text after the last
  // break is the last line, possibly empty).
  std::size_t line_count() const;
  std::string_view line(std::size_t index) const;
  // The whole text with "\n" between lines.
  std::string plain_text() const;
  // Bytes held by the store, for measurements.
  std::size_t memory_bytes() const;

private:
  // Lines lie whole inside fixed-size text chunks, and their starts in fixed-size index blocks,
  // so that growth never copies what is already stored and a line is found in constant time.
  struct line_start {
    std::uint32_t chunk;
    std::uint32_t offset;
  };
  struct text_chunk {
    std::unique_ptr<char[]> bytes;
    std::size_t capacity = 0;
    std::size_t used = 0;
  };
  static constexpr std::size_t chunk_bytes = 64 * 1024;
  static constexpr std::size_t index_block_lines = 8192;

  line_start& start_of(std::size_t index);
  const line_start& start_of(std::size_t index) const;
  void start_line();
  void extend_last_line(std::string_view text);
  void move_last_line_to_new_chunk(std::size_t needed_bytes);
  bool last_line_ends_with_cr() const;
  void drop_last_byte();

  std::vector<text_chunk> chunks_;
  std::vector<std::unique_ptr<line_start[]>> index_blocks_;
  std::size_t line_count_ = 0;
  std::size_t text_bytes_ = 0;
};

// One channel's probe log: its own texts (the start and stop lines) kept as text, and each probe
// line taken from the run's records and written when asked for. Reads as the same text appended
// to an edit box would.
class probe_log {
public:
  explicit probe_log(const probe_record_list* records = nullptr, std::size_t channel = 0)
      : records_(records), channel_(channel) {}
  // The records whose probes of `channel` this log shows; the log starts empty.
  void attach(const probe_record_list& records, std::size_t channel);
  const probe_record_list* records() const { return records_; }
  std::size_t channel() const { return channel_; }

  void clear();
  void append(std::string_view text);
  // The channel's next probe in the records, which must hold it, as the log line
  // "\r\n" + probe_line_text.
  void append_probe();

  std::size_t line_count() const;
  std::string line(std::size_t index) const;
  // The whole text with "\n" between lines.
  std::string plain_text() const;
  // Bytes held by the log itself, the records not included.
  std::size_t memory_bytes() const;

private:
  // Consecutive lines of one kind: lines of `texts_`, or probe lines of the channel.
  struct segment {
    std::size_t first_line;
    std::size_t first_item;
    std::size_t length;
    bool probes;
  };
  const segment* segment_of(std::size_t line) const;
  bool ends_with_probe_line() const { return !segments_.empty() && segments_.back().probes; }
  void begin_text_segment();
  void turn_last_probe_line_into_text();

  const probe_record_list* records_;
  std::size_t channel_;
  log_store texts_;
  std::vector<segment> segments_;
  std::size_t next_probe_ = 0;
};

}  // namespace quorvel
