// How long the record list window takes to open on a long episode list, and what a record costs:
// in the episode list itself and as a line of the window's list box.
// Run on any platform, e.g. QT_QPA_PLATFORM=offscreen build/bench/records_window_bench
#include "probe/episode_recorder.h"
#include "windows/record_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QWidget>

#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr std::size_t record_count = 100'000;
constexpr int rounds = 5;

std::size_t heap_in_use() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Distinct start times a second apart, as no two episodes of one list start in the same second.
std::vector<quorvel::episode_record> make_records() {
  std::vector<quorvel::episode_record> records;
  for (std::size_t i = 0; i < record_count; ++i) {
    const int day = 1 + static_cast<int>(i / 86400) % 28;
    const int second = static_cast<int>(i % 86400);
    char text[32];
    std::snprintf(text, sizeof text, "2024-03-%02d %02d:%02d:%02d", day, second / 3600,
                  second / 60 % 60, second % 60);
    records.push_back({text, static_cast<std::int32_t>(500 + i % 60000)});
  }
  return records;
}

struct round_figures {
  double open_ms = 0;       // show_record_window: build, fill and show
  double painted_ms = 0;    // ... and the first paint
  double window_bytes = 0;  // heap taken by the open window, per record
};

round_figures open_once(QWidget& owner, const quorvel::record_lists& lists) {
  round_figures figures;
  const std::size_t heap_before = heap_in_use();
  QElapsedTimer clock;
  clock.start();
  QWidget* window = quorvel::show_record_window(&owner, lists);
  figures.open_ms = clock.nsecsElapsed() / 1e6;
  QCoreApplication::processEvents();
  window->repaint();
  figures.painted_ms = clock.nsecsElapsed() / 1e6;
  figures.window_bytes = double(heap_in_use() - heap_before) / record_count;
  const int lines = window->findChild<QListWidget*>("list_wg_ping")->count();
  if (lines != static_cast<int>(record_count)) std::fprintf(stderr, "only %d lines shown\n", lines);
  delete window;
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget owner;
  owner.setObjectName("win_main");
  owner.show();

  const std::size_t heap_before_list = heap_in_use();
  const std::vector<quorvel::episode_record> records = make_records();
  const double list_bytes = double(heap_in_use() - heap_before_list) / record_count;
  const std::vector<quorvel::episode_record> none;
  const quorvel::record_lists lists{&records, &none, &none, &none};

  std::vector<round_figures> all;
  for (int i = 0; i < rounds; ++i) all.push_back(open_once(owner, lists));
  auto median = [&](double round_figures::*field) {
    std::vector<double> values;
    for (const round_figures& figures : all) values.push_back(figures.*field);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  std::printf("records in one list:              %zu (platform %s)\n", record_count,
              qPrintable(QGuiApplication::platformName()));
  std::printf("episode list, bytes per record:   %.1f\n", list_bytes);
  std::printf("open the window (median of %d):   %.1f ms\n", rounds, median(&round_figures::open_ms));
  std::printf("open and first paint (median):    %.1f ms\n", median(&round_figures::painted_ms));
  std::printf("window's list box, bytes per line: %.1f\n", median(&round_figures::window_bytes));
  return 0;
}
