#include "app/channel_panel.h"

#include "text/conversions.h"
#include "windows/caption_frame.h"
#include "windows/float_window.h"
#include "windows/window_support.h"

#include <QLabel>
#include <QPalette>
#include <QTextBlockFormat>
#include <QTextCursor>

#include <string_view>

namespace quorvel {

const std::array<channel_layout, 2> channel_layouts{{
    {"wg", 8, "网关测试结果", "网关测试结果   平均速度：",
     {"标签6", "标签4", "标签5", "标签3", "标签8", "标签7", "标签10", "标签9"}, 152,
     {"标签19", "标签20", "标签22", "标签21"}, "gway", 9},
    {"ww", 513, "外网测试结果", "外网测试结果   平均速度：",
     {"标签16", "标签18", "标签17", "标签15", "标签14", "标签13", "标签12", "标签11"}, 157,
     {"标签26", "标签23", "标签25", "标签24"}, "outer", 514},
}};

namespace {

// The counter rows, in class order; both channels place them alike.
struct counter_row {
  int label_left, label_top, label_width;  // 0: the channel's first-row width
  const char* text;
  const char* box_suffix;
  int box_left, box_top;
};
constexpr std::array<counter_row, latency_class_count> counter_rows{{
    {8, 16, 0, "80ms ≤≯0ms   数：", "80", 150, 16},
    {261, 18, 0, "160ms≤≯80ms  数：", "160", 402, 16},
    {9, 44, 151, "240ms≤≯160ms 数：", "240", 150, 44},
    {261, 44, 151, "400ms≤≯240ms 数：", "400", 402, 44},
    {9, 72, 151, "640ms≤≯400ms 数：", "640", 150, 72},
    {261, 72, 151, "999ms≤≯640ms 数：", "999", 402, 72},
    {9, 101, 151, "≥1000ms未超时 数：", "1000", 150, 101},
    {261, 101, 151, "超时(≥5000ms) 数：", "5000", 402, 101},
}};

// The recording rows, high ping above timeout; both channels place them alike.
struct option_row {
  episode_kind kind;
  const char* suffix;    // of the control names
  const char* key_kind;  // of the settings keys
  int top;
  int box_width;
  const char* box_text;
  int caption_left, caption_width;
  const char* caption;       // after the threshold (or the box), running under the list
  const char* list_caption;  // after the list
};
constexpr std::array<option_row, 2> option_rows{{
    {episode_kind::high_ping, "_ping", "pi", 184, 144, "记录ping值大于：", 171, 199,
     "ms的时长，记录时忽略        ", "条小ping值"},
    {episode_kind::timeout, "_timeout", "ou", 212, 96, "记录超时包", 102, 288,
     "(ping≥5000ms)时长，记录时忽略        ", "条ping通值"},
}};

std::string control_name(const char* head, const channel_layout& layout, std::string_view tail) {
  return std::string(head) + layout.infix + std::string(tail);
}

void set_colours(QWidget* widget, const QColor& text, const QColor& base) {
  QPalette palette = widget->palette();
  for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
    palette.setColor(group, QPalette::Text, text);
    palette.setColor(group, QPalette::Base, base);
  }
  widget->setPalette(palette);
}

QString display_text(const std::string& text) {
  return QString::fromStdString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

constexpr int summary_line_height = 21;  // for the 19-pixel face
constexpr int summary_margin = 2;

QComboBox* place_digit_list(QWidget* parent, const std::string& name, int top) {
  auto* list = place<QComboBox>(parent, name.c_str(), 314, top, 40, 20);
  for (int digit = 0; digit <= 9; ++digit) list->addItem(QString::number(digit));
  return list;
}

QPushButton* place_records_button(QWidget* parent, const std::string& name, int top) {
  auto* button = place<QPushButton>(parent, name.c_str(), 433, top, 64, 24);
  button->setText(QStringLiteral("查记录"));
  button->setEnabled(false);
  return button;
}

QCheckBox* place_check_box(QWidget* parent, const std::string& name, int top, int width,
                           const char* text) {
  auto* box = place<QCheckBox>(parent, name.c_str(), 8, top, width, 24);
  box->setText(QString::fromUtf8(text));
  return box;
}

}  // namespace

QFont window_font(int pixel_size) { return chinese_font(pixel_size); }

QLabel* place_label(QWidget* parent, const char* name, int left, int top, int width, int height,
                    const char* text) {
  auto* label = place<QLabel>(parent, name, left, top, width, height);
  label->setText(QString::fromUtf8(text));
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return label;
}

channel_panel::channel_panel(QWidget* window, const channel_layout& layout,
                             float_window_host& float_host, std::size_t channel_index)
    : layout_(layout), float_host_(float_host), channel_index_(channel_index) {
  group_ = place<caption_frame>(window, control_name("分组框_", layout, "").c_str(), layout.group_left,
                            64, 500, 240);
  group_->setTitle(QString::fromUtf8(layout.caption));
  build_counters();
  build_options();
  build_log(window);
}

void channel_panel::build_counters() {
  for (std::size_t i = 0; i < counter_rows.size(); ++i) {
    const counter_row& row = counter_rows[i];
    const int width = row.label_width ? row.label_width : layout_.first_row_label_width;
    place_label(group_, layout_.counter_labels[i], row.label_left, row.label_top, width, 24,
                row.text);
    QLineEdit* box = place<QLineEdit>(group_, control_name("edit_", layout_, std::string("_") +
                                                                     row.box_suffix).c_str(),
                                      row.box_left, row.box_top, 60, 24);
    box->setReadOnly(true);
    box->setAlignment(Qt::AlignCenter);
    box->setText(QStringLiteral("0"));
    set_colours(box, Qt::black, Qt::white);
    counters_[i] = box;
  }
  summary_ = place<QTextEdit>(group_, control_name("edit_", layout_, "_fx").c_str(), 6, 129, 490,
                              47);
  summary_->setReadOnly(true);
  summary_->setAcceptRichText(false);
  summary_->document()->setDocumentMargin(summary_margin);
  summary_->setFont(window_font(19));
  summary_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  summary_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  set_colours(summary_, Qt::black, Qt::white);
}

void channel_panel::build_options() {
  for (std::size_t i = 0; i < option_rows.size(); ++i) {
    const option_row& row = option_rows[i];
    record_option& option = options_[i];
    const std::string keys = std::string(layout_.key_prefix) + "_" + row.key_kind;
    option.kind = row.kind;
    option.record_box = place_check_box(group_, control_name("选择框_", layout_, row.suffix),
                                        row.top, row.box_width, row.box_text);
    if (row.kind == episode_kind::high_ping) {
      option.threshold = place<integer_edit>(
          group_, control_name("edit_", layout_, "_500").c_str(), 132, row.top - 1, 36, 24);
      option.threshold->setAlignment(Qt::AlignCenter);
      option.threshold->setText(QStringLiteral("500"));
      option.threshold_key = keys + "_time";
    }
    place_label(group_, layout_.option_labels[2 * i], row.caption_left, row.top, row.caption_width,
                24, row.caption);
    option.ignore_list = place_digit_list(group_, control_name("组合框_", layout_, row.suffix),
                                          row.top);
    place_label(group_, layout_.option_labels[2 * i + 1], 359, row.top, 88, 24, row.list_caption);
    option.records_button =
        place_records_button(group_, control_name("btn_", layout_, row.suffix), row.top);
    option.start_key = keys + "_start";
    option.ignore_key = keys + "_num";
  }
}

void channel_panel::build_log(QWidget* window) {
  log_ = place<log_view>(window, control_name("edit_", layout_, "_log").c_str(), layout_.log_left,
                         310, 495, 350);
}

record_option& channel_panel::option(episode_kind kind) {
  return options_[kind == episode_kind::high_ping ? 0 : 1];
}

void channel_panel::clear_figures() {
  for (QLineEdit* box : counters_) box->setText(QStringLiteral("0"));
  summary_->setPlainText(QString());
  log_->clear();
}

void channel_panel::show_class_count(int latency_class, std::int32_t count) {
  counters_.at(static_cast<std::size_t>(latency_class))
      ->setText(QString::fromStdString(int_to_text(count)));
}

void channel_panel::show_float_result(std::int32_t result, int latency_level) {
  float_host_.show_result(channel_index_, result, latency_level);
}

tracker_settings channel_panel::read_tracker_settings(episode_kind kind) {
  const record_option& controls = option(kind);
  tracker_settings settings;
  settings.enabled = controls.record_box->isChecked();
  if (controls.threshold)
    settings.threshold_ms = high_ping_threshold_from_text(controls.threshold->text().toStdString());
  settings.ignore_count = ignore_count_from_index(controls.ignore_list->currentIndex());
  return settings;
}

void channel_panel::enable_records_button(episode_kind kind) {
  option(kind).records_button->setEnabled(true);
}

void channel_panel::show_summary(const std::string& text) {
  summary_->setPlainText(display_text(text));
  // The face's own line spacing would push the second line out of the 47-pixel box.
  QTextBlockFormat lines;
  lines.setLineHeight(summary_line_height, QTextBlockFormat::FixedHeight);
  QTextCursor all(summary_->document());
  all.select(QTextCursor::Document);
  all.mergeBlockFormat(lines);
}

void channel_panel::show_caption(const std::string& text) {
  group_->setTitle(QString::fromStdString(text));
}

void channel_panel::append_log(const std::string& text) { log_->append(text); }

void channel_panel::attach_records(probe_record_list& records) {
  records_ = &records;
  log_->attach_records(records, channel_index_);
}

void channel_panel::append_probe(std::int32_t result, const probe_time& time) {
  if (!records_) return channel_view::append_probe(result, time);
  records_->add(channel_index_, result, time);
  log_->append_probe();
}

void channel_panel::close_float() { float_host_.destroy(); }

}  // namespace quorvel
