#include "app/tray_icon.h"

#include "text/conversions.h"
#include "windows/float_window.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QWidget>

#include <algorithm>

namespace quorvel {

namespace {

constexpr const char* channel_prefixes[] = {"网关:", "外网:"};
constexpr QColor idle_background{0xA0, 0xA0, 0xA0};
constexpr QColor idle_bars{0x50, 0x50, 0x50};
constexpr QColor frame_colour{0x80, 0xA0, 0x80};  // the program icon's frame
constexpr int icon_size = 64;

// Position from best (0) to worst (4).
int badness(int level) { return level <= 0 ? 4 : std::min(level, 4) - 1; }

// The program icon's shape: a framed rounded square with four falling bars, here in one colour
// pair.
QPixmap draw_icon(const QColor& background, const QColor& bars) {
  QPixmap pixmap(icon_size, icon_size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(frame_colour, 3));
  painter.setBrush(background);
  painter.drawRoundedRect(QRectF(2, 2, 60, 60), 10, 10);
  painter.setPen(Qt::NoPen);
  painter.setBrush(bars);
  for (const QRect& bar : {QRect(11, 14, 9, 38), QRect(22, 26, 9, 26), QRect(33, 36, 9, 16),
                           QRect(44, 44, 9, 8), QRect(9, 52, 46, 2)})
    painter.drawRect(bar);
  return pixmap;
}

std::string loss_percent(const latency_stats& stats) {
  if (stats.probe_count <= 0) return "0.00%";
  const double lost = stats.class_counts[timeout_class];
  return number_to_fixed_text(lost * 100.0 / stats.probe_count, 2) + "%";
}

}  // namespace

int worse_level(int a, int b) { return badness(a) >= badness(b) ? a : b; }

tray_icon::tray_icon(QWidget* main_window, tray_buttons buttons)
    : QObject(main_window), main_window_(main_window), buttons_(buttons) {
  build_menu();
  if (QSystemTrayIcon::isSystemTrayAvailable()) {
    system_icon_ = std::make_unique<QSystemTrayIcon>();
    system_icon_->setObjectName(QStringLiteral("tray_icon"));
    system_icon_->setContextMenu(menu_.get());
    connect(system_icon_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
              if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                raise_main_window();
            });
  }
  refresh();
  if (system_icon_) system_icon_->show();
}

tray_icon::~tray_icon() = default;

void tray_icon::build_menu() {
  menu_ = std::make_unique<QMenu>();
  menu_->setObjectName(QStringLiteral("menu_tray"));
  add_button_action(QStringLiteral("开始测试"), buttons_.start);
  add_button_action(QStringLiteral("停止测试"), buttons_.stop);
  add_button_action(QStringLiteral("悬浮窗"), buttons_.float_window);
  records_action_ = menu_->addAction(QStringLiteral("查记录"), this, [this] { click_records(); });
  records_action_->setObjectName(QStringLiteral("act_tray_records"));
  for (QPushButton* button : buttons_.records) button->installEventFilter(this);
  after_records_ = menu_->addSeparator();
  menu_->addAction(QStringLiteral("显示主窗口"), this, [this] { raise_main_window(); })
      ->setObjectName(QStringLiteral("act_tray_show"));
  menu_->addAction(QStringLiteral("退出"), main_window_, &QWidget::close)
      ->setObjectName(QStringLiteral("act_tray_quit"));
  connect(menu_.get(), &QMenu::aboutToShow, this, [this] { sync_enabled(); });
  sync_enabled();
}

// Pressing the button itself runs its handler with its refusals, and does nothing while the
// button is disabled.
QAction* tray_icon::add_button_action(const QString& text, QPushButton* button, QAction* before) {
  button->installEventFilter(this);
  auto* action = new QAction(text, menu_.get());
  connect(action, &QAction::triggered, button, &QPushButton::click);
  action->setObjectName(QStringLiteral("act_tray_") + button->objectName().mid(4));  // btn_start...
  menu_->insertAction(before, action);
  button_actions_.emplace_back(action, button);
  return action;
}

void tray_icon::add_item(QAction* action) { menu_->insertAction(after_records_, action); }

void tray_icon::click_records() {
  for (QPushButton* button : buttons_.records) {
    if (button->isEnabled()) {
      button->click();
      return;
    }
  }
}

void tray_icon::sync_enabled() {
  for (const auto& [action, button] : button_actions_) action->setEnabled(button->isEnabled());
  records_action_->setEnabled(std::any_of(buttons_.records.begin(), buttons_.records.end(),
                                          [](QPushButton* b) { return b->isEnabled(); }));
}

bool tray_icon::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::EnabledChange) sync_enabled();
  return QObject::eventFilter(watched, event);
}

void tray_icon::set_running(bool running) {
  if (running) channels_ = {};
  running_ = running;
  refresh();
}

void tray_icon::show_result(std::size_t channel, std::int32_t result, int latency_level,
                            const latency_stats& stats) {
  channel_state& state = channels_.at(channel);
  state.result = result;
  state.latency_level = latency_level;
  state.stats = stats;
  refresh();
}

const level_colours* tray_icon::shown_colours() const {
  if (!running_) return nullptr;
  std::optional<int> level;
  for (const channel_state& state : channels_)
    if (state.result) level = level ? worse_level(*level, state.latency_level) : state.latency_level;
  return level ? colours_of_level(std::min(*level, 4)) : nullptr;
}

QColor tray_icon::colour() const {
  const level_colours* colours = shown_colours();
  return colours ? colours->background : idle_background;
}

QIcon tray_icon::icon() const {
  const level_colours* colours = shown_colours();
  return QIcon(colours ? draw_icon(colours->background, colours->text)
                       : draw_icon(idle_background, idle_bars));
}

QString tray_icon::tool_tip() const {
  QString text = running_ ? QStringLiteral("Quorvel 正在测试") : QStringLiteral("Quorvel 未在测试");
  for (std::size_t i = 0; i < channels_.size(); ++i) {
    const channel_state& state = channels_[i];
    std::string line = channel_prefixes[i];
    if (!state.result) {
      line += "N/A";
    } else {
      line += *state.result < 0 ? "超时" : int_to_text(*state.result) + "ms";
      line += "  丢包: " + loss_percent(state.stats);
    }
    text += QLatin1Char('\n') + QString::fromStdString(line);
  }
  return text;
}

QMenu* tray_icon::menu() const { return menu_.get(); }

QSystemTrayIcon* tray_icon::system_icon() const { return system_icon_.get(); }

void tray_icon::raise_main_window() {
  if (main_window_->isMinimized()) {
    main_window_->showNormal();
  } else {
    main_window_->show();
  }
  main_window_->raise();
  main_window_->activateWindow();
}

void tray_icon::refresh() {
  if (!system_icon_) return;
  system_icon_->setIcon(icon());
  system_icon_->setToolTip(tool_tip());
}

}  // namespace quorvel
