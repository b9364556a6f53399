#include "probe/episode_alerts.h"

#include "text/conversions.h"

namespace quorvel {

namespace {

struct alert_texts {
  const char* dropped;
  const char* recovered;
};
// [channel][kind]: high ping first, then timeout.
constexpr alert_texts texts_by_tracker[2][2] = {
    {{"网关延迟过高", "网关已恢复"}, {"网关连接中断", "网关已恢复"}},
    {{"外网延迟过高", "外网已恢复"}, {"外网连接中断", "外网已恢复"}},
};

std::size_t kind_index(episode_kind kind) { return kind == episode_kind::high_ping ? 0 : 1; }

// A high-ping tracker never sees a lost probe: it neither counts nor breaks a row.
bool looked_at(const episode_step& step) {
  return step.settings.enabled && (step.kind == episode_kind::timeout || step.result >= 0);
}

bool is_bad(const episode_step& step) {
  return step.kind == episode_kind::timeout ? step.result < 0
                                            : step.result > step.settings.threshold_ms;
}

}  // namespace

std::optional<episode_alert> episode_alerts::observe(std::size_t channel, const episode_step& step) {
  follow& state = follows_.at(channel * 2 + kind_index(step.kind));
  const alert_texts& texts = texts_by_tracker[channel][kind_index(step.kind)];
  // An episode dropped without a record (box clicked, new run) is followed no longer.
  if (!step.was_open) state = follow{};
  if (!looked_at(step) || !step.tracker) return std::nullopt;
  if (step.recorded) {
    const bool alerted = state.alerted;
    state = follow{};
    if (!alerted) return std::nullopt;
    return episode_alert{texts.recovered,
                         join_texts({"约:", duration_seconds_text(step.recorded->duration_ms),
                                     "秒，开始于 ", step.recorded->start_text})};
  }
  if (!step.tracker->is_open) return std::nullopt;
  state.bad_in_row = is_bad(step) ? state.bad_in_row + 1 : 0;
  if (state.alerted || state.bad_in_row < bad_results_to_alert) return std::nullopt;
  state.alerted = true;
  return episode_alert{texts.dropped, join_texts({"开始于 ", step.tracker->start_text})};
}

}  // namespace quorvel
