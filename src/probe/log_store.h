// A probe log's text, held compactly so that a run of days costs little memory.
// Text is appended as to the end of an edit box; "\r\n" breaks lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class log_store {
public:
  void clear();
  void append(std::string_view text);
  // An empty log has no lines; otherwise lines split at each "\r\n" (the text after the last
  // break is the last line, possibly empty).
  std::size_t line_count() const;
  std::string_view line(std::size_t index) const;
  // The whole text with "\n" between lines.
  std::string plain_text() const;
  // Bytes held by the store, for measurements.
  std::size_t memory_bytes() const;

private:
  // Private layout is the implementation's business and may change.
  std::string text_;
  std::vector<std::uint64_t> line_starts_;
};

}  // namespace quorvel
