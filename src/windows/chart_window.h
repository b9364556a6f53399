// `win_chart`: the round-trip times of the run over time, the gateway above, the external host
// below, drawn from the probe records one pixel column at a time.
#pragma once

#include "probe/column_extremes.h"
#include "probe/probe_record.h"

#include <QString>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

namespace quorvel {

struct chart_source {
  const probe_record_list* records = nullptr;
  // A channel's high-ping threshold while its recording box is ticked, else nothing.
  std::function<std::optional<std::int32_t>(std::size_t channel)> high_ping_threshold;
};

class chart_plot;

class chart_window : public QWidget {
  Q_OBJECT
public:
  chart_window(QWidget* owner, chart_source source);

  // The UTC span shown, and whether it follows the end of the run.
  time_span view_span() const;
  bool follows_end() const;
  // The text of the last hover tooltip.
  QString hover_text() const;
  // The chart as a PNG, written to a temporary file and renamed; says why when it fails.
  bool save_image(const QString& path);

  // Where "保存图片…" saves; asks with a file dialog unless set (tests set it). An empty path
  // saves nothing.
  static void set_image_path_chooser(std::function<QString(QWidget* parent)> chooser);

public slots:
  void show_last_5_minutes();
  void show_last_hour();
  void show_all();
  // Follows the end now if it does: the timer calls it once a second.
  void refresh();

protected:
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  void choose_and_save();

  chart_plot* plot_ = nullptr;
  const probe_record_list* records_ = nullptr;
  QTimer refresh_timer_;
};

// Opens `win_chart` owned by `owner`, or raises the one that is open. Returns the window.
chart_window* show_chart_window(QWidget* owner, chart_source source);

}  // namespace quorvel
