// The latency chart over a week-long run, 604,800 probes a channel: the time from asking for the
// window to its first picture, and a full redraw at zooms from the whole week down to seconds,
// and the reduction alone. Run with QT_QPA_PLATFORM=offscreen.
#include "probe/column_extremes.h"
#include "probe/probe_record.h"
#include "windows/chart_window.h"

#include <QApplication>
#include <QImage>
#include <QWheelEvent>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace quorvel;

namespace {

constexpr int probes_per_channel = 604'800;
constexpr std::int64_t week_start_utc = 1'796'918'400;
constexpr int redraws_per_zoom = 15;

// Mostly quick, an evening of slow answers each day, one probe in 200 lost.
std::int32_t scripted_result(std::uint32_t& state, std::int64_t second) {
  state = state * 1664525u + 1013904223u;
  if ((state >> 8) % 200 == 0) return -1;
  const bool evening = second % 86400 >= 72000 && second % 86400 < 79200;
  return static_cast<std::int32_t>((evening ? 200 : 10) + (state >> 12) % (evening ? 600 : 60));
}

double median_of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// CPU time of this thread: the machine may be shared, and the GUI thread is what must keep up.
class cpu_timer {
public:
  cpu_timer() { restart(); }
  void restart() { start_ = now_ms(); }
  double elapsed_ms() const { return now_ms() - start_; }

private:
  static double now_ms() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
  }
  double start_ = 0.0;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  probe_record_list records;
  std::uint32_t state = 14;
  for (std::int64_t second = 0; second < probes_per_channel; ++second) {
    for (std::size_t channel = 0; channel < probe_channel_count; ++channel) {
      records.add(channel, scripted_result(state, second), {week_start_utc + second, 8 * 3600});
    }
  }
  std::printf("week: %zu probes, %.2f bytes a probe\n", records.size(),
              static_cast<double>(records.memory_bytes()) / static_cast<double>(records.size()));

  QWidget owner;
  owner.show();
  cpu_timer open_timer;
  chart_window* chart = show_chart_window(&owner, {&records, [](std::size_t) { return std::optional<std::int32_t>(500); }});
  QWidget* plot = chart->findChild<QWidget*>(QStringLiteral("chart_plot"));
  QImage picture(plot->size(), QImage::Format_RGB32);
  plot->render(&picture);
  const double open_ms = open_timer.elapsed_ms();
  std::printf("chart opened and drawn (whole week, %dx%d plot) in %.1f ms (target < 200 ms)\n", plot->width(),
              plot->height(), open_ms);

  // Zoomed in a notch at a time around the middle of the plot, each notch 0.8 of the span before.
  double worst_ms = 0.0;
  column_reducer reducer(records);
  for (int notches = 0; notches <= 50; notches += 5) {
    std::vector<double> redraws, reductions, single_passes;
    for (int round = 0; round < redraws_per_zoom; ++round) {
      cpu_timer timer;
      plot->render(&picture);
      redraws.push_back(timer.elapsed_ms());
      timer.restart();
      reducer.reduce(chart->view_span(), plot->width() - 70);
      reductions.push_back(timer.elapsed_ms());
      timer.restart();
      reduce_columns(records, chart->view_span(), plot->width() - 70);
      single_passes.push_back(timer.elapsed_ms());
    }
    const time_span span = chart->view_span();
    const double worst = *std::max_element(redraws.begin(), redraws.end());
    worst_ms = std::max(worst_ms, worst);
    std::printf("span %10.0f s: redraw median %.2f ms, longest %.2f ms; reduction alone %.2f ms "
                "(probe by probe: %.2f ms)\n",
                span.end - span.begin, median_of(redraws), worst, median_of(reductions), median_of(single_passes));
    const QPointF middle(plot->width() / 2.0, plot->height() / 4.0);
    QWheelEvent wheel(middle, plot->mapToGlobal(middle), {}, {0, 5 * 120}, Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot, &wheel);
  }
  std::printf("longest redraw at any zoom: %.2f ms (target < 16 ms)\n", worst_ms);
  return 0;
}
