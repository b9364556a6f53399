// A week-long run's exports (604,800 probes per channel): first the bare formats written to a
// file, then each export through its real command (offscreen, file dialog answered) with the
// longest gap the GUI thread's event loop saw while it ran — the gap a probe tick may be late by.
// A failed export prints its message and the run goes on.
#include "app/export_actions.h"
#include "app/log_view.h"
#include "gui_driving.h"
#include "probe/latency_stats.h"
#include "probe/log_store.h"
#include "text/time_stamp.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

using namespace quorvel;

namespace {

constexpr std::size_t probes_per_channel = 604'800;
constexpr std::size_t records_per_list = 25'000;
constexpr double base_day = 46'367.0;  // 2026-12-11 in days since 1899-12-30
constexpr double seconds_per_day = 86'400.0;

std::int32_t scripted_result(std::size_t i) {
  if (i % 97 == 0) return -1;
  return static_cast<std::int32_t>(3 + (i * 7919) % 60);
}

// Both channels' probes of the week, the stamp made from its second on demand.
struct week_rows {
  std::string stamp;
  probe_rows rows() {
    return {2 * probes_per_channel, [this](std::size_t i) {
              stamp = time_stamp_text(base_day + static_cast<double>(i / 2) / seconds_per_day);
              return probe_row{stamp, i % 2, scripted_result(i)};
            }};
  }
};

void fill_log(log_store& log) {
  log.append("开始进行测试...");
  for (std::size_t i = 0; i < probes_per_channel; ++i)
    log.append(log_line(time_stamp_text(base_day + static_cast<double>(i) / seconds_per_day),
                        scripted_result(i)));
  log.append("\r\n停止网络测试。");
}

record_list_copies week_records() {
  record_list_copies lists;
  for (auto& list : lists)
    for (std::size_t i = 0; i < records_per_list; ++i)
      list.push_back({time_stamp_text(base_day + static_cast<double>(i * 20) / seconds_per_day),
                      static_cast<std::int32_t>(1000 + i % 9000)});
  return lists;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void bare_format(const char* name, const export_format& format, const QString& path) {
  const auto start = std::chrono::steady_clock::now();
  std::ofstream out(path.toStdString(), std::ios::binary);
  format.write_all(out);
  out.close();
  std::printf("  %-28s %9zu rows %8.1f MB %6.2f s\n", name, format.row_count(),
              static_cast<double>(QFileInfo(path).size()) / 1e6, seconds_since(start));
}

// Runs `pick` (which opens the file dialog) and waits for the export's end, timing the event
// loop meanwhile.
void through_command(const char* name, export_actions& exports, const QString& path,
                     const std::function<void()>& pick) {
  std::chrono::steady_clock::time_point accepted;
  testing::when_shown<QFileDialog>(QStringLiteral("dlg_export"), [&](QFileDialog* dialog) {
    dialog->selectFile(path);
    accepted = std::chrono::steady_clock::now();
    static_cast<QDialog*>(dialog)->accept();
  });
  double longest_gap_ms = 0;
  auto last_beat = std::chrono::steady_clock::now();
  QTimer beat;
  beat.setTimerType(Qt::PreciseTimer);
  QObject::connect(&beat, &QTimer::timeout, [&] {
    const auto now = std::chrono::steady_clock::now();
    longest_gap_ms = std::max(longest_gap_ms, std::chrono::duration<double, std::milli>(now - last_beat).count());
    last_beat = now;
  });
  bool done = false;
  const auto finished = QObject::connect(&exports, &export_actions::export_finished,
                                         [&](bool) { done = true; });
  testing::when_shown<QMessageBox>(QStringLiteral("msg_export_failed"), [&](QMessageBox* box) {
    std::printf("  FAILED: %s\n", qPrintable(box->text()));
    box->accept();
  });
  pick();
  last_beat = std::chrono::steady_clock::now();
  beat.start(1);
  while (!done) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  beat.stop();
  QObject::disconnect(finished);
  std::printf("  %-28s %8.1f MB %6.2f s, longest event loop gap %5.1f ms\n", name,
              static_cast<double>(QFileInfo(path).size()) / 1e6, seconds_since(accepted),
              longest_gap_ms);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTemporaryDir dir;
  std::printf("A week of both channels: %zu probes each, %zu records per list.\n",
              probes_per_channel, records_per_list);
  log_store gateway_log;
  fill_log(gateway_log);
  const text_lines lines{gateway_log.line_count(),
                         [&gateway_log](std::size_t i) { return gateway_log.line(i); }};
  week_rows rows;
  const record_list_copies records = week_records();

  std::printf("Formats written to a file:\n");
  bare_format("log text (one channel)", log_text_format(lines), dir.filePath("a.txt"));
  bare_format("probe CSV (both channels)", probe_csv_format(rows.rows()), dir.filePath("a.csv"));
  bare_format("record CSV", record_csv_format(records), dir.filePath("r.csv"));

  QWidget window;
  window.resize(400, 300);
  window.show();
  auto* view = new log_view(&window);
  export_sources sources;
  sources.log_lines = [&lines](std::size_t) { return lines; };
  sources.run_start = [] { return std::string("2026-12-11 00:00:00"); };
  export_actions exports(&window, sources);
  exports.set_probe_rows([&rows] { return rows.rows(); });
  exports.add_log_actions(*view, 0);
  std::printf("Through the commands (slices of %d ms, progress after %d ms):\n",
              export_actions::slice_ms, export_actions::progress_after_ms);
  through_command("导出日志… (one channel)", exports, dir.filePath("b.txt"),
                  [&] { testing::pick_context_item(view, QStringLiteral("导出日志…")); });
  through_command("导出数据… (both channels)", exports, dir.filePath("b.csv"),
                  [&] { testing::pick_context_item(view, QStringLiteral("导出数据…")); });
  through_command("导出全部记录…", exports, dir.filePath("c.csv"),
                  [&] { exports.export_records(&window, records); });
  return 0;
}
