// Writes a file off the GUI thread, so that slow disks, a full disk or the final flush never hold
// the GUI up: the bytes go to a temporary file beside the chosen one, which takes the chosen name
// only once everything is written. On failure or cancel nothing is left behind.
#pragma once

#include <QString>

class QSaveFile;

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quorvel {

class background_file_writer {
public:
  // `on_end` runs on the writer's thread once the file is in place (true) or has failed (false,
  // with the system's reason); never after cancel().
  background_file_writer(QString path, std::function<void(bool written, QString reason)> on_end);
  ~background_file_writer();  // cancels unless committed

  void write(std::string bytes);
  // Bytes handed over and not yet written.
  std::size_t queued_bytes() const;
  // After the last write: rename the complete file to its name.
  void commit();
  // Discards everything; returns once the temporary file is gone.
  void cancel();

private:
  void run();
  bool write_queued_until_done(QSaveFile& file);

  const QString path_;
  const std::function<void(bool, QString)> on_end_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::string> queue_;   // guarded by mutex_
  std::size_t queued_bytes_ = 0;    // guarded by mutex_
  bool commit_asked_ = false;       // guarded by mutex_
  bool cancel_asked_ = false;       // guarded by mutex_
  std::thread thread_;
};

}  // namespace quorvel
