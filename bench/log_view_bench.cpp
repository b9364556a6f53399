// A week of probe lines appended to a shown log view, as the program does: each probe's record
// into the run's list, and the view told of it; CPU per append at the start and at the end,
// heap per line, and the time of a full repaint, which must not grow with the log.
// Run with QT_QPA_PLATFORM=offscreen.
#include "app/log_view.h"
#include "probe/probe_record.h"

#include <QApplication>
#include <QFont>

#include <malloc.h>

#include <cstdio>
#include <ctime>
#include <string>

using namespace quorvel;

namespace {

constexpr int lines_in_a_week = 604'800;
constexpr int sample_lines = 10'000;
// Events are handled about once a second in the program; here after every so many lines.
constexpr int lines_between_event_rounds = 100;

double cpu_seconds() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

std::size_t heap_in_use() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

constexpr std::int64_t week_start_utc = 1'796'918'400;  // 2026-12-11 00:00:00 in Beijing

void append_probe(probe_record_list& records, log_view& view, int index) {
  records.add(0, 5 + index * 7 % 400, {week_start_utc + index, 8 * 3600});
  view.append_probe();
}

double repaint_ms(log_view& view) {
  const double start = cpu_seconds();
  view.viewport()->repaint();
  return (cpu_seconds() - start) * 1e3;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  log_view view;
  probe_record_list records;
  view.attach_records(records, 0);
  QFont font("WenQuanYi Micro Hei");
  font.setPixelSize(14);
  view.setFont(font);
  view.resize(495, 350);
  view.show();
  QApplication::processEvents();

  const std::size_t heap_before = heap_in_use();
  view.append("开始进行测试...");
  double sample_start = 0.0;
  double first_sample = 0.0;
  double last_sample = 0.0;
  double first_repaint = 0.0;
  for (int index = 0; index < lines_in_a_week; ++index) {
    if (index == 0 || index == lines_in_a_week - sample_lines) sample_start = cpu_seconds();
    append_probe(records, view, index);
    if (index % lines_between_event_rounds == 0) QApplication::processEvents();
    if (index == sample_lines - 1) first_sample = cpu_seconds() - sample_start;
    if (index == lines_in_a_week - 1) last_sample = cpu_seconds() - sample_start;
    if (index == sample_lines) first_repaint = repaint_ms(view);
  }
  QApplication::processEvents();
  const double heap_per_line =
      static_cast<double>(heap_in_use() - heap_before) / static_cast<double>(view.store().line_count());

  std::printf("log view, %d lines appended\n", lines_in_a_week);
  std::printf("CPU per append incl. repaints, first %d lines: %.2f us\n", sample_lines,
              first_sample / sample_lines * 1e6);
  std::printf("CPU per append incl. repaints, last %d lines:  %.2f us\n", sample_lines,
              last_sample / sample_lines * 1e6);
  std::printf("heap per line: %.1f bytes (own account of the records and the log %.1f)\n", heap_per_line,
              static_cast<double>(view.store().memory_bytes() + records.memory_bytes()) /
                  static_cast<double>(view.store().line_count()));
  std::printf("full repaint after %d lines: %.2f ms, after a week: %.2f ms\n", sample_lines, first_repaint,
              repaint_ms(view));
  // As in a run: each line followed by its repaint.
  constexpr int tick_lines = 1000;
  const double ticks_start = cpu_seconds();
  for (int index = 0; index < tick_lines; ++index) {
    append_probe(records, view, lines_in_a_week + index);
    view.viewport()->repaint();
  }
  std::printf("append plus repaint, after a week: %.1f us\n", (cpu_seconds() - ticks_start) / tick_lines * 1e6);
  return 0;
}
