// The controls of one probe channel in the main window, built from that channel's table row,
// and what the channel's probe cycle writes to and reads from them.
#pragma once

#include "app/integer_edit.h"
#include "app/log_view.h"
#include "app/probe_cycle.h"
#include "probe/episode_recorder.h"
#include "probe/latency_stats.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QTextEdit>
#include <QPushButton>

#include <array>
#include <cstddef>
#include <functional>
#include <string>

namespace quorvel {

class float_window_host;

// What tells the gateway and the external channel apart in the window.
struct channel_layout {
  const char* infix;                     // "wg" or "ww", in every control name
  int group_left;                        // of `分组框_wg` / `分组框_ww`
  const char* caption;                   // the group caption before a run's first tick
  const char* caption_prefix;            // the caption with the mean
  std::array<const char*, latency_class_count> counter_labels;  // label names, class order
  int first_row_label_width;             // the two first-row labels differ between channels
  std::array<const char*, 4> option_labels;  // per recording row: before its list, after it
  const char* key_prefix;                // "gway" or "outer"
  int log_left;
};

extern const std::array<channel_layout, 2> channel_layouts;

// One channel's recording of one episode kind: its switch, the options it locks and its keys.
struct record_option {
  episode_kind kind = episode_kind::high_ping;
  QCheckBox* record_box = nullptr;
  integer_edit* threshold = nullptr;  // high ping only
  QComboBox* ignore_list = nullptr;
  QPushButton* records_button = nullptr;
  std::string start_key;
  std::string ignore_key;
  std::string threshold_key;  // high ping only
};

class channel_panel : public channel_view {
public:
  channel_panel(QWidget* window, const channel_layout& layout, float_window_host& float_host,
                std::size_t channel_index);

  const channel_layout& layout() const { return layout_; }
  QGroupBox* group() const { return group_; }
  log_view* log() const { return log_; }
  record_option& option(episode_kind kind);
  std::array<record_option, 2>& options() { return options_; }

  // The start button's clearing of this channel's figures and texts.
  void clear_figures();
  // Where this channel's probes are kept; the log shows them from there.
  void attach_records(probe_record_list& records);

  // channel_view
  void show_class_count(int latency_class, std::int32_t count) override;
  void show_float_result(std::int32_t result, int latency_level) override;
  tracker_settings read_tracker_settings(episode_kind kind) override;
  void enable_records_button(episode_kind kind) override;
  void show_summary(const std::string& text) override;
  void show_caption(const std::string& text) override;
  void append_log(const std::string& text) override;
  void append_probe(std::int32_t result, const probe_time& time) override;
  void close_float() override;

private:
  void build_counters();
  void build_options();
  void build_log(QWidget* window);

  const channel_layout& layout_;
  float_window_host& float_host_;
  std::size_t channel_index_;
  QGroupBox* group_ = nullptr;
  std::array<QLineEdit*, latency_class_count> counters_{};
  QTextEdit* summary_ = nullptr;
  log_view* log_ = nullptr;
  probe_record_list* records_ = nullptr;
  std::array<record_option, 2> options_;
};

// The program's fonts: 14 px for every control, 19 px for the summary boxes.
QFont window_font(int pixel_size = 14);

// Creates a child with its objectName and absolute geometry.
template <class Widget>
Widget* place(QWidget* parent, const char* name, int left, int top, int width, int height) {
  auto* widget = new Widget(parent);
  widget->setObjectName(QString::fromUtf8(name));
  widget->setGeometry(left, top, width, height);
  return widget;
}

QLabel* place_label(QWidget* parent, const char* name, int left, int top, int width, int height,
                    const char* text);

}  // namespace quorvel
