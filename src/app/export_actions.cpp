#include "app/export_actions.h"

#include "app/file_writer.h"
#include "app/log_view.h"
#include "text/time_stamp.h"
#include "windows/window_support.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QProgressDialog>
#include <QTimer>
#include <QWidget>

#include <sstream>
#include <utility>

namespace quorvel {

namespace {

constexpr std::size_t rows_between_clock_checks = 512;
// Formatted bytes waiting for the disk, beyond which formatting pauses.
constexpr std::size_t max_queued_bytes = 16 * 1024 * 1024;
const QString text_filter = QStringLiteral("文本文件 (*.txt)");
const QString csv_filter = QStringLiteral("CSV 文件 (*.csv)");

QString qs(const std::string& text) { return QString::fromStdString(text); }

QString ask_file_name(QWidget* parent, const QString& title, const QString& default_path,
                      const QString& filter) {
  QFileDialog dialog(parent, title, default_path, filter);
  dialog.setObjectName(QStringLiteral("dlg_export"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QFileInfo(default_path).suffix());
  dialog.selectFile(default_path);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void show_failure(QWidget* parent, const QString& path, const QString& reason) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("导出失败"),
                  QStringLiteral("无法写入文件“%1”，没有导出任何内容。\n"
                                 "请检查文件夹的写入权限和磁盘空间。\n\n（%2）")
                      .arg(QDir::toNativeSeparators(path), reason),
                  QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("msg_export_failed"));
  box.exec();
}

}  // namespace

// One export under way: rows formatted a slice at a time on the GUI thread (where the data
// lives), written by a thread of its own to a temporary file that takes the chosen name at the end.
class export_job : public QObject {
public:
  export_job(QWidget* parent, const QString& path, std::unique_ptr<export_format> format)
      : QObject(parent), parent_(parent), path_(path), format_(std::move(format)) {
    slice_timer_.setSingleShot(true);
    connect(&slice_timer_, &QTimer::timeout, this, [this] { write_slice(); });
  }

  void start() {
    since_start_.start();
    writer_ = std::make_unique<background_file_writer>(path_, [this](bool written, QString reason) {
      // From the writer's thread; dropped if the job is gone by then.
      QMetaObject::invokeMethod(
          this, [this, written, reason] { on_writer_end(written, reason); }, Qt::QueuedConnection);
    });
    std::ostringstream head;
    format_->write_head(head);
    writer_->write(std::move(head).str());
    slice_timer_.start(0);
  }

  // Returns once nothing is left of the file.
  void abandon() {
    if (writer_) writer_->cancel();
    finish(false);
  }

  bool done() const { return done_; }
  std::function<void(bool)> on_finished;

private:
  void write_slice() {
    if (writer_->queued_bytes() > max_queued_bytes) {
      slice_timer_.start(1);  // let the disk catch up
      return;
    }
    QElapsedTimer slice;
    slice.start();
    std::ostringstream out;
    const std::size_t total = format_->row_count();
    while (next_row_ < total && slice.elapsed() < export_actions::slice_ms) {
      const std::size_t end = std::min(total, next_row_ + rows_between_clock_checks);
      format_->write_rows(out, next_row_, end);
      next_row_ = end;
    }
    writer_->write(std::move(out).str());
    show_progress();
    if (next_row_ < total) {
      slice_timer_.start(0);
    } else {
      writer_->commit();
    }
  }

  void on_writer_end(bool written, const QString& reason) {
    if (done_) return;
    if (written) {
      finish(true);
      return;
    }
    writer_->cancel();
    finish(false);
    show_failure(parent_, path_, reason);
  }

  void show_progress() {
    const std::size_t total = std::max<std::size_t>(format_->row_count(), 1);
    if (!progress_ && since_start_.elapsed() >= export_actions::progress_after_ms) {
      progress_ = new QProgressDialog(QStringLiteral("正在导出……"), QStringLiteral("取消"), 0,
                                      1000, parent_);
      progress_->setObjectName(QStringLiteral("dlg_export_progress"));
      progress_->setWindowTitle(QStringLiteral("导出"));
      progress_->setWindowModality(Qt::WindowModal);
      progress_->setMinimumDuration(0);
      progress_->setAutoClose(false);
      progress_->setAutoReset(false);
      connect(progress_, &QProgressDialog::canceled, this, [this] { abandon(); });
      progress_->show();
    }
    if (progress_) progress_->setValue(static_cast<int>(next_row_ * 1000 / total));
  }

  void finish(bool written) {
    if (done_) return;
    done_ = true;
    slice_timer_.stop();
    delete progress_;
    if (on_finished) on_finished(written);
    deleteLater();
  }

  QWidget* parent_;
  const QString path_;
  std::unique_ptr<export_format> format_;
  std::unique_ptr<background_file_writer> writer_;
  std::size_t next_row_ = 0;
  QElapsedTimer since_start_;
  QTimer slice_timer_;
  QPointer<QProgressDialog> progress_;
  bool done_ = false;
};

export_actions::export_actions(QWidget* window, export_sources sources)
    : QObject(window), window_(window), sources_(std::move(sources)) {}

export_actions::~export_actions() { abandon(); }

void export_actions::add_log_actions(log_view& view, std::size_t channel) {
  auto* log_action = new QAction(QStringLiteral("导出日志…"), &view);
  log_action->setObjectName(QStringLiteral("act_export_log"));
  connect(log_action, &QAction::triggered, this, [this, channel] { export_log(channel); });
  view.add_context_action(log_action);
  auto* data_action = new QAction(QStringLiteral("导出数据…"), &view);
  data_action->setObjectName(QStringLiteral("act_export_data"));
  data_action->setEnabled(static_cast<bool>(probe_rows_));
  data_actions_.emplace_back(data_action);
  connect(data_action, &QAction::triggered, this, [this] { export_data(); });
  view.add_context_action(data_action);
}

std::string export_actions::run_start() const {
  const std::string start = sources_.run_start ? sources_.run_start() : std::string();
  return start.empty() ? time_stamp_text(current_date_time()) : start;
}

void export_actions::export_log(std::size_t channel) {
  const std::string what = "日志-" + std::string(channel_name(channel));
  run(window_, QStringLiteral("导出日志"), export_file_name(what, run_start(), ".txt"), text_filter,
      [this, channel] { return std::make_unique<log_text_format>(sources_.log_lines(channel)); });
}

void export_actions::export_data() {
  if (!probe_rows_) return;
  run(window_, QStringLiteral("导出数据"), export_file_name("数据", run_start(), ".csv"), csv_filter,
      [this] { return std::make_unique<probe_csv_format>(probe_rows_()); });
}

void export_actions::export_records(QWidget* parent, record_list_copies lists) {
  run(parent, QStringLiteral("导出全部记录"), export_file_name("记录", run_start(), ".csv"),
      csv_filter, [&lists] { return std::make_unique<record_csv_format>(std::move(lists)); });
}

// The rows to write are fixed once the name is chosen: probes go on while the dialog is open.
void export_actions::run(QWidget* parent, const QString& title, const std::string& default_name,
                         const QString& filter, const format_factory& make_format) {
  if (busy()) return;
  const QString default_path = QDir(documents_folder()).filePath(qs(default_name));
  const QPointer<QWidget> alive(parent);
  const QString path = ask_file_name(parent, title, default_path, filter);
  if (path.isEmpty() || busy() || !alive) return;
  auto* job = new export_job(parent, path, make_format());
  job->on_finished = [this](bool written) { emit export_finished(written); };
  job_ = job;
  job->start();
}

void export_actions::abandon() {
  if (job_) job_->abandon();
}

bool export_actions::busy() const { return job_ && !job_->done(); }

void export_actions::set_probe_rows(std::function<probe_rows()> rows) {
  probe_rows_ = std::move(rows);
  for (const QPointer<QAction>& action : data_actions_)
    if (action) action->setEnabled(static_cast<bool>(probe_rows_));
}

}  // namespace quorvel
