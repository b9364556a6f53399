// Small helpers for driving the real windows: scripted probe results, answering a modal dialog
// when it appears, picking an item of a context menu the way a user does.
#pragma once

#include "probe/prober.h"

#include <QApplication>
#include <QAbstractScrollArea>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quorvel::testing {

// Results per host, handed out in order; the last one repeats. Shared with the probe threads.
class result_script {
public:
  void set(const std::string& host, std::vector<std::int32_t> results) {
    std::lock_guard lock(mutex_);
    results_[host] = std::move(results);
    next_[host] = 0;
  }

  static probe_function prober(const std::shared_ptr<result_script>& script) {
    return [script](const std::string& host, int, const probe_cancel&) { return script->take(host); };
  }

private:
  std::int32_t take(const std::string& host) {
    std::lock_guard lock(mutex_);
    const auto found = results_.find(host);
    if (found == results_.end() || found->second.empty()) return -1;
    std::size_t& next = next_[host];
    return found->second[std::min(next++, found->second.size() - 1)];
  }

  std::mutex mutex_;
  std::map<std::string, std::vector<std::int32_t>> results_;
  std::map<std::string, std::size_t> next_;
};

// Runs `answer` once on the first visible top-level widget of type T named `name`, looking every
// few milliseconds from the event loop (modal dialogs run their own, which serves as well).
template <class T>
void when_shown(const QString& name, std::function<void(T*)> answer) {
  auto* poll = new QTimer(qApp);
  QObject::connect(poll, &QTimer::timeout, poll, [poll, name, answer] {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      auto* found = qobject_cast<T*>(widget);
      if (!found || !found->isVisible() || (!name.isEmpty() && found->objectName() != name)) continue;
      poll->stop();
      poll->deleteLater();
      answer(found);
      return;
    }
  });
  poll->start(10);
}

// Opens `target`'s context menu as a right click would and picks the item with `text`; returns
// whether the menu showed that item enabled. Returns once the menu (and what the item opened
// modally) is done.
inline bool pick_context_item(QWidget* target, const QString& text) {
  bool picked = false;
  when_shown<QMenu>({}, [&picked, text](QMenu* menu) {
    for (QAction* action : menu->actions()) {
      if (action->text() != text || !action->isEnabled()) continue;
      menu->setActiveAction(action);
      picked = true;
      QTest::keyClick(menu, Qt::Key_Return);
      return;
    }
    menu->close();
  });
  // A scroll area takes a mouse's context menu through its viewport.
  if (auto* area = qobject_cast<QAbstractScrollArea*>(target)) target = area->viewport();
  const QPoint inside(target->width() / 2, target->height() / 2);
  QContextMenuEvent event(QContextMenuEvent::Mouse, inside, target->mapToGlobal(inside));
  QApplication::sendEvent(target, &event);
  return picked;
}

}  // namespace quorvel::testing
