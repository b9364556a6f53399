// The tray icon's pieces on the offscreen platform (which offers no tray): its menu drives the
// main window's own button handlers and follows their enabled state; its colour and tooltip.
#include "app/main_window.h"
#include "app/tray_icon.h"
#include "gui_driving.h"
#include "windows/float_window.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <memory>

using namespace quorvel;
using namespace quorvel::testing;

namespace {

constexpr const char* gateway = "127.0.0.5";
constexpr const char* external = "baidu.com";  // scripted, never resolved
const char* const records_buttons[] = {"btn_wg_ping", "btn_wg_timeout", "btn_ww_ping",
                                       "btn_ww_timeout"};

QColor level_background(int level) { return colours_of_level(level)->background; }

}  // namespace

class test_tray_icon : public QObject {
  Q_OBJECT

private:
  QTemporaryDir dir_;
  std::shared_ptr<result_script> script_ = std::make_shared<result_script>();
  std::unique_ptr<main_window> window_;

  template <class Widget>
  Widget* find(const char* name) {
    return window_->findChild<Widget*>(QString::fromUtf8(name));
  }

  QAction* action(const char* name) {
    return window_->tray().menu()->findChild<QAction*>(QString::fromUtf8(name));
  }

  // Every button item is enabled exactly when its button is; 查记录 when any record button is.
  void verify_items_follow_buttons() {
    for (const auto& [item, button] : {std::pair{"act_tray_start", "btn_start"},
                                       std::pair{"act_tray_stop", "btn_stop"},
                                       std::pair{"act_tray_window", "btn_window"}}) {
      QVERIFY2(action(item), item);
      QCOMPARE(action(item)->isEnabled(), find<QPushButton>(button)->isEnabled());
    }
    bool any_records = false;
    for (const char* name : records_buttons) any_records |= find<QPushButton>(name)->isEnabled();
    QCOMPARE(action("act_tray_records")->isEnabled(), any_records);
    QVERIFY(action("act_tray_show")->isEnabled());
    QVERIFY(action("act_tray_quit")->isEnabled());
  }

private slots:
  void init() {
    script_->set(gateway, {20});
    script_->set(external, {-1, -1, 30});
    window_ = std::make_unique<main_window>(main_window_setup{
        dir_.filePath("ini.ini").toStdString(), result_script::prober(script_), {}});
    window_->show();
  }

  void cleanup() { window_.reset(); }

  void worse_level_order_data() {
    QTest::addColumn<int>("a");
    QTest::addColumn<int>("b");
    QTest::addColumn<int>("worse");
    QTest::newRow("1 2") << 1 << 2 << 2;
    QTest::newRow("3 2") << 3 << 2 << 3;
    QTest::newRow("4 3") << 4 << 3 << 4;
    QTest::newRow("4 0") << 4 << 0 << 0;
    QTest::newRow("0 1") << 0 << 1 << 0;
    QTest::newRow("2 2") << 2 << 2 << 2;
  }

  void worse_level_order() {
    QFETCH(int, a);
    QFETCH(int, b);
    QFETCH(int, worse);
    QCOMPARE(worse_level(a, b), worse);
  }

  void menu_items_and_their_order() {
    QStringList texts;
    for (QAction* item : window_->tray().menu()->actions())
      if (!item->isSeparator()) texts << item->text();
    QCOMPARE(texts, (QStringList{"开始测试", "停止测试", "悬浮窗", "查记录", "延迟曲线…", "显示主窗口",
                                 "退出"}));
    if (!QSystemTrayIcon::isSystemTrayAvailable()) QVERIFY(!window_->tray().system_icon());
  }

  // A whole run driven from the menu alone, with the buttons' refusal included.
  void items_press_the_buttons() {
    verify_items_follow_buttons();
    find<QLineEdit>("编辑框")->clear();
    QString refusal;
    when_shown<QMessageBox>({}, [&refusal](QMessageBox* box) {
      refusal = box->text();
      box->accept();
    });
    action("act_tray_start")->trigger();
    QCOMPARE(refusal, QStringLiteral("局域网网关不能为空！"));
    QVERIFY(!window_->test_running());
    verify_items_follow_buttons();

    find<QLineEdit>("编辑框")->setText(QString::fromUtf8(gateway));
    find<QCheckBox>("选择框_ww_timeout")->click();
    action("act_tray_start")->trigger();
    QVERIFY(window_->test_running());
    verify_items_follow_buttons();
    action("act_tray_window")->trigger();
    QVERIFY(window_->findChild<float_window_host*>()->exists());
    QTRY_VERIFY_WITH_TIMEOUT(find<QPushButton>("btn_ww_timeout")->isEnabled(), 10000);
    verify_items_follow_buttons();
    action("act_tray_records")->trigger();
    QVERIFY(window_->findChild<QWidget*>("win_records"));
    action("act_tray_stop")->trigger();
    QVERIFY(!window_->test_running());
    QVERIFY(!window_->findChild<float_window_host*>()->exists());
    verify_items_follow_buttons();
  }

  // The chart item is there idle and during a run, and opens the one chart window.
  void chart_item_opens_the_chart() {
    QAction* item = nullptr;
    for (QAction* each : window_->tray().menu()->actions())
      if (each->objectName() == "action_chart") item = each;
    QVERIFY(item);
    QVERIFY(item->isEnabled());
    item->trigger();
    QWidget* chart = window_->findChild<QWidget*>("win_chart");
    QVERIFY(chart);
    QVERIFY(chart->isVisible());
    item->trigger();
    QCOMPARE(window_->findChildren<QWidget*>("win_chart").size(), 1);
  }

  void show_and_quit() {
    window_->showMinimized();
    action("act_tray_show")->trigger();
    QVERIFY(!window_->isMinimized());
    QVERIFY(window_->isVisible());
    window_->showMinimized();
    window_->tray().raise_main_window();  // what a click on the icon does
    QVERIFY(!window_->isMinimized());
    action("act_tray_quit")->trigger();
    QVERIFY(!window_->isVisible());
  }

  void colour_is_the_worse_channel_data() {
    QTest::addColumn<int>("gateway_level");
    QTest::addColumn<int>("external_level");
    QTest::addColumn<int>("shown_level");
    QTest::newRow("fast and middling") << 1 << 2 << 2;
    QTest::newRow("slow and slower") << 3 << 4 << 4;
    QTest::newRow("timeout is worst") << 4 << 0 << 0;
    QTest::newRow("both fast") << 1 << 1 << 1;
  }

  void colour_is_the_worse_channel() {
    QFETCH(int, gateway_level);
    QFETCH(int, external_level);
    QFETCH(int, shown_level);
    tray_icon& tray = window_->tray();
    const QColor grey = tray.colour();
    QVERIFY(grey.red() == grey.green() && grey.green() == grey.blue());
    tray.set_running(true);
    QCOMPARE(tray.colour(), grey);  // no result yet
    tray.show_result(0, 10, gateway_level, {});
    QCOMPARE(tray.colour(), level_background(gateway_level));
    tray.show_result(1, 10, external_level, {});
    QCOMPARE(tray.colour(), level_background(shown_level));
    QCOMPARE(tray.icon().pixmap(64).toImage().pixelColor(32, 8), level_background(shown_level));
    tray.set_running(false);
    QCOMPARE(tray.colour(), grey);
  }

  void tooltip_from_a_run() {
    tray_icon& tray = window_->tray();
    QCOMPARE(tray.tool_tip(), QStringLiteral("Quorvel 未在测试\n网关:N/A\n外网:N/A"));
    find<QLineEdit>("编辑框")->setText(QString::fromUtf8(gateway));
    find<QPushButton>("btn_start")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window_->channel(1).stats.probe_count == 2, 10000);
    QTRY_VERIFY(window_->channel(0).stats.probe_count >= 2);
    QCOMPARE(tray.tool_tip(), QStringLiteral("Quorvel 正在测试\n网关:20ms  丢包: 0.00%\n"
                                             "外网:超时  丢包: 100.00%"));
    QCOMPARE(tray.colour(), level_background(0));
    find<QPushButton>("btn_stop")->click();
    QVERIFY(tray.tool_tip().startsWith(QStringLiteral("Quorvel 未在测试\n网关:20ms")));
  }
};

QTEST_MAIN(test_tray_icon)
#include "test_tray_icon.moc"
