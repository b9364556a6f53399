#include "app/event_wait.h"

#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cstdint>

namespace quorvel {
namespace {

std::int64_t milliseconds_per_unit(int unit) {
  switch (unit) {
    case 1: return 1000;
    case 2: return 60000;
    case 3: return 3600000;
    default: return 1;
  }
}

}  // namespace

bool event_wait::wait_with_events(int duration, int unit, std::function<bool()> may_end) {
  const std::int64_t total = std::int64_t{duration} * milliseconds_per_unit(unit);
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, &loop, [this] {
    duration_passed_ = true;
    recheck();
  });
  loop_ = &loop;
  duration_passed_ = false;
  may_end_ = std::move(may_end);
  timer.start(static_cast<int>(std::clamp<std::int64_t>(total, 0, INT_MAX)));
  loop.exec();
  loop_ = nullptr;
  may_end_ = {};
  return true;
}

void event_wait::recheck() {
  if (loop_ && duration_passed_ && (!may_end_ || may_end_())) loop_->quit();
}

void event_wait::cancel() {
  if (loop_) loop_->quit();
}

}  // namespace quorvel
