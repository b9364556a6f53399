// A simulated week of both channels without any network: per tick the statistics, the summary,
// the caption, the episode trackers and the log line, as a channel's tick makes them.
// The probe lines are kept as the program keeps them: one record per probe in the run's list, each
// channel's log showing its probes from there. Prints the CPU cost of a tick at the start and at
// the end, the memory per log line and the process's resident memory, beside the figures of the
// logs that held every line as text.
#include "probe/episode_recorder.h"
#include "probe/latency_stats.h"
#include "probe/log_store.h"
#include "probe/probe_record.h"
#include "text/time_stamp.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <numeric>
#include <span>
#include <string>
#include <vector>

using namespace quorvel;

namespace {

constexpr int ticks_per_channel = 604'800;  // one a second for a week
constexpr int sample_ticks = 10'000;
constexpr int block_ticks = 1'000;
constexpr double seconds_per_day = 86'400.0;
constexpr std::int64_t week_start_utc = 1'796'918'400;  // 2026-12-11 00:00:00 in Beijing
constexpr std::int32_t beijing_offset_s = 8 * 3600;
// The same week when each log held its lines as text.
constexpr double text_log_bytes_per_line = 50.6;
constexpr double text_log_rss_mib = 74.4;

double cpu_seconds(clockid_t clock) {
  timespec now{};
  clock_gettime(clock, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
double process_cpu_seconds() { return cpu_seconds(CLOCK_PROCESS_CPUTIME_ID); }
// Per tick, so that a longest tick shows a reallocation spike rather than the scheduler.
double thread_cpu_seconds() { return cpu_seconds(CLOCK_THREAD_CPUTIME_ID); }

long status_kib(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string name;
  long value = 0;
  while (status >> name) {
    if (name == field + ":") {
      status >> value;
      return value;
    }
    status.ignore(4096, '\n');
  }
  return -1;
}

// Results across every class, timeouts and episodes included, in a fixed pseudo-random order.
class scripted_results {
public:
  explicit scripted_results(std::uint32_t seed) : state_(seed) {}
  std::int32_t next() {
    static constexpr std::array<std::int32_t, 16> results{
        3, 12, 20, 25, 41, 79, 80, 81, 150, 230, 390, 550, 700, 1200, -1, 18};
    state_ = state_ * 1664525u + 1013904223u;
    return results[(state_ >> 16) % results.size()];
  }

private:
  std::uint32_t state_;
};

// Time moves one probe period per tick, so that episodes get real durations.
class simulated_clock final : public episode_clock {
public:
  double date_time = 0.0;
  std::int64_t uptime = 0;
  std::int64_t utc_seconds = week_start_utc;
  std::string time_stamp_now() override { return time_stamp_text(date_time); }
  std::int64_t uptime_now() override { return uptime; }
};

struct channel {
  channel(const char* channel_name, const char* caption_prefix, std::uint32_t seed,
          const probe_record_list& records, std::size_t index)
      : name(channel_name), prefix(caption_prefix), index(index), results(seed), log(&records, index) {}
  const char* name;
  const char* prefix;
  std::size_t index;
  scripted_results results;
  latency_stats stats;
  episode_tracker high_ping, timeout;
  std::vector<episode_record> high_ping_records, timeout_records;
  probe_log log;
  std::size_t text_bytes = 0;  // what the widgets would be handed, to keep the work observable
};

void tick(channel& channel, probe_record_list& records, simulated_clock& clock) {
  const std::int32_t result = channel.results.next();
  add_probe_result(channel.stats, result);
  const tracker_settings high_ping_settings{true, high_ping_threshold_from_text("500"), 2};
  const tracker_settings timeout_settings{true, 500, 1};
  feed_episode_tracker(episode_kind::high_ping, channel.high_ping, channel.high_ping_records,
                       high_ping_settings, result, clock);
  feed_episode_tracker(episode_kind::timeout, channel.timeout, channel.timeout_records,
                       timeout_settings, result, clock);
  channel.text_bytes += summary_text(channel.stats).size();
  channel.text_bytes += mean_caption(channel.prefix, channel.stats).size();
  records.add(channel.index, result, {clock.utc_seconds, beijing_offset_s});
  channel.log.append_probe();
}

struct sample_figures {
  double mean_us;
  double median_us;
};

// Per channel tick: each block holds block_ticks ticks of both channels.
sample_figures figures_of(std::span<const double> blocks) {
  std::vector<double> sorted(blocks.begin(), blocks.end());
  std::sort(sorted.begin(), sorted.end());
  const double per_block_to_us = 1e6 / (2.0 * block_ticks);
  const double sum = std::accumulate(sorted.begin(), sorted.end(), 0.0);
  return {sum / static_cast<double>(sorted.size()) * per_block_to_us, sorted[sorted.size() / 2] * per_block_to_us};
}

}  // namespace

int main() {
  probe_record_list records;
  std::array<channel, 2> channels{channel("gateway", "网关测试结果   平均速度：", 1, records, 0),
                                  channel("external", "外网测试结果   平均速度：", 2, records, 1)};
  simulated_clock clock;
  clock.date_time = 46'367.0;  // 2026-12-11 00:00:00
  for (channel& channel : channels) channel.log.append("开始进行测试...");

  // CPU time of each block of ticks; a sample is the first or last ten blocks. The median of a
  // sample resists the other work on a shared machine, the mean is given beside it.
  std::vector<double> block_seconds;
  double block_start = process_cpu_seconds();
  double longest_tick = 0.0;
  const double run_start = process_cpu_seconds();
  for (int second = 0; second < ticks_per_channel; ++second) {
    const double tick_start = thread_cpu_seconds();
    for (channel& channel : channels) tick(channel, records, clock);
    longest_tick = std::max(longest_tick, thread_cpu_seconds() - tick_start);
    if ((second + 1) % block_ticks == 0) {
      const double now = process_cpu_seconds();
      block_seconds.push_back(now - block_start);
      block_start = now;
    }
    clock.date_time += 1.0 / seconds_per_day;
    clock.uptime += 10'000'000;
    ++clock.utc_seconds;
  }
  const double run_cpu = process_cpu_seconds() - run_start;

  constexpr std::size_t sample_blocks = sample_ticks / block_ticks;
  const sample_figures start = figures_of({block_seconds.begin(), sample_blocks});
  const sample_figures end = figures_of({block_seconds.end() - sample_blocks, sample_blocks});
  std::printf("simulated week: %d ticks per channel, 2 channels\n", ticks_per_channel);
  std::printf("CPU per channel tick, first %d ticks: mean %.2f us, median of blocks %.2f us\n", sample_ticks,
              start.mean_us, start.median_us);
  std::printf("CPU per channel tick, last %d ticks:  mean %.2f us, median of blocks %.2f us\n", sample_ticks,
              end.mean_us, end.median_us);
  std::printf("end / start: mean %.2f, median %.2f\n", end.mean_us / start.mean_us,
              end.median_us / start.median_us);
  std::printf("CPU per channel tick over the week: %.2f us\n", run_cpu / (2.0 * ticks_per_channel) * 1e6);
  std::printf("longest tick of both channels (CPU): %.1f us\n", longest_tick * 1e6);
  std::size_t all_lines = 0;
  std::size_t log_bytes = records.memory_bytes();
  for (const channel& channel : channels) {
    const auto lines = channel.log.line_count();
    all_lines += lines;
    log_bytes += channel.log.memory_bytes();
    std::printf("%s log: %zu lines, %zu bytes of its own; %zu high-ping, %zu timeout records\n", channel.name,
                lines, channel.log.memory_bytes(), channel.high_ping_records.size(),
                channel.timeout_records.size());
  }
  std::printf("probe records: %zu probes, %zu bytes, %.2f bytes a probe (slack included)\n", records.size(),
              records.memory_bytes(), static_cast<double>(records.memory_bytes()) / static_cast<double>(records.size()));
  std::printf("bytes per log line (records and both logs): %.2f   (text logs: %.1f)\n",
              static_cast<double>(log_bytes) / static_cast<double>(all_lines), text_log_bytes_per_line);
  std::printf("process RSS at the end: %.1f MiB (peak %.1f MiB)   (text logs: %.1f MiB)\n",
              status_kib("VmRSS") / 1024.0, status_kib("VmHWM") / 1024.0, text_log_rss_mib);
  const double text_start = process_cpu_seconds();
  const std::size_t whole_log = channels[0].log.plain_text().size();
  std::printf("whole text of one log (%zu bytes) in %.1f ms\n", whole_log,
              (process_cpu_seconds() - text_start) * 1e3);
  std::printf("(texts handed to the widgets: %zu bytes)\n", channels[0].text_bytes + channels[1].text_bytes);
  return 0;
}
