// What the export commands write: a probe log as text, a run's probes and its episode records as
// CSV (RFC 4180 with CRLF row ends, UTF-8 behind a byte order mark so that spreadsheet programs
// in a Chinese locale read the text right). Each format writes its head once and then any range
// of its rows, so that a long export can be written a slice at a time.
#pragma once

#include "probe/episode_recorder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class export_format {
public:
  virtual ~export_format() = default;
  virtual std::size_t row_count() const = 0;
  virtual void write_head(std::ostream& out) const = 0;
  virtual void write_rows(std::ostream& out, std::size_t begin, std::size_t end) const = 0;
  void write_all(std::ostream& out) const;
};

// A log's lines as shown; the text returned for a line stays valid until the next call.
struct text_lines {
  std::size_t count = 0;
  std::function<std::string_view(std::size_t index)> line;
};

// Each line followed by "\n"; no byte order mark.
class log_text_format : public export_format {
public:
  explicit log_text_format(text_lines lines);
  std::size_t row_count() const override;
  void write_head(std::ostream& out) const override;
  void write_rows(std::ostream& out, std::size_t begin, std::size_t end) const override;

private:
  text_lines lines_;
};

// One probe of a run: its log time stamp, its channel (0 gateway, 1 external) and its result in
// milliseconds, -1 for no answer.
struct probe_row {
  std::string_view time_stamp;
  std::size_t channel = 0;
  std::int32_t result = -1;
};

// Both channels' probes of a run in the order they were shown; the time stamp of a row stays
// valid until the next call.
struct probe_rows {
  std::size_t count = 0;
  std::function<probe_row(std::size_t index)> row;
};

// 时间,通道,响应时间(ms),超时 then e.g. "2026-12-11 10:25:05,外网,,1".
class probe_csv_format : public export_format {
public:
  explicit probe_csv_format(probe_rows rows);
  std::size_t row_count() const override;
  void write_head(std::ostream& out) const override;
  void write_rows(std::ostream& out, std::size_t begin, std::size_t end) const override;

private:
  probe_rows rows_;
};

// The four record lists: gateway high ping, gateway timeout, external high ping, external timeout.
using record_list_copies = std::array<std::vector<episode_record>, 4>;

// 通道,类型,开始时间,时长(秒), the lists in their order, each oldest first.
class record_csv_format : public export_format {
public:
  explicit record_csv_format(record_list_copies lists);
  std::size_t row_count() const override;
  void write_head(std::ostream& out) const override;
  void write_rows(std::ostream& out, std::size_t begin, std::size_t end) const override;

private:
  record_list_copies lists_;
  std::size_t count_ = 0;
};

// "quorvel-" + what + "-" + the run's start as yyyyMMdd-HHmmss + extension, from the start's time
// stamp text: ("数据", "2026-12-11 10:25:05", ".csv") gives "quorvel-数据-20261211-102505.csv".
std::string export_file_name(std::string_view what, std::string_view start_stamp,
                             std::string_view extension);

// "网关" or "外网".
std::string_view channel_name(std::size_t channel);

// A CSV field as RFC 4180 writes it: quoted (quotes doubled) when it holds a comma, a quote, CR
// or LF, else as it is.
void write_csv_field(std::ostream& out, std::string_view field);

}  // namespace quorvel
