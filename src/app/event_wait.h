// A wait that goes on handling window and timer events, as the message loop would.
#pragma once

#include <functional>

class QEventLoop;

namespace quorvel {

class event_wait {
public:
  // Returns true after `duration` (unit 0 milliseconds, 1 seconds, 2 minutes, 3 hours) has
  // passed and, from then on, as soon as `may_end` holds; at once after cancel().
  bool wait_with_events(int duration, int unit, std::function<bool()> may_end = {});
  // What `may_end` looks at has changed.
  void recheck();
  // Ends a wait under way; no-op when none is.
  void cancel();

private:
  QEventLoop* loop_ = nullptr;
  bool duration_passed_ = false;
  std::function<bool()> may_end_;
};

}  // namespace quorvel
