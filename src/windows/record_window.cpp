#include "windows/record_window.h"

#include "windows/caption_frame.h"
#include "windows/window_support.h"

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QVariant>
#include <QWidget>

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <string>
#include <tuple>

namespace quorvel {

namespace {

// The client area that a 665 x 509 window with a fixed single frame and a title bar leaves.
constexpr QSize client_size{659, 480};
constexpr QSize group_size{320, 232};
constexpr QRect list_place{9, 16, 296, 208};
constexpr QSize label_size{48, 32};

// One box per record list, in the order of `record_lists`. Every "无数据" label except the first
// belongs to the window itself rather than to its group box.
struct record_box_form {
  const char* group_name;
  const char* caption;
  QPoint group_place;
  const char* list_name;
  const char* label_name;
  bool label_in_group;
  QPoint label_place;
};
constexpr record_box_form record_box_forms[] = {
    {"分组框1", "网关高ping值列表", {5, 6}, "list_wg_ping", "标签1", true, {123, 98}},
    {"分组框2", "网关超时/丢包列表", {6, 239}, "list_wg_out", "标签2", false, {128, 344}},
    {"分组框4", "外网高ping值列表", {333, 5}, "list_ww_ping", "标签3", false, {456, 104}},
    {"分组框3", "外网超时/丢包列表", {334, 238}, "list_ww_out", "标签4", false, {464, 336}},
};
static_assert(std::size(record_box_forms) == std::tuple_size_v<record_lists>);

class record_window : public QWidget {
public:
  explicit record_window(QWidget* owner)
      : QWidget(owner, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint) {
    owner->installEventFilter(this);
  }

protected:
  // An owned window goes when its owner is closed or hidden, not only when it is destroyed.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == parent() && event->type() == QEvent::Hide && !event->spontaneous()) close();
    return QWidget::eventFilter(watched, event);
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() == Qt::Key_Escape) {
      close();
      return;
    }
    QWidget::keyPressEvent(event);
  }
};

// A line that keeps only its record and writes its text when the list box asks for it: a long
// list then costs little more than the records themselves. A start text of the usual 19
// characters is kept inline; any other is written out once, the ordinary way.
class record_line_item : public QListWidgetItem {
public:
  explicit record_line_item(const episode_record& record) : duration_ms_(record.duration_ms) {
    inline_start_ = record.start_text.size() == start_.size();
    if (inline_start_) {
      std::copy(record.start_text.begin(), record.start_text.end(), start_.begin());
    } else {
      setText(QString::fromStdString(record_line(record)));
      setData(Qt::UserRole, QString::fromStdString(record.start_text));
    }
  }

  episode_record record() const {
    if (!inline_start_) return {data(Qt::UserRole).toString().toStdString(), duration_ms_};
    return {std::string(start_.data(), start_.size()), duration_ms_};
  }

  QVariant data(int role) const override {
    if (role != Qt::DisplayRole || !inline_start_) return QListWidgetItem::data(role);
    const episode_record record{std::string(start_.data(), start_.size()), duration_ms_};
    return QString::fromStdString(record_line(record));
  }

private:
  // A copy: the window shows the list as it was when it opened.
  std::array<char, 19> start_{};
  bool inline_start_ = false;
  std::int32_t duration_ms_ = 0;
};

void fill_record_list(QListWidget* list, const std::vector<episode_record>& records, QLabel* label) {
  label->setVisible(records.empty());
  list->clear();
  for (const episode_record& record : records) list->addItem(new record_line_item(record));
}

void add_record_box(QWidget* window, const record_box_form& form,
                    const std::vector<episode_record>* records) {
  auto* group = new caption_frame(QString::fromUtf8(form.caption), window);
  group->setObjectName(QString::fromUtf8(form.group_name));
  group->setGeometry(QRect(form.group_place, group_size));
  auto* list = new QListWidget(group);
  list->setObjectName(QString::fromUtf8(form.list_name));
  list->setGeometry(list_place);
  list->setUniformItemSizes(true);  // keeps long lists quick to fill and to scroll
  // Made after the list (and raised), so the label lies over it.
  auto* label = new QLabel(QString::fromUtf8("无数据"), form.label_in_group ? group : window);
  label->setObjectName(QString::fromUtf8(form.label_name));
  label->setGeometry(QRect(form.label_place, label_size));
  label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  label->raise();
  static const std::vector<episode_record> no_records;
  fill_record_list(list, records ? *records : no_records, label);
}

// What the lists show, in the window's list order.
record_list_copies shown_records(QWidget* window) {
  record_list_copies shown;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const auto* list = window->findChild<QListWidget*>(QString::fromUtf8(record_box_forms[i].list_name));
    for (int row = 0; list && row < list->count(); ++row)
      shown[i].push_back(static_cast<const record_line_item*>(list->item(row))->record());
  }
  return shown;
}

void add_export_menu(QWidget* window, const record_export_handler& export_all) {
  auto* action = new QAction(QString::fromUtf8("导出全部记录…"), window);
  action->setObjectName("act_export_records");
  QObject::connect(action, &QAction::triggered, window,
                   [window, export_all] { export_all(window, shown_records(window)); });
  for (QListWidget* list : window->findChildren<QListWidget*>()) {
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    list->addAction(action);
  }
}

QWidget* open_record_window(QWidget* owner) {
  for (QObject* child : owner->children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget && widget->isWindow() && widget->objectName() == QLatin1String("win_records")) {
      return widget;
    }
  }
  return nullptr;
}

void bring_forward(QWidget* window) {
  if (window->isMinimized()) {
    window->showNormal();
  } else {
    window->show();
    window->raise();
  }
  window->activateWindow();
}

}  // namespace

QWidget* show_record_window(QWidget* owner, const record_lists& lists,
                            record_export_handler export_all) {
  if (QWidget* open = open_record_window(owner)) {
    bring_forward(open);
    return open;
  }
  auto* window = new record_window(owner);
  window->setObjectName("win_records");
  window->setAttribute(Qt::WA_DeleteOnClose);
  window->setWindowTitle(QString::fromUtf8("记录列表"));
  window->setFont(chinese_font(14));
  window->setFixedSize(client_size);
  for (std::size_t i = 0; i < lists.size(); ++i) add_record_box(window, record_box_forms[i], lists[i]);
  if (export_all) add_export_menu(window, export_all);
  fit_texts(window);
  centre_on_screen(window, owner->screen());
  window->show();
  return window;
}

}  // namespace quorvel
