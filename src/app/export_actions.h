// The export commands: the log views' "导出日志…" and "导出数据…" and the record window's
// "导出全部记录…". Each asks for a file name, writes a temporary file a slice at a time (so the
// probe cycles keep their timing) and renames it only once it is complete; a file that cannot be
// written gets a message and leaves nothing under the chosen name.
#pragma once

#include "probe/export_formats.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QWidget;

namespace quorvel {

class log_view;

// Where the exports take their data from, read on the GUI thread between probes.
struct export_sources {
  std::function<text_lines(std::size_t channel)> log_lines;
  std::function<std::string()> run_start;  // time stamp text of the run's start
};

class export_job;

class export_actions : public QObject {
  Q_OBJECT
public:
  // An export's slice of work on the GUI thread, and how long one may run before a progress
  // dialog is shown.
  static constexpr int slice_ms = 5;
  static constexpr int progress_after_ms = 500;

  export_actions(QWidget* window, export_sources sources);
  ~export_actions() override;  // a running export is abandoned, its temporary file removed

  // "导出日志…" and "导出数据…" in the view's context menu.
  void add_log_actions(log_view& view, std::size_t channel);
  // "导出全部记录…" of the record window, with the lists it shows.
  void export_records(QWidget* parent, record_list_copies lists);
  // The data under a running export is about to be cleared: the export is abandoned.
  void abandon();
  bool busy() const;
  // Both channels' probes of the current run, in the order shown; "导出数据…" is disabled
  // until they are given.
  void set_probe_rows(std::function<probe_rows()> rows);

signals:
  void export_finished(bool written);

private:
  void export_log(std::size_t channel);
  void export_data();
  using format_factory = std::function<std::unique_ptr<export_format>()>;
  void run(QWidget* parent, const QString& title, const std::string& default_name,
           const QString& filter, const format_factory& make_format);
  std::string run_start() const;

  QWidget* window_;
  export_sources sources_;
  std::function<probe_rows()> probe_rows_;
  std::vector<QPointer<QAction>> data_actions_;
  QPointer<export_job> job_;
};

}  // namespace quorvel
