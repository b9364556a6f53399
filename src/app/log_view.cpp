#include "app/log_view.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTextLayout>

#include <algorithm>
#include <climits>

namespace quorvel {

namespace {

const QColor text_colour(0, 255, 255);
const QColor background_colour(96, 96, 96);
constexpr int left_margin = 4;
constexpr int top_margin = 2;
// How often a selection drag beyond the view's edge scrolls one more line.
constexpr int drag_scroll_interval_ms = 50;

int clamped_to_int(std::size_t value) {
  return static_cast<int>(std::min<std::size_t>(value, INT_MAX));
}

}  // namespace

log_view::log_view(QWidget* parent) : QAbstractScrollArea(parent) {
  QPalette colours = palette();
  colours.setColor(QPalette::Base, background_colour);
  colours.setColor(QPalette::Text, text_colour);
  setPalette(colours);
  viewport()->setAutoFillBackground(true);
  viewport()->setCursor(Qt::IBeamCursor);
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  verticalScrollBar()->setSingleStep(1);
  drag_scroll_timer_.setInterval(drag_scroll_interval_ms);
  connect(&drag_scroll_timer_, &QTimer::timeout, this, &log_view::scroll_while_dragging);
  update_scroll_range(true);
}

void log_view::append(std::string_view text) {
  const bool was_at_end = is_at_end();
  store_.append(text);
  show_growth(was_at_end);
}

void log_view::attach_records(const probe_record_list& records, std::size_t channel) {
  store_.attach(records, channel);
  clear();
}

void log_view::append_probe() {
  const bool was_at_end = is_at_end();
  store_.append_probe();
  show_growth(was_at_end);
}

void log_view::show_growth(bool was_at_end) {
  update_scroll_range(was_at_end);
  viewport()->update();
}

void log_view::clear() {
  store_.clear();
  anchor_ = cursor_ = {};
  selecting_ = false;
  drag_scroll_timer_.stop();
  update_scroll_range(true);
  viewport()->update();
}

QString log_view::plain_text() const { return QString::fromStdString(store_.plain_text()); }

bool log_view::has_selection() const { return anchor_ != cursor_; }

QString log_view::selected_text() const {
  if (!has_selection()) return {};
  const text_position begin = selection_begin();
  const text_position end = selection_end();
  if (begin.line == end.line) return line_text(begin.line).mid(begin.column, end.column - begin.column);
  QStringList parts;
  parts << line_text(begin.line).mid(begin.column);
  for (std::size_t line = begin.line + 1; line < end.line; ++line) parts << line_text(line);
  parts << line_text(end.line).left(end.column);
  return parts.join('\n');
}

void log_view::select_all() {
  if (store_.line_count() == 0) return;
  const std::size_t last = store_.line_count() - 1;
  anchor_ = {};
  cursor_ = {last, clamped_to_int(static_cast<std::size_t>(line_text(last).size()))};
  viewport()->update();
}

void log_view::copy() const { copy_to(QClipboard::Clipboard); }

std::size_t log_view::first_visible_line() const {
  return static_cast<std::size_t>(verticalScrollBar()->value());
}

bool log_view::is_at_end() const { return verticalScrollBar()->value() == verticalScrollBar()->maximum(); }

void log_view::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.fillRect(event->rect(), background_colour);
  painter.setFont(font());
  painter.setPen(text_colour);
  const int height = line_height();
  int y = top_margin;
  for (std::size_t line = first_visible_line(); line < store_.line_count() && y < viewport()->height();
       ++line, y += height) {
    if (y + height <= event->rect().top()) continue;
    QTextLayout layout(line_text(line), font());
    lay_out(layout);
    const QList<QTextLayout::FormatRange> selections = selection_within(line, layout.text().size());
    layout.draw(&painter, QPointF(left_margin, y), selections);
  }
}

QList<QTextLayout::FormatRange> log_view::selection_within(std::size_t line, qsizetype length) const {
  const text_position begin = selection_begin();
  const text_position end = selection_end();
  if (!has_selection() || line < begin.line || line > end.line) return {};
  QTextLayout::FormatRange range;
  range.start = line == begin.line ? begin.column : 0;
  range.length = (line == end.line ? end.column : clamped_to_int(static_cast<std::size_t>(length))) - range.start;
  range.format.setBackground(palette().color(QPalette::Highlight));
  range.format.setForeground(palette().color(QPalette::HighlightedText));
  return {range};
}

void log_view::resizeEvent(QResizeEvent* event) {
  // The scroll range still describes the old size here, so this tells where the user was.
  update_scroll_range(is_at_end());
  QAbstractScrollArea::resizeEvent(event);
}

void log_view::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange) update_scroll_range(is_at_end());
  QAbstractScrollArea::changeEvent(event);
}

void log_view::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  cursor_ = position_at(event->position().toPoint());
  if (!(event->modifiers() & Qt::ShiftModifier)) anchor_ = cursor_;
  selecting_ = true;
  viewport()->update();
}

void log_view::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_ || !(event->buttons() & Qt::LeftButton)) return QAbstractScrollArea::mouseMoveEvent(event);
  drag_selection_to(event->position().toPoint());
  const bool outside = last_drag_point_.y() < 0 || last_drag_point_.y() >= viewport()->height();
  if (outside && !drag_scroll_timer_.isActive()) drag_scroll_timer_.start();
  if (!outside) drag_scroll_timer_.stop();
}

void log_view::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !selecting_) return QAbstractScrollArea::mouseReleaseEvent(event);
  selecting_ = false;
  drag_scroll_timer_.stop();
  if (QGuiApplication::clipboard()->supportsSelection()) copy_to(QClipboard::Selection);
}

void log_view::keyPressEvent(QKeyEvent* event) {
  QScrollBar* bar = verticalScrollBar();
  if (event->matches(QKeySequence::Copy)) {
    copy();
  } else if (event->matches(QKeySequence::SelectAll)) {
    select_all();
  } else if (event->key() == Qt::Key_Home || event->matches(QKeySequence::MoveToStartOfDocument)) {
    bar->setValue(bar->minimum());
  } else if (event->key() == Qt::Key_End || event->matches(QKeySequence::MoveToEndOfDocument)) {
    bar->setValue(bar->maximum());
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

void log_view::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  QAction* copy_action = menu.addAction("复制", this, &log_view::copy);
  copy_action->setEnabled(has_selection());
  menu.addAction("全选", this, &log_view::select_all)->setEnabled(store_.line_count() > 0);
  bool separated = false;
  for (const QPointer<QAction>& action : context_actions_) {
    if (!action) continue;
    if (!separated) menu.addSeparator();
    separated = true;
    menu.addAction(action);
  }
  menu.exec(event->globalPos());
}

void log_view::add_context_action(QAction* action) { context_actions_.append(action); }

QString log_view::line_text(std::size_t index) const {
  return QString::fromStdString(store_.line(index));
}

int log_view::line_height() const { return std::max(1, fontMetrics().lineSpacing()); }

int log_view::full_lines_in_view() const {
  return std::max(1, (viewport()->height() - top_margin) / line_height());
}

void log_view::update_scroll_range(bool keep_at_end) {
  QScrollBar* bar = verticalScrollBar();
  const int visible = full_lines_in_view();
  const int count = clamped_to_int(store_.line_count());
  bar->setRange(0, std::max(0, count - visible));
  bar->setPageStep(visible);
  if (keep_at_end) bar->setValue(bar->maximum());
}

void log_view::lay_out(QTextLayout& layout) const {
  QTextOption option;
  option.setWrapMode(QTextOption::NoWrap);
  layout.setTextOption(option);
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
}

log_view::text_position log_view::position_at(QPoint point) const {
  const std::size_t count = store_.line_count();
  if (count == 0) return {};
  const int row_offset = point.y() - top_margin;
  const int row = row_offset >= 0 ? row_offset / line_height() : -1 - (-row_offset - 1) / line_height();
  const long long line = static_cast<long long>(first_visible_line()) + row;
  if (line < 0) return {};
  if (static_cast<std::size_t>(line) >= count) {
    return {count - 1, clamped_to_int(static_cast<std::size_t>(line_text(count - 1).size()))};
  }
  QTextLayout layout(line_text(static_cast<std::size_t>(line)), font());
  lay_out(layout);
  return {static_cast<std::size_t>(line), layout.lineAt(0).xToCursor(point.x() - left_margin)};
}

log_view::text_position log_view::selection_begin() const { return std::min(anchor_, cursor_); }

log_view::text_position log_view::selection_end() const { return std::max(anchor_, cursor_); }

void log_view::drag_selection_to(QPoint point) {
  last_drag_point_ = point;
  cursor_ = position_at(point);
  viewport()->update();
}

void log_view::scroll_while_dragging() {
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(bar->value() + (last_drag_point_.y() < 0 ? -1 : 1));
  drag_selection_to(last_drag_point_);
}

void log_view::copy_to(QClipboard::Mode mode) const {
  if (has_selection()) QGuiApplication::clipboard()->setText(selected_text(), mode);
}

}  // namespace quorvel
