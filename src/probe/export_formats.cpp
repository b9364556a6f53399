#include "probe/export_formats.h"

#include "text/conversions.h"

#include <algorithm>
#include <numeric>
#include <utility>

namespace quorvel {

namespace {

constexpr std::string_view byte_order_mark = "\xEF\xBB\xBF";
constexpr std::string_view csv_row_end = "\r\n";

struct record_list_kind {
  std::size_t channel;
  const char* kind_name;
};
// In the order of record_list_copies.
constexpr record_list_kind record_list_kinds[] = {
    {0, "高延迟"}, {0, "超时"}, {1, "高延迟"}, {1, "超时"}};

bool needs_quotes(std::string_view field) {
  return field.find_first_of(",\"\r\n") != std::string_view::npos;
}

}  // namespace

void export_format::write_all(std::ostream& out) const {
  write_head(out);
  write_rows(out, 0, row_count());
}

std::string export_file_name(std::string_view what, std::string_view start_stamp,
                             std::string_view extension) {
  std::string digits;
  for (const char c : start_stamp) {
    if (c >= '0' && c <= '9') digits += c;
    if (c == ' ') digits += '-';
  }
  return join_texts({"quorvel-", what, "-", digits, extension});
}

std::string_view channel_name(std::size_t channel) { return channel == 0 ? "网关" : "外网"; }

void write_csv_field(std::ostream& out, std::string_view field) {
  if (!needs_quotes(field)) {
    out << field;
    return;
  }
  out << '"';
  for (const char c : field) {
    if (c == '"') out << '"';
    out << c;
  }
  out << '"';
}

log_text_format::log_text_format(text_lines lines) : lines_(std::move(lines)) {}

std::size_t log_text_format::row_count() const { return lines_.count; }

void log_text_format::write_head(std::ostream&) const {}

void log_text_format::write_rows(std::ostream& out, std::size_t begin, std::size_t end) const {
  for (std::size_t i = begin; i < end; ++i) out << lines_.line(i) << '\n';
}

probe_csv_format::probe_csv_format(probe_rows rows) : rows_(std::move(rows)) {}

std::size_t probe_csv_format::row_count() const { return rows_.count; }

void probe_csv_format::write_head(std::ostream& out) const {
  out << byte_order_mark << "时间,通道,响应时间(ms),超时" << csv_row_end;
}

void probe_csv_format::write_rows(std::ostream& out, std::size_t begin, std::size_t end) const {
  for (std::size_t i = begin; i < end; ++i) {
    const probe_row row = rows_.row(i);
    write_csv_field(out, row.time_stamp);
    out << ',' << channel_name(row.channel) << ',';
    if (row.result >= 0) out << int_to_text(row.result);
    out << (row.result >= 0 ? ",0" : ",1") << csv_row_end;
  }
}

record_csv_format::record_csv_format(record_list_copies lists)
    : lists_(std::move(lists)),
      count_(std::accumulate(lists_.begin(), lists_.end(), std::size_t{0},
                             [](std::size_t sum, const auto& list) { return sum + list.size(); })) {}

std::size_t record_csv_format::row_count() const { return count_; }

void record_csv_format::write_head(std::ostream& out) const {
  out << byte_order_mark << "通道,类型,开始时间,时长(秒)" << csv_row_end;
}

void record_csv_format::write_rows(std::ostream& out, std::size_t begin, std::size_t end) const {
  std::size_t first_of_list = 0;
  for (std::size_t list = 0; list < lists_.size() && first_of_list < end; ++list) {
    const std::vector<episode_record>& records = lists_[list];
    const std::size_t from = std::max(begin, first_of_list) - first_of_list;
    const std::size_t to = std::min(end - first_of_list, records.size());
    for (std::size_t i = from; i < to; ++i) {
      out << channel_name(record_list_kinds[list].channel) << ',' << record_list_kinds[list].kind_name
          << ',';
      write_csv_field(out, records[i].start_text);
      out << ',' << duration_seconds_text(records[i].duration_ms) << csv_row_end;
    }
    first_of_list += records.size();
  }
}

}  // namespace quorvel
