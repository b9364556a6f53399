// 100,000 episode records made the way a run makes them (through the tracker, one list growing
// record by record): heap bytes per record, time per probe, and the time to turn all records
// into their list lines.
#include "probe/episode_recorder.h"

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

using namespace quorvel;

namespace {

constexpr std::size_t record_count = 100'000;

std::size_t heap_in_use() {
  const struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
}

// Each probe a second later; start texts a second apart, as in a run.
class probe_clock final : public episode_clock {
public:
  long long second = 0;
  std::string time_stamp_now() override {
    char text[32];
    std::snprintf(text, sizeof text, "2026-12-%02lld %02lld:%02lld:%02lld", 1 + second / 86400 % 28,
                  second / 3600 % 24, second / 60 % 60, second % 60);
    return text;
  }
  std::int64_t uptime_now() override { return second * 10'000'000; }
};

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main() {
  probe_clock clock;
  episode_tracker tracker;
  const tracker_settings settings{true, 500, 0};
  const std::size_t heap_before = heap_in_use();
  std::vector<episode_record> records;
  std::size_t probes = 0;
  const auto feeding = std::chrono::steady_clock::now();
  // One slow answer opens an episode, the next good one ends it.
  while (records.size() < record_count) {
    feed_episode_tracker(episode_kind::high_ping, tracker, records, settings, probes % 2 ? 20 : 800, clock);
    ++probes;
    ++clock.second;
  }
  const double feed_seconds = seconds_since(feeding);
  const double bytes_per_record =
      static_cast<double>(heap_in_use() - heap_before) / static_cast<double>(record_count);

  const auto lining = std::chrono::steady_clock::now();
  std::size_t line_bytes = 0;
  for (const episode_record& record : records) line_bytes += record_line(record).size();
  const double line_seconds = seconds_since(lining);

  std::printf("%zu records from %zu probes, %.2f us per probe\n", records.size(), probes,
              feed_seconds / static_cast<double>(probes) * 1e6);
  std::printf("heap per record in the list: %.1f bytes (sizeof episode_record %zu, vector capacity %zu)\n",
              bytes_per_record, sizeof(episode_record), records.capacity());
  std::printf("all %zu record lines (%zu bytes) in %.1f ms\n", records.size(), line_bytes, line_seconds * 1e3);
  return 0;
}
