#include "app/probe_cycle.h"

#include "probe/latency_stats.h"
#include "probe/uptime_clock.h"

#include <QMetaObject>
#include <QPointer>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace quorvel {

namespace {

constexpr int probe_timeout_ms = 5000;
constexpr int rearm_ms = 1000;
// A probe honours its cancel within microseconds; one that does not is left to finish alone.
constexpr std::chrono::milliseconds abandon_wait{100};
constexpr const char* stop_text = "\r\n停止网络测试。";
constexpr episode_kind episode_kinds[] = {episode_kind::high_ping, episode_kind::timeout};
constexpr std::int64_t uptime_units_per_ms = 10000;

// What a probe thread hands back: the result and how long the probe call took.
struct probe_outcome {
  std::int32_t result = -1;
  std::int32_t took_ms = 0;  // whole milliseconds on the uptime clock, truncated
};

// What one probe thread shares with its cycle. The cycle may go away while the probe runs: it then
// clears `receiver` under the mutex, and the thread hands its result to nobody.
struct probe_handoff {
  probe_cancel cancel;
  std::mutex mutex;
  std::condition_variable done_signal;
  QObject* receiver = nullptr;  // guarded by mutex
  bool done = false;            // guarded by mutex
};

std::int32_t run_prober(const probe_function& prober, const std::string& host,
                        const probe_cancel& cancel) {
  try {
    return prober(host, probe_timeout_ms, cancel);
  } catch (...) {
    return -1;  // a probe that fails in any way is no answer
  }
}

// Timed here, name resolution included: a timeout episode opened by an early -1 (an error
// report, a name that did not resolve) lasted only this long, not the whole timeout.
probe_outcome timed_probe(const probe_function& prober, const std::string& host,
                          const probe_cancel& cancel) {
  const std::int64_t before = read_uptime();
  const std::int32_t result = run_prober(prober, host, cancel);
  return {result, static_cast<std::int32_t>((read_uptime() - before) / uptime_units_per_ms)};
}

}  // namespace

struct probe_cycle::impl {
  impl(probe_cycle& owner, probe_channel& channel, channel_view& view, std::string caption_prefix,
       const bool& test_running, probe_function prober)
      : owner(owner), channel(channel), view(view), caption_prefix(std::move(caption_prefix)),
        test_running(test_running), prober(std::move(prober)) {
    timer.setParent(&owner);
    timer.setTimerType(Qt::PreciseTimer);
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &owner, [this] { on_timer(); });
  }

  probe_cycle& owner;
  probe_channel& channel;
  channel_view& view;
  const std::string caption_prefix;
  const bool& test_running;
  const probe_function prober;
  episode_clock* clock = &system_episode_clock();
  std::function<void(const tick_outcome&)> tick_observer;
  QTimer timer;
  bool in_tick = false;
  // test_running when this tick's probe started: a stop during the probe leaves one fresh probe
  // to come, as when the click could only be handled after the tick.
  bool running_at_probe_start = false;
  std::shared_ptr<probe_handoff> handoff;  // set while a probe runs
  std::thread worker;

  void on_timer() {
    timer.stop();
    in_tick = true;
    running_at_probe_start = test_running;
    if (channel.stats_reset_pending) {
      channel.stats = latency_stats{};
      channel.stats_reset_pending = false;
    }
    start_probe();
  }

  void start_probe() {
    handoff = std::make_shared<probe_handoff>();
    handoff->receiver = &owner;
    try {
      worker = std::thread(probe_thread, handoff, channel.target_host, prober, this);
    } catch (const std::system_error&) {
      // No thread to probe with: the tick still runs, as a probe without an answer.
      QMetaObject::invokeMethod(&owner, [this, h = handoff] { on_result(h, probe_outcome{}); },
                                Qt::QueuedConnection);
    }
  }

  // Runs off the GUI thread with copies of everything it reads; `self` is only passed back.
  static void probe_thread(std::shared_ptr<probe_handoff> h, std::string host,
                           probe_function prober, impl* self) {
    const probe_outcome outcome = timed_probe(prober, host, h->cancel);
    std::lock_guard lock(h->mutex);
    if (h->receiver) {
      // Queued to the receiver: a call still queued when the receiver is destroyed is dropped.
      QMetaObject::invokeMethod(h->receiver, [self, h, outcome] { self->on_result(h, outcome); },
                                Qt::QueuedConnection);
    }
    h->done = true;
    h->done_signal.notify_all();
  }

  void on_result(const std::shared_ptr<probe_handoff>& from, probe_outcome outcome) {
    if (from != handoff) return;
    if (worker.joinable()) worker.join();  // the thread has only its last lines left to run
    handoff.reset();
    show_result(outcome);
    end_tick();
  }

  void show_result(probe_outcome probe) {
    const std::int32_t result = probe.result;
    const int latency_class = add_probe_result(channel.stats, result);
    view.show_class_count(latency_class, channel.stats.class_counts[latency_class]);
    tick_outcome outcome{result, latency_level_of_class(latency_class), {}};
    view.show_float_result(result, outcome.latency_level);
    const std::string summary = summary_text(channel.stats);
    record_episodes(probe, outcome.episodes);
    view.show_summary(summary);
    view.show_caption(mean_caption(caption_prefix, channel.stats));
    view.append_probe(result, probe_time_now());
    if (tick_observer) tick_observer(outcome);
  }

  void record_episodes(probe_outcome probe, std::array<episode_step, 2>& steps) {
    for (std::size_t i = 0; i < steps.size(); ++i) {
      const episode_kind kind = episode_kinds[i];
      episode_step& step = steps[i];
      step = {kind, view.read_tracker_settings(kind), probe.result, channel.tracker(kind).is_open,
              &channel.tracker(kind), nullptr};
      if (feed_episode_tracker(kind, channel.tracker(kind), channel.records(kind), step.settings,
                               probe.result, *clock, probe.took_ms)) {
        step.recorded = &channel.records(kind).back();
        view.enable_records_button(kind);
      }
    }
  }

  void end_tick() {
    const QPointer<probe_cycle> alive(&owner);  // a slot may destroy the cycle
    // Also re-armed when a new run began during a probe made after a stop: the tick is the new
    // run's.
    if (running_at_probe_start || test_running) {
      timer.start(rearm_ms);
      in_tick = false;
    } else {
      wind_down();
    }
    if (alive) emit owner.tick_finished();
  }

  void wind_down() {
    view.close_float();
    view.append_log(stop_text);
    in_tick = false;
    emit owner.wound_down();
  }

  // Cancels a probe under way and lets it go without waiting for its timeout.
  void abandon_probe() {
    if (!handoff) return;
    handoff->cancel.cancel();
    std::unique_lock lock(handoff->mutex);
    handoff->receiver = nullptr;
    const bool finished = handoff->done_signal.wait_for(lock, abandon_wait,
                                                        [this] { return handoff->done; });
    lock.unlock();
    if (!worker.joinable()) return;
    if (finished) {
      worker.join();
    } else {
      worker.detach();  // it holds its own copies and hands its result to nobody
    }
  }
};

probe_cycle::probe_cycle(probe_channel& channel, channel_view& view, std::string caption_prefix,
                         const bool& test_running, probe_function prober, QObject* parent)
    : QObject(parent),
      impl_(std::make_unique<impl>(*this, channel, view, std::move(caption_prefix), test_running,
                                   std::move(prober))) {}

probe_cycle::~probe_cycle() { impl_->abandon_probe(); }

QTimer& probe_cycle::timer() { return impl_->timer; }

void probe_cycle::set_episode_clock(episode_clock& clock) { impl_->clock = &clock; }

void probe_cycle::set_tick_observer(std::function<void(const tick_outcome&)> observer) {
  impl_->tick_observer = std::move(observer);
}

void probe_cycle::arm() {
  if (!impl_->in_tick) impl_->timer.start(rearm_ms);
}

bool probe_cycle::busy() const { return impl_->in_tick; }

bool probe_cycle::stopped() const { return !impl_->timer.isActive() && !impl_->in_tick; }

}  // namespace quorvel
