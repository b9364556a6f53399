// The icon in the desktop's system tray: the worse of both channels' last levels as its colour
// (grey when no test runs), both channels' last results in its tooltip, and a menu whose items
// press the main window's buttons, enabled exactly when those are.
#pragma once

#include "probe/latency_stats.h"

#include <QColor>
#include <QIcon>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class QAction;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QWidget;

namespace quorvel {

struct level_colours;

// The main window's buttons the menu stands for.
struct tray_buttons {
  QPushButton* start = nullptr;
  QPushButton* stop = nullptr;
  QPushButton* float_window = nullptr;
  std::array<QPushButton*, 4> records{};  // any enabled one opens the record window
};

// Level order from best to worst: 1, 2, 3, 4, then 0 (no answer).
int worse_level(int a, int b);

class tray_icon : public QObject {
  Q_OBJECT
public:
  tray_icon(QWidget* main_window, tray_buttons buttons);
  ~tray_icon() override;

  // Between a run's start and its stop the icon shows the channels' levels.
  void set_running(bool running);
  void show_result(std::size_t channel, std::int32_t result, int latency_level,
                   const latency_stats& stats);

  // The menu (objectName `menu_tray`); it is built whether or not a tray is offered.
  QMenu* menu() const;
  QColor colour() const;
  QIcon icon() const;
  QString tool_tip() const;
  // nullptr when the desktop offers no system tray.
  QSystemTrayIcon* system_icon() const;
  // A click on the icon.
  void raise_main_window();
  // A further item after 查记录 that is always there, such as 延迟曲线….
  void add_item(QAction* action);

private:
  struct channel_state {
    std::optional<std::int32_t> result;
    int latency_level = 0;
    latency_stats stats;
  };

  const level_colours* shown_colours() const;  // nullptr: grey
  void build_menu();
  QAction* add_button_action(const QString& text, QPushButton* button, QAction* before = nullptr);
  void sync_enabled();
  void click_records();
  void refresh();
  bool eventFilter(QObject* watched, QEvent* event) override;

  QWidget* main_window_;
  tray_buttons buttons_;
  std::unique_ptr<QMenu> menu_;
  QAction* records_action_ = nullptr;
  QAction* after_records_ = nullptr;  // the separator before 显示主窗口
  std::vector<std::pair<QAction*, QPushButton*>> button_actions_;
  std::unique_ptr<QSystemTrayIcon> system_icon_;
  bool running_ = false;
  std::array<channel_state, 2> channels_;
};

}  // namespace quorvel
