#include "windows/chart_window.h"

#include "probe/export_formats.h"
#include "windows/window_support.h"

#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImageWriter>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <utility>
#include <vector>

namespace quorvel {

namespace {

// Red is kept for the lost probes.
const std::array<QColor, probe_channel_count> channel_colours{QColor(0x20, 0x60, 0xc0), QColor(0x00, 0x80, 0x60)};
const std::array<const char*, probe_channel_count> pane_titles{"网关", "外网"};
const QColor loss_colour(0xff, 0x00, 0x00);
const QColor threshold_colour(0xc0, 0x80, 0x00);
const QColor grid_colour(0xe0, 0xe0, 0xe0);
const QColor frame_colour(0x90, 0x90, 0x90);

constexpr int axis_left = 56;
constexpr int axis_right = 14;
constexpr int top_margin = 8;
constexpr int pane_gap = 20;
constexpr int axis_bottom = 24;
constexpr double shortest_span_s = 10.0;
constexpr double longest_span_s = 400.0 * 86400.0;
constexpr double shortest_full_span_s = 60.0;
constexpr int tick_spacing_px = 90;
constexpr int hover_reach_px = 30;

enum class range_kind { last_5_minutes, last_hour, all, chosen_by_user };

std::function<QString(QWidget*)>& image_path_chooser() {
  static std::function<QString(QWidget*)> chooser;
  return chooser;
}

// Offered in the documents folder under the run's start, as the exports are.
QString default_image_path(const probe_record_list* records) {
  const std::string start = records && records->size() > 0
                                ? probe_time_stamp(records->at(0).time)
                                : probe_time_stamp(probe_time_now());
  return QDir(documents_folder()).filePath(QString::fromStdString(export_file_name("曲线", start, ".png")));
}

QString ask_image_path(QWidget* parent, const probe_record_list* records) {
  QString path = QFileDialog::getSaveFileName(parent, QStringLiteral("保存图片"), default_image_path(records),
                                              QStringLiteral("PNG 图片 (*.png)"));
  if (!path.isEmpty() && !path.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive)) path += QStringLiteral(".png");
  return path;
}

// The smallest of 1, 2 and 5 times a power of ten that holds `value`, 10 at least.
double nice_top(double value) {
  if (value <= 10.0) return 10.0;
  const double power = std::pow(10.0, std::floor(std::log10(value)));
  for (const double mantissa : {1.0, 2.0, 5.0, 10.0}) {
    if (mantissa * power >= value) return mantissa * power;
  }
  return 10.0 * power;
}

double tick_step_of_top(double top) {
  const double power = std::pow(10.0, std::floor(std::log10(top) + 1e-9));
  return std::lround(top / power) == 2 ? top / 4.0 : top / 5.0;
}

// Steps between time labels, in seconds, placed on round local clock times.
constexpr std::array<std::int64_t, 19> time_steps{1,    2,    5,    10,    15,    30,    60,    120,   300,  600,
                                                  900, 1800, 3600, 7200, 10800, 21600, 43200, 86400, 604800};

std::int64_t time_step_for(double span_s, int width_px) {
  for (const std::int64_t step : time_steps) {
    if (static_cast<double>(step) / span_s * width_px >= tick_spacing_px) return step;
  }
  return time_steps.back();
}

QString time_label(std::int64_t utc, std::int64_t step) {
  const QDateTime local = QDateTime::fromSecsSinceEpoch(utc);
  if (step >= 86400 || (local.time() == QTime(0, 0) && step >= 3600)) return local.toString(QStringLiteral("MM-dd"));
  return local.toString(step < 60 ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm"));
}

}  // namespace

// The two panes and their shared time axis; the window around it holds the buttons.
class chart_plot : public QWidget {
public:
  chart_plot(QWidget* parent, chart_source source) : QWidget(parent), source_(std::move(source)) {
    setObjectName(QStringLiteral("chart_plot"));
    setMouseTracking(true);
    setMinimumSize(320, 240);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }

  std::function<void()> on_save;

  time_span span() const { return span_; }
  bool follows_end() const { return range_ != range_kind::chosen_by_user; }
  QString hover_text() const { return hover_text_; }

  void show_range(range_kind range) {
    range_ = range;
    follow();
  }

  void refresh() {
    if (follows_end()) follow();
    update();
  }

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Window));
    const int columns = std::max(1, pane_rect(0).width());
    const channel_columns reduced = reducer_.reduce(span_, columns);
    const std::int64_t step = time_step_for(span_.end - span_.begin, columns);
    for (std::size_t channel = 0; channel < probe_channel_count; ++channel) {
      draw_pane(painter, channel, reduced[channel], step);
    }
    draw_time_labels(painter, step);
  }

  void wheelEvent(QWheelEvent* event) override {
    const double notches = event->angleDelta().y() / 120.0;
    if (notches == 0.0) return;
    const QRect pane = pane_rect(0);
    const double at = std::clamp((event->position().x() - pane.left()) / std::max(1, pane.width()), 0.0, 1.0);
    const double width = span_.end - span_.begin;
    const double new_width = std::clamp(width * std::pow(0.8, notches), shortest_span_s, longest_span_s);
    const double pointer_time = span_.begin + at * width;
    span_ = {pointer_time - at * new_width, pointer_time + (1.0 - at) * new_width};
    range_ = range_kind::chosen_by_user;
    update();
    event->accept();
  }

  void mousePressEvent(QMouseEvent* event) override {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    dragging_ = true;
    drag_from_x_ = event->position().x();
    drag_span_ = span_;
  }

  void mouseMoveEvent(QMouseEvent* event) override {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
      const double moved_px = event->position().x() - drag_from_x_;
      if (moved_px == 0.0) return;
      const double shift = -moved_px * (drag_span_.end - drag_span_.begin) / std::max(1, pane_rect(0).width());
      span_ = {drag_span_.begin + shift, drag_span_.end + shift};
      range_ = range_kind::chosen_by_user;
      update();
      return;
    }
    show_hover(event->position().toPoint());
  }

  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton) dragging_ = false;
  }

  void contextMenuEvent(QContextMenuEvent* event) override {
    QMenu menu(this);
    QAction* save = menu.addAction(QStringLiteral("保存图片…"));
    save->setObjectName(QStringLiteral("action_save_image"));
    connect(save, &QAction::triggered, this, [this] {
      if (on_save) on_save();
    });
    menu.exec(event->globalPos());
  }

private:
  QRect pane_rect(int index) const {
    const int each = std::max(1, (height() - top_margin - pane_gap - axis_bottom) / 2);
    return {axis_left, top_margin + index * (each + pane_gap), std::max(1, width() - axis_left - axis_right), each};
  }

  std::pair<std::int64_t, std::int64_t> data_extent() const {
    const probe_record_list& records = *source_.records;
    if (records.times_ascending()) return {records.at(0).time.utc_seconds, records.at(records.size() - 1).time.utc_seconds};
    std::int64_t first = records.at(0).time.utc_seconds;
    std::int64_t last = first;
    for (std::size_t position = 1; position < records.size(); ++position) {
      const std::int64_t utc = records.at(position).time.utc_seconds;
      first = std::min(first, utc);
      last = std::max(last, utc);
    }
    return {first, last};
  }

  void follow() {
    const probe_record_list& records = *source_.records;
    double end = static_cast<double>(std::time(nullptr)) + 1.0;
    double begin = end - shortest_full_span_s;
    if (records.size() > 0) {
      const auto [first, last] = data_extent();
      end = static_cast<double>(last) + 1.0;
      begin = std::min(static_cast<double>(first), end - shortest_full_span_s);
    }
    if (range_ == range_kind::last_5_minutes) begin = end - 300.0;
    if (range_ == range_kind::last_hour) begin = end - 3600.0;
    span_ = {begin, end};
    update();
  }

  double x_of_time(const QRect& pane, double utc) const {
    return pane.left() + (utc - span_.begin) / (span_.end - span_.begin) * pane.width();
  }

  void draw_pane(QPainter& painter, std::size_t channel, const std::vector<column_extreme>& columns,
                 std::int64_t step) {
    const QRect pane = pane_rect(static_cast<int>(channel));
    painter.fillRect(pane, Qt::white);
    const std::optional<std::int32_t> threshold =
        source_.high_ping_threshold ? source_.high_ping_threshold(channel) : std::nullopt;
    double highest = threshold.value_or(0);
    for (const column_extreme& column : columns) {
      if (column.answered) highest = std::max(highest, static_cast<double>(column.max_ms));
    }
    const double top = nice_top(highest * 1.05);  // room above the highest, the threshold included
    const auto y_of = [&](double ms) { return pane.bottom() + 1 - ms / top * pane.height(); };
    draw_grid(painter, pane, top, y_of, step);
    if (threshold) {
      painter.setPen(QPen(threshold_colour, 1, Qt::DashLine));
      painter.drawLine(QPointF(pane.left(), y_of(*threshold)), QPointF(pane.right() + 1, y_of(*threshold)));
    }
    draw_series(painter, pane, columns, channel_colours[channel], y_of);
    draw_losses(painter, pane, columns);
    painter.setPen(frame_colour);
    painter.drawRect(pane.adjusted(0, 0, -1, -1));
    painter.setPen(channel_colours[channel]);
    painter.drawText(pane.adjusted(6, 2, -6, -2), Qt::AlignLeft | Qt::AlignTop, QString::fromUtf8(pane_titles[channel]));
  }

  template <class Y>
  void draw_grid(QPainter& painter, const QRect& pane, double top, const Y& y_of, std::int64_t step) {
    const double ms_step = tick_step_of_top(top);
    const QFontMetrics metrics = painter.fontMetrics();
    for (double ms = 0.0; ms <= top + 1e-9; ms += ms_step) {
      const double y = y_of(ms);
      painter.setPen(grid_colour);
      painter.drawLine(QPointF(pane.left(), y), QPointF(pane.right(), y));
      painter.setPen(palette().color(QPalette::WindowText));
      const QString label = QString::number(ms, 'g', 6) + QStringLiteral("ms");
      painter.drawText(QRectF(0, y - metrics.height() / 2.0, axis_left - 4, metrics.height()),
                       Qt::AlignRight | Qt::AlignVCenter, label);
    }
    painter.setPen(grid_colour);
    for (const std::int64_t tick : time_ticks(step)) {
      const double x = x_of_time(pane, static_cast<double>(tick));
      painter.drawLine(QPointF(x, pane.top()), QPointF(x, pane.bottom()));
    }
  }

  template <class Y>
  static void draw_series(QPainter& painter, const QRect& pane, const std::vector<column_extreme>& columns,
                          const QColor& colour, const Y& y_of) {
    // Whole pixels and a cosmetic pen keep the raster engine on its quick path.
    const auto y_at = [&](std::int32_t ms) { return static_cast<int>(std::lround(y_of(ms))); };
    std::vector<QLine> lines;
    std::optional<QPoint> previous;
    for (std::size_t index = 0; index < columns.size(); ++index) {
      const column_extreme& column = columns[index];
      if (!column.answered) continue;
      const int x = pane.left() + static_cast<int>(index);
      if (previous) lines.emplace_back(*previous, QPoint(x, y_at(column.first_ms)));
      lines.emplace_back(x, y_at(column.min_ms), x, y_at(column.max_ms));
      previous = QPoint(x, y_at(column.last_ms));
    }
    painter.setPen(QPen(colour, 0));
    painter.drawLines(lines.data(), static_cast<int>(lines.size()));
  }

  static void draw_losses(QPainter& painter, const QRect& pane, const std::vector<column_extreme>& columns) {
    std::vector<QLine> marks;
    for (std::size_t index = 0; index < columns.size(); ++index) {
      if (!columns[index].lost) continue;
      const int x = pane.left() + static_cast<int>(index);
      marks.emplace_back(x, pane.top(), x, pane.bottom());
    }
    painter.setPen(QPen(loss_colour, 0));
    painter.drawLines(marks.data(), static_cast<int>(marks.size()));
  }

  // Round local clock times within the span.
  std::vector<std::int64_t> time_ticks(std::int64_t step) const {
    const std::int64_t offset = QDateTime::currentDateTime().offsetFromUtc();
    const auto first = static_cast<std::int64_t>(std::ceil((span_.begin + offset) / step)) * step - offset;
    std::vector<std::int64_t> ticks;
    for (std::int64_t tick = first; static_cast<double>(tick) < span_.end; tick += step) ticks.push_back(tick);
    return ticks;
  }

  void draw_time_labels(QPainter& painter, std::int64_t step) {
    const QRect pane = pane_rect(1);
    painter.setPen(palette().color(QPalette::WindowText));
    for (const std::int64_t tick : time_ticks(step)) {
      const double x = x_of_time(pane, static_cast<double>(tick));
      painter.drawText(QRectF(x - 50, pane.bottom() + 4, 100, axis_bottom - 4), Qt::AlignHCenter | Qt::AlignTop,
                       time_label(tick, step));
    }
  }

  void show_hover(QPoint at) {
    for (std::size_t channel = 0; channel < probe_channel_count; ++channel) {
      const QRect pane = pane_rect(static_cast<int>(channel));
      if (!pane.contains(at)) continue;
      const double time = span_.begin + (at.x() - pane.left()) / static_cast<double>(pane.width()) * (span_.end - span_.begin);
      const std::optional<shown_probe> nearest = nearest_probe(channel, time);
      if (nearest && std::abs(x_of_time(pane, static_cast<double>(nearest->time.utc_seconds)) - at.x()) <= hover_reach_px) {
        hover_text_ = QString::fromStdString(probe_line_text(nearest->time, nearest->result));
        QToolTip::showText(mapToGlobal(at), hover_text_, this);
        return;
      }
    }
    QToolTip::hideText();
  }

  std::optional<shown_probe> nearest_probe(std::size_t channel, double time) const {
    const probe_record_list& records = *source_.records;
    std::optional<shown_probe> best;
    const auto consider = [&](const shown_probe& probe) {
      if (probe.channel != channel) return false;
      const auto distance = [&](const shown_probe& p) { return std::abs(static_cast<double>(p.time.utc_seconds) - time); };
      if (!best || distance(probe) < distance(*best)) best = probe;
      return true;
    };
    if (!records.times_ascending()) {
      for (std::size_t position = 0; position < records.size(); ++position) consider(records.at(position));
      return best;
    }
    // The channel's probes on either side of the time, whatever the other channel put between.
    const std::size_t split = records.first_position_at(static_cast<std::int64_t>(std::ceil(time)));
    for (std::size_t position = split; position < records.size(); ++position) {
      if (consider(records.at(position))) break;
    }
    for (std::size_t position = split; position > 0; --position) {
      if (consider(records.at(position - 1))) break;
    }
    return best;
  }

  const chart_source source_;
  column_reducer reducer_{*source_.records};
  time_span span_;
  range_kind range_ = range_kind::all;
  bool dragging_ = false;
  double drag_from_x_ = 0.0;
  time_span drag_span_;
  QString hover_text_;
};

chart_window::chart_window(QWidget* owner, chart_source source)
    : QWidget(owner, Qt::Window) {
  setObjectName(QStringLiteral("win_chart"));
  setWindowTitle(QStringLiteral("延迟曲线"));
  setAttribute(Qt::WA_DeleteOnClose);
  records_ = source.records;
  plot_ = new chart_plot(this, std::move(source));
  plot_->on_save = [this] { choose_and_save(); };
  auto* buttons = new QHBoxLayout;
  const std::array<std::tuple<const char*, const char*, void (chart_window::*)()>, 3> ranges{{
      {"btn_5min", "最近5分钟", &chart_window::show_last_5_minutes},
      {"btn_hour", "最近1小时", &chart_window::show_last_hour},
      {"btn_all", "全部", &chart_window::show_all},
  }};
  for (const auto& [name, text, slot] : ranges) {
    auto* button = new QPushButton(QString::fromUtf8(text), this);
    button->setObjectName(QString::fromUtf8(name));
    button->setFocusPolicy(Qt::NoFocus);
    connect(button, &QPushButton::clicked, this, slot);
    buttons->addWidget(button);
  }
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(plot_, 1);
  resize(900, 600);
  if (owner) owner->installEventFilter(this);
  refresh_timer_.setInterval(1000);
  connect(&refresh_timer_, &QTimer::timeout, this, &chart_window::refresh);
  refresh_timer_.start();
  show_all();
}

time_span chart_window::view_span() const { return plot_->span(); }

bool chart_window::follows_end() const { return plot_->follows_end(); }

QString chart_window::hover_text() const { return plot_->hover_text(); }

void chart_window::show_last_5_minutes() { plot_->show_range(range_kind::last_5_minutes); }

void chart_window::show_last_hour() { plot_->show_range(range_kind::last_hour); }

void chart_window::show_all() { plot_->show_range(range_kind::all); }

void chart_window::refresh() { plot_->refresh(); }

void chart_window::set_image_path_chooser(std::function<QString(QWidget*)> chooser) {
  image_path_chooser() = std::move(chooser);
}

bool chart_window::save_image(const QString& path) {
  const QImage image = plot_->grab().toImage();
  QSaveFile file(path);
  QString failure;
  if (!file.open(QIODevice::WriteOnly)) {
    failure = file.errorString();
  } else {
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
      failure = writer.errorString();
      file.cancelWriting();
    } else if (!file.commit()) {
      failure = file.errorString();
    }
  }
  if (failure.isEmpty()) return true;
  QMessageBox::warning(this, QStringLiteral("保存失败"),
                       QStringLiteral("图片没有保存到 %1：\n请检查文件夹的写入权限和磁盘空间。\n\n（%2）")
                           .arg(QDir::toNativeSeparators(path), failure));
  return false;
}

void chart_window::choose_and_save() {
  const QString path = image_path_chooser() ? image_path_chooser()(this) : ask_image_path(this, records_);
  if (!path.isEmpty()) save_image(path);
}

void chart_window::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

// It goes when its owner is closed or hidden, not only when the owner is destroyed.
bool chart_window::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parent() && event->type() == QEvent::Hide && !event->spontaneous()) close();
  return QWidget::eventFilter(watched, event);
}

chart_window* show_chart_window(QWidget* owner, chart_source source) {
  if (auto* open = owner->findChild<chart_window*>(QString(), Qt::FindDirectChildrenOnly)) {
    if (open->isMinimized()) open->showNormal();
    open->show();
    open->raise();
    open->activateWindow();
    return open;
  }
  auto* window = new chart_window(owner, std::move(source));
  window->show();
  return window;
}

}  // namespace quorvel
