// The record list window through the real widgets: its lines, its "无数据" labels, one window.
#include "windows/record_window.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QTest>

#include <memory>
#include <vector>

using quorvel::episode_record;
using quorvel::record_lists;
using quorvel::show_record_window;

namespace {

struct box_form {
  const char* group;
  const char* caption;
  QRect group_place;
  const char* list;
  const char* label;
  const char* label_parent;
  QRect label_place;
};
const box_form boxes[] = {
    {"分组框1", "网关高ping值列表", {5, 6, 320, 232}, "list_wg_ping", "标签1", "分组框1", {123, 98, 48, 32}},
    {"分组框2", "网关超时/丢包列表", {6, 239, 320, 232}, "list_wg_out", "标签2", "win_records", {128, 344, 48, 32}},
    {"分组框4", "外网高ping值列表", {333, 5, 320, 232}, "list_ww_ping", "标签3", "win_records", {456, 104, 48, 32}},
    {"分组框3", "外网超时/丢包列表", {334, 238, 320, 232}, "list_ww_out", "标签4", "win_records", {464, 336, 48, 32}},
};

QStringList lines_of(QWidget* window, const char* list_name) {
  QStringList lines;
  auto* list = window->findChild<QListWidget*>(list_name);
  if (!list) return {"(no list)"};
  for (int i = 0; i < list->count(); ++i) lines.append(list->item(i)->text());
  return lines;
}

bool label_shown(QWidget* window, const char* label_name) {
  auto* label = window->findChild<QLabel*>(label_name);
  return label && label->isVisibleTo(window);
}

// The four lists of one run, kept together like a channel pair keeps them.
struct record_fixture {
  std::vector<episode_record> wg_ping, wg_out, ww_ping, ww_out;
  record_lists lists() const { return {&wg_ping, &wg_out, &ww_ping, &ww_out}; }
};

}  // namespace

class test_record_window : public QObject {
  Q_OBJECT

  std::unique_ptr<QWidget> owner_;

private slots:
  void init() {
    owner_ = std::make_unique<QWidget>();
    owner_->setObjectName("win_main");
    owner_->show();
  }
  void cleanup() { owner_.reset(); }

  void the_window_and_its_controls_follow_the_form() {
    record_fixture records;
    QWidget* window = show_record_window(owner_.get(), records.lists());
    QCOMPARE(window->objectName(), QString("win_records"));
    QCOMPARE(window->windowTitle(), QString("记录列表"));
    QVERIFY(window->isWindow());
    QCOMPARE(window->parentWidget(), owner_.get());
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowModality(), Qt::NonModal);
    QCOMPARE(window->size(), QSize(659, 480));
    QCOMPARE(window->minimumSize(), window->maximumSize());
    const Qt::WindowFlags flags = window->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    for (const box_form& box : boxes) {
      auto* group = window->findChild<QGroupBox*>(box.group);
      QVERIFY2(group, box.group);
      QCOMPARE(group->parentWidget(), window);
      QCOMPARE(group->geometry(), box.group_place);
      QCOMPARE(group->title(), QString::fromUtf8(box.caption));
      auto* list = group->findChild<QListWidget*>(box.list);
      QVERIFY2(list, box.list);
      QCOMPARE(list->geometry(), QRect(9, 16, 296, 208));
      QCOMPARE(list->font().pixelSize(), 14);
      auto* label = window->findChild<QLabel*>(box.label);
      QVERIFY2(label, box.label);
      QCOMPARE(label->parentWidget()->objectName(), QString::fromUtf8(box.label_parent));
      QCOMPARE(label->geometry(), box.label_place);
      QCOMPARE(label->text(), QString("无数据"));
      // The label lies over the middle of its list, and is what a click or a look there finds.
      const QPoint label_centre = label->mapTo(window, label->rect().center());
      QVERIFY(list->geometry().contains(list->parentWidget()->mapFrom(window, label_centre)));
      QCOMPARE(window->childAt(label_centre), label);
    }
  }

  void each_list_shows_its_records_oldest_first_data() {
    QTest::addColumn<int>("which");
    for (int i = 0; i < 4; ++i) QTest::newRow(boxes[i].list) << i;
  }
  void each_list_shows_its_records_oldest_first() {
    QFETCH(int, which);
    record_fixture records;
    std::vector<episode_record>* chosen[] = {&records.wg_ping, &records.wg_out, &records.ww_ping,
                                              &records.ww_out};
    *chosen[which] = {{"2020-02-03 09:05:07", 1500},
                      {"2020-02-03 09:06:00", 250},
                      {"2020-02-03 10:00:59", 5000},
                      {"2020-02-04 00:00:01", 0}};
    QWidget* window = show_record_window(owner_.get(), records.lists());
    for (int i = 0; i < 4; ++i) {
      const QStringList lines = lines_of(window, boxes[i].list);
      if (i == which) {
        QCOMPARE(lines, QStringList({"发生在:2020-02-03 09:05:07  约:1.50秒",
                                     "发生在:2020-02-03 09:06:00  约:0.25秒",
                                     "发生在:2020-02-03 10:00:59  约:5.00秒",
                                     "发生在:2020-02-04 00:00:01  约:0.00秒"}));
        QVERIFY(!label_shown(window, boxes[i].label));
      } else {
        QVERIFY2(lines.isEmpty(), boxes[i].list);
        QVERIFY2(label_shown(window, boxes[i].label), boxes[i].label);
      }
    }
  }

  void a_missing_list_is_empty_and_odd_start_texts_still_show() {
    record_fixture records;
    records.wg_out = {{"", 1000}, {"2021-01-01 00:00:00", -1250}, {"2021-01-01 00:00:00.5", 99}};
    const record_lists lists{nullptr, &records.wg_out, nullptr, nullptr};
    QWidget* window = show_record_window(owner_.get(), lists);
    QVERIFY(label_shown(window, "标签1"));
    QCOMPARE(lines_of(window, "list_wg_out"),
             QStringList({"发生在:  约:1.00秒", "发生在:2021-01-01 00:00:00  约:-1.25秒",
                          "发生在:2021-01-01 00:00:00.5  约:0.10秒"}));
  }

  void a_second_opening_brings_the_same_window_forward_unfilled() {
    record_fixture records;
    records.ww_out = {{"2020-02-03 09:05:07", 1500}};
    QPointer<QWidget> first = show_record_window(owner_.get(), records.lists());
    records.ww_out.push_back({"2020-02-03 09:09:09", 3000});
    records.wg_ping.push_back({"2020-02-03 09:09:10", 800});

    first->showMinimized();
    QVERIFY(first->isMinimized());
    QWidget* second = show_record_window(owner_.get(), records.lists());
    QCOMPARE(second, first.data());
    QVERIFY(!second->isMinimized());
    QVERIFY(second->isVisible());
    QCOMPARE(lines_of(second, "list_ww_out").size(), 1);
    QVERIFY(lines_of(second, "list_wg_ping").isEmpty());
    QVERIFY(label_shown(second, "标签1"));
    QCOMPARE(owner_->findChildren<QWidget*>("win_records").size(), 1);

    // Closed and opened again, it shows the lists as they are now.
    QVERIFY(second->close());
    QTRY_VERIFY(first.isNull());
    QWidget* third = show_record_window(owner_.get(), records.lists());
    QCOMPARE(lines_of(third, "list_ww_out").size(), 2);
    QCOMPARE(lines_of(third, "list_wg_ping").size(), 1);
    QVERIFY(!label_shown(third, "标签1"));
  }

  void escape_closes_it_even_from_a_list() {
    record_fixture records;
    records.wg_ping = {{"2020-02-03 09:05:07", 1500}};
    QPointer<QWidget> window = show_record_window(owner_.get(), records.lists());
    auto* list = window->findChild<QListWidget*>("list_wg_ping");
    list->setFocus();
    list->setCurrentRow(0);
    QTest::keyClick(list, Qt::Key_Escape);
    QTRY_VERIFY(window.isNull());
    QVERIFY(owner_->isVisible());
  }

  void it_goes_with_its_owner() {
    record_fixture records;
    QPointer<QWidget> window = show_record_window(owner_.get(), records.lists());
    owner_->close();
    QTRY_VERIFY(window.isNull());

    owner_->show();
    window = show_record_window(owner_.get(), records.lists());
    owner_->showMinimized();  // minimising the owner alone leaves it open
    QVERIFY(!window.isNull());
    owner_.reset();
    QVERIFY(window.isNull());
  }
};

QTEST_MAIN(test_record_window)
#include "test_record_window.moc"
