#include "app/file_writer.h"

#include <QSaveFile>

#include <utility>

namespace quorvel {

background_file_writer::background_file_writer(QString path,
                                               std::function<void(bool, QString)> on_end)
    : path_(std::move(path)), on_end_(std::move(on_end)), thread_([this] { run(); }) {}

background_file_writer::~background_file_writer() { cancel(); }

void background_file_writer::write(std::string bytes) {
  std::lock_guard lock(mutex_);
  queued_bytes_ += bytes.size();
  queue_.push_back(std::move(bytes));
  wake_.notify_one();
}

std::size_t background_file_writer::queued_bytes() const {
  std::lock_guard lock(mutex_);
  return queued_bytes_;
}

void background_file_writer::commit() {
  std::lock_guard lock(mutex_);
  commit_asked_ = true;
  wake_.notify_one();
}

void background_file_writer::cancel() {
  {
    std::lock_guard lock(mutex_);
    cancel_asked_ = true;
    wake_.notify_one();
  }
  if (thread_.joinable()) thread_.join();
}

void background_file_writer::run() {
  QSaveFile file(path_);  // discards its temporary file unless committed
  if (!file.open(QIODevice::WriteOnly)) {
    on_end_(false, file.errorString());
    return;
  }
  if (!write_queued_until_done(file)) return;
  if (file.commit()) {
    on_end_(true, {});
  } else {
    on_end_(false, file.errorString());
  }
}

// Returns true when everything was written and a commit was asked for; false when cancelled or
// failed (after telling).
bool background_file_writer::write_queued_until_done(QSaveFile& file) {
  for (;;) {
    std::string bytes;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return cancel_asked_ || commit_asked_ || !queue_.empty(); });
      if (cancel_asked_) {
        file.cancelWriting();
        return false;
      }
      if (queue_.empty()) return true;  // commit asked, all written
      bytes = std::move(queue_.front());
      queue_.pop_front();
    }
    const bool written = file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
                         static_cast<qint64>(bytes.size());
    {
      std::lock_guard lock(mutex_);
      queued_bytes_ -= bytes.size();
    }
    if (!written) {
      const QString reason = file.errorString();
      file.cancelWriting();
      on_end_(false, reason);
      return false;
    }
  }
}

}  // namespace quorvel
