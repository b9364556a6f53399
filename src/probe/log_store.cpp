#include "probe/log_store.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

namespace {

constexpr std::string_view line_break = "\r\n";

}  // namespace

void log_store::clear() {
  std::vector<text_chunk>().swap(chunks_);
  std::vector<std::unique_ptr<line_start[]>>().swap(index_blocks_);
  line_count_ = 0;
  text_bytes_ = 0;
}

void log_store::append(std::string_view text) {
  if (text.empty()) return;
  if (line_count_ == 0) start_line();
  // A break may arrive split over two appends.
  if (text.front() == '\n' && last_line_ends_with_cr()) {
    drop_last_byte();
    text.remove_prefix(1);
    start_line();
  }
  for (auto at = text.find(line_break); at != std::string_view::npos; at = text.find(line_break)) {
    extend_last_line(text.substr(0, at));
    start_line();
    text.remove_prefix(at + line_break.size());
  }
  extend_last_line(text);
}

void log_store::start_new_line() { start_line(); }

std::size_t log_store::line_count() const { return line_count_; }

std::string_view log_store::line(std::size_t index) const {
  if (index >= line_count_) return {};
  const line_start& start = start_of(index);
  const text_chunk& chunk = chunks_[start.chunk];
  std::size_t end = chunk.used;
  if (index + 1 < line_count_) {
    const line_start& next = start_of(index + 1);
    if (next.chunk == start.chunk) end = next.offset;
  }
  return {chunk.bytes.get() + start.offset, end - start.offset};
}

std::string log_store::plain_text() const {
  std::string text;
  if (line_count_ == 0) return text;
  text.reserve(text_bytes_ + line_count_ - 1);
  for (std::size_t index = 0; index < line_count_; ++index) {
    if (index > 0) text += '\n';
    text += line(index);
  }
  return text;
}

std::size_t log_store::memory_bytes() const {
  std::size_t bytes = sizeof(*this) + chunks_.capacity() * sizeof(text_chunk) +
                      index_blocks_.capacity() * sizeof(index_blocks_[0]) +
                      index_blocks_.size() * index_block_lines * sizeof(line_start);
  for (const text_chunk& chunk : chunks_) bytes += chunk.capacity;
  return bytes;
}

log_store::line_start& log_store::start_of(std::size_t index) {
  return index_blocks_[index / index_block_lines][index % index_block_lines];
}

const log_store::line_start& log_store::start_of(std::size_t index) const {
  return index_blocks_[index / index_block_lines][index % index_block_lines];
}

void log_store::start_line() {
  if (line_count_ % index_block_lines == 0) {
    index_blocks_.push_back(std::make_unique_for_overwrite<line_start[]>(index_block_lines));
  }
  if (chunks_.empty()) {
    chunks_.push_back({std::make_unique_for_overwrite<char[]>(chunk_bytes), chunk_bytes, 0});
  }
  const auto chunk = static_cast<std::uint32_t>(chunks_.size() - 1);
  start_of(line_count_) = {chunk, static_cast<std::uint32_t>(chunks_.back().used)};
  ++line_count_;
}

void log_store::extend_last_line(std::string_view text) {
  if (text.empty()) return;
  if (chunks_.back().capacity - chunks_.back().used < text.size()) {
    move_last_line_to_new_chunk(text.size());
  }
  text_chunk& chunk = chunks_.back();
  std::memcpy(chunk.bytes.get() + chunk.used, text.data(), text.size());
  chunk.used += text.size();
  text_bytes_ += text.size();
}

// The last line always ends its chunk; it moves whole, so that every line stays in one piece.
void log_store::move_last_line_to_new_chunk(std::size_t needed_bytes) {
  line_start& start = start_of(line_count_ - 1);
  text_chunk& old_chunk = chunks_.back();
  const std::size_t kept = old_chunk.used - start.offset;
  const std::size_t wanted = kept + needed_bytes;
  // An overlong line doubles its room, so that growing it by small appends stays cheap.
  const std::size_t capacity = wanted <= chunk_bytes ? chunk_bytes : 2 * wanted;
  text_chunk fresh{std::make_unique_for_overwrite<char[]>(capacity), capacity, kept};
  std::memcpy(fresh.bytes.get(), old_chunk.bytes.get() + start.offset, kept);
  old_chunk.used = start.offset;
  chunks_.push_back(std::move(fresh));
  start = {static_cast<std::uint32_t>(chunks_.size() - 1), 0};
}

bool log_store::last_line_ends_with_cr() const {
  const std::string_view last = line(line_count_ - 1);
  return !last.empty() && last.back() == '\r';
}

void log_store::drop_last_byte() {
  chunks_.back().used -= 1;
  text_bytes_ -= 1;
}

void probe_log::attach(const probe_record_list& records, std::size_t channel) {
  records_ = &records;
  channel_ = channel;
  clear();
}

void probe_log::clear() {
  texts_.clear();
  std::vector<segment>().swap(segments_);
  next_probe_ = 0;
}

void probe_log::append(std::string_view text) {
  if (text.empty()) return;
  if (segments_.empty()) {
    begin_text_segment();
  } else if (ends_with_probe_line()) {
    if (text.starts_with(line_break)) {
      text.remove_prefix(line_break.size());
      begin_text_segment();
    } else {
      turn_last_probe_line_into_text();  // the text goes on in the same line
    }
  }
  texts_.append(text);
  segments_.back().length = texts_.line_count() - segments_.back().first_item;
}

void probe_log::append_probe() {
  // The probe's line starts with a break, so a log that was empty gets an empty first line.
  if (segments_.empty()) begin_text_segment();
  if (ends_with_probe_line()) {
    ++segments_.back().length;
  } else {
    segments_.push_back({line_count(), next_probe_, 1, true});
  }
  ++next_probe_;
}

std::size_t probe_log::line_count() const {
  return segments_.empty() ? 0 : segments_.back().first_line + segments_.back().length;
}

std::string probe_log::line(std::size_t index) const {
  const segment* holder = segment_of(index);
  if (!holder) return {};
  const std::size_t item = holder->first_item + (index - holder->first_line);
  if (!holder->probes) return std::string(texts_.line(item));
  const shown_probe probe = records_->of_channel(channel_, item);
  return probe_line_text(probe.time, probe.result);
}

std::string probe_log::plain_text() const {
  constexpr std::size_t usual_line_bytes = 44;  // a probe line with its break
  std::string text;
  text.reserve(line_count() * usual_line_bytes);
  for (const segment& part : segments_) {
    if (part.probes) {
      std::size_t left = part.length;
      records_->for_each_of_channel(channel_, part.first_item, [&](const shown_probe& probe) {
        text += '\n';  // a probe line is never the first
        append_probe_line_text(text, probe.time, probe.result);
        return --left > 0;
      });
      continue;
    }
    for (std::size_t line = 0; line < part.length; ++line) {
      if (part.first_line + line > 0) text += '\n';
      text += texts_.line(part.first_item + line);
    }
  }
  return text;
}

std::size_t probe_log::memory_bytes() const {
  return sizeof(*this) + texts_.memory_bytes() + segments_.capacity() * sizeof(segment);
}

const probe_log::segment* probe_log::segment_of(std::size_t line) const {
  if (line >= line_count()) return nullptr;
  const auto after = std::upper_bound(segments_.begin(), segments_.end(), line,
                                      [](std::size_t at, const segment& part) { return at < part.first_line; });
  return &*std::prev(after);
}

void probe_log::begin_text_segment() {
  segments_.push_back({line_count(), texts_.line_count(), 1, false});
  texts_.start_new_line();
}

void probe_log::turn_last_probe_line_into_text() {
  segment& last = segments_.back();
  const shown_probe probe = records_->of_channel(channel_, last.first_item + last.length - 1);
  if (--last.length == 0) segments_.pop_back();
  begin_text_segment();
  texts_.append(probe_line_text(probe.time, probe.result));
}

}  // namespace quorvel
