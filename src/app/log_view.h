// A read-only view of a probe log that draws only the visible lines, so that a log of days stays
// cheap: vertical scroll bar, follows the end while the user is there, selection and copy.
#pragma once

#include "probe/log_store.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QClipboard>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTextLayout>
#include <QTimer>

#include <cstddef>
#include <string_view>

namespace quorvel {

class log_view : public QAbstractScrollArea {
  Q_OBJECT
  // The whole log with "\n" between lines.
  Q_PROPERTY(QString plainText READ plain_text)

public:
  explicit log_view(QWidget* parent = nullptr);

  // Appends UTF-8 text after the last character; "\r\n" starts a new line.
  void append(std::string_view text);
  // Shows the probes of `channel` in `records` from now on, and empties the view.
  void attach_records(const probe_record_list& records, std::size_t channel);
  // The channel's next probe of the records, which must hold it, as a new line.
  void append_probe();
  void clear();

  QString plain_text() const;
  const probe_log& store() const { return store_; }

  bool has_selection() const;
  QString selected_text() const;
  void select_all();
  void copy() const;
  // An action of the log's owner, shown after the log's own items in its context menu, in the
  // order added. The view does not take ownership.
  void add_context_action(QAction* action);
  // The first line drawn at the top of the view.
  std::size_t first_visible_line() const;
  bool is_at_end() const;

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

private:
  // A place between two characters: a line and a UTF-16 offset within it.
  struct text_position {
    std::size_t line = 0;
    int column = 0;
    auto operator<=>(const text_position&) const = default;
  };

  QString line_text(std::size_t index) const;
  int line_height() const;
  int full_lines_in_view() const;
  void update_scroll_range(bool keep_at_end);
  void show_growth(bool was_at_end);
  void lay_out(QTextLayout& layout) const;
  text_position position_at(QPoint point) const;
  text_position selection_begin() const;
  text_position selection_end() const;
  QList<QTextLayout::FormatRange> selection_within(std::size_t line, qsizetype length) const;
  void drag_selection_to(QPoint point);
  void scroll_while_dragging();
  void copy_to(QClipboard::Mode mode) const;

  probe_log store_;
  QList<QPointer<QAction>> context_actions_;
  text_position anchor_;
  text_position cursor_;
  bool selecting_ = false;
  QPoint last_drag_point_;
  QTimer drag_scroll_timer_;
};

}  // namespace quorvel
