// One probe channel's timer-driven cycle: tick, probe off the GUI thread, figures, log, wind-down.
#pragma once

#include "probe/episode_alerts.h"
#include "probe/latency_stats.h"
#include "probe/probe_channel.h"
#include "probe/probe_record.h"
#include "probe/prober.h"

#include <QObject>
#include <QTimer>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quorvel {

// What one channel's tick writes to and reads from the windows, in tick order. The main window
// implements it with its controls; tests implement it with plain records.
class channel_view {
public:
  virtual ~channel_view() = default;
  virtual void show_class_count(int latency_class, std::int32_t count) = 0;
  virtual void show_float_result(std::int32_t result, int latency_level) = 0;  // no-op if closed
  virtual tracker_settings read_tracker_settings(episode_kind kind) = 0;
  virtual void enable_records_button(episode_kind kind) = 0;
  virtual void show_summary(const std::string& text) = 0;
  virtual void show_caption(const std::string& text) = 0;
  virtual void append_log(const std::string& text) = 0;
  // The probe's log line; a view that keeps probe records takes the result and time instead.
  virtual void append_probe(std::int32_t result, const probe_time& time) {
    append_log(log_line(probe_time_stamp(time), result));
  }
  virtual void close_float() = 0;  // the channel winds down after a stop
};

// What one tick found, for those who watch the channel (alerts, tray icon).
struct tick_outcome {
  std::int32_t result = -1;
  int latency_level = 0;
  std::array<episode_step, 2> episodes;  // high ping, then timeout
};

// The timer (objectName `时钟_wg` / `时钟_ww`, precise, stopped until arm()) and the tick of one
// channel. All program state stays on the GUI thread; only the probe runs elsewhere.
class probe_cycle : public QObject {
  Q_OBJECT
public:
  probe_cycle(probe_channel& channel, channel_view& view, std::string caption_prefix,
              const bool& test_running, probe_function prober, QObject* parent = nullptr);
  ~probe_cycle() override;  // abandons a probe under way at once; no late result is handled

  QTimer& timer();
  // The clock that times episodes; system_episode_clock() unless set. Must outlive the cycle.
  void set_episode_clock(episode_clock& clock);
  // Called at the end of each tick's figures, after its log line.
  void set_tick_observer(std::function<void(const tick_outcome&)> observer);
  // The start button: first tick 1000 ms from now. During a tick it does nothing: the tick's end
  // re-arms the timer while a run is on.
  void arm();
  bool busy() const;    // a tick is under way
  bool stopped() const; // timer stopped and no tick under way

signals:
  void tick_finished();  // after the tick's last step (and the re-arm or the wind-down)
  void wound_down();     // after the stop text was appended

private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

}  // namespace quorvel
