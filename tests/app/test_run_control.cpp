// Test runs in the real main window: start, stop, the figures of each tick and the auxiliary
// windows, with a scripted prober (nothing is sent anywhere).
#include "app/main_window.h"
#include "refusal_watch.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <poll.h>

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace quorvel;

namespace {

constexpr const char* gateway = "127.0.0.5";
constexpr const char* external = "baidu.com";  // the first host of the list; never resolved
const QString stop_line = QStringLiteral("停止网络测试。");
const QString start_line = QStringLiteral("开始进行测试...");

struct scripted_probe {
  std::int32_t result = -1;
  int delay_ms = 0;
};

// Results per host, handed out in order (the last one repeats). Shared with the probe threads.
class probe_script {
public:
  void set(const std::string& host, std::vector<scripted_probe> steps) {
    std::lock_guard lock(mutex_);
    steps_[host] = std::move(steps);
    next_[host] = 0;
  }

  int calls(const std::string& host) {
    std::lock_guard lock(mutex_);
    return calls_[host];
  }

  static probe_function prober(const std::shared_ptr<probe_script>& script) {
    return [script](const std::string& host, int, const probe_cancel& cancel) {
      const scripted_probe step = script->take(host);
      pollfd wake{cancel.wake_fd(), POLLIN, 0};
      if (step.delay_ms > 0 && poll(&wake, 1, step.delay_ms) != 0) return -1;
      return cancel.cancelled() ? -1 : step.result;
    };
  }

private:
  scripted_probe take(const std::string& host) {
    std::lock_guard lock(mutex_);
    ++calls_[host];
    const auto found = steps_.find(host);
    if (found == steps_.end() || found->second.empty()) return {};
    std::size_t& next = next_[host];
    const scripted_probe step = found->second[std::min(next, found->second.size() - 1)];
    ++next;
    return step;
  }

  std::mutex mutex_;
  std::map<std::string, std::vector<scripted_probe>> steps_;
  std::map<std::string, std::size_t> next_;
  std::map<std::string, int> calls_;
};

std::vector<scripted_probe> results(std::initializer_list<std::int32_t> values) {
  std::vector<scripted_probe> steps;
  for (const std::int32_t value : values) steps.push_back({value, 0});
  return steps;
}

// What a message box showed before the test dismissed it.
struct seen_message {
  bool shown = false;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  bool had_parent = true;
  Qt::WindowModality modality = Qt::NonModal;
};

// Dismisses the next modal message box with its OK button and notes what it showed. The watch
// ends with `owner` when no box comes.
void dismiss_next_message(seen_message& seen, QObject* owner) {
  auto* poll = new QTimer(owner);
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, &seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return;
    seen = {true,         box->windowTitle(),           box->text(),   box->icon(),
            box->standardButtons(), box->parentWidget() != nullptr, box->windowModality()};
    box->button(QMessageBox::Ok)->click();
    poll->deleteLater();
  });
  poll->start();
}

QStringList log_lines(QWidget* log) {
  return log->property("plainText").toString().split(u'\n');
}

}  // namespace

class test_run_control : public QObject {
  Q_OBJECT

private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::shared_ptr<probe_script> script_;
  std::unique_ptr<main_window> window_;
  std::function<echo_availability()> echo_check_;

  main_window& open() {
    main_window_setup setup{dir_->filePath(QStringLiteral("ini.ini")).toStdString(),
                            probe_script::prober(script_), echo_check_};
    window_ = std::make_unique<main_window>(std::move(setup));
    window_->show();
    find<QLineEdit>("编辑框")->setText(QString::fromUtf8(gateway));
    return *window_;
  }

  template <class Widget = QWidget>
  Widget* find(const char* name) {
    auto* widget = window_->findChild<Widget*>(QString::fromUtf8(name));
    if (!widget) qWarning("no control %s", name);
    return widget;
  }

  QString text_of(const char* name) { return find<QLineEdit>(name)->text(); }
  QString plain_text_of(const char* name) {
    return find(name)->property("plainText").toString();
  }
  int probe_lines(const char* log) { return log_lines(find(log)).size() - 1; }

  void click(const char* name) { QTest::mouseClick(find<QPushButton>(name), Qt::LeftButton); }

  void start_and_wait_for_lines(int lines) {
    click("btn_start");
    QVERIFY(window_->test_running());
    QTRY_VERIFY_WITH_TIMEOUT(probe_lines("edit_wg_log") >= lines &&
                                 probe_lines("edit_ww_log") >= lines,
                             1500 * lines + 1500);
  }

  // The enabled states of the run controls, as one text: address, list, start, stop, float.
  QString run_controls() {
    QString states;
    for (const char* name : {"编辑框", "组合框", "btn_start", "btn_stop", "btn_window"})
      states += find(name)->isEnabled() ? u'1' : u'0';
    return states;
  }

private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    script_ = std::make_shared<probe_script>();
    echo_check_ = [] {
      echo_availability echo;
      echo.available = true;
      return echo;
    };
  }

  void cleanup() {
    window_.reset();
    script_.reset();
    dir_.reset();
  }

  void timers_are_stopped_until_start() {
    open();
    for (const char* name : {"时钟_wg", "时钟_ww"}) {
      auto* timer = find<QTimer>(name);
      QVERIFY(timer);
      QVERIFY(!timer->isActive());
    }
    QTest::qWait(1300);
    QCOMPARE(script_->calls(gateway), 0);
    QCOMPARE(run_controls(), QStringLiteral("11100"));
  }

  void start_fixes_targets_and_locks_the_controls() {
    open();
    find<QLineEdit>("编辑框")->setText(QStringLiteral(" \u3000127.0.0.5  "));
    QTest::mouseClick(find<QCheckBox>("选择框_ww_ping"), Qt::LeftButton);
    click("btn_start");
    QCOMPARE(window_->channel(0).target_host, std::string(gateway));
    QCOMPARE(window_->channel(1).target_host, std::string(external));
    QCOMPARE(run_controls(), QStringLiteral("00011"));
    QCOMPARE(plain_text_of("edit_wg_log"), start_line);
    QCOMPARE(plain_text_of("edit_ww_log"), start_line);
    QVERIFY(!find<QCheckBox>("选择框_ww_ping")->isEnabled());
    QVERIFY(find<QCheckBox>("选择框_wg_ping")->isEnabled());
    for (const char* name : {"时钟_wg", "时钟_ww"}) {
      QVERIFY(find<QTimer>(name)->isActive());
      QCOMPARE(find<QTimer>(name)->timerType(), Qt::PreciseTimer);
    }
    QCOMPARE(script_->calls(gateway), 0);  // the first probe comes a second later

    // An unchecked box can still be checked during the run, and then locks itself at once.
    auto* box = find<QCheckBox>("选择框_wg_timeout");
    QTest::mouseClick(box, Qt::LeftButton);
    QVERIFY(box->isChecked());
    QVERIFY(!box->isEnabled());
    QVERIFY(!find<QComboBox>("组合框_wg_timeout")->isEnabled());

    QTRY_COMPARE_WITH_TIMEOUT(script_->calls(gateway), 1, 2000);
    QTRY_COMPARE_WITH_TIMEOUT(script_->calls(external), 1, 2000);
    click("btn_stop");
    QCOMPARE(run_controls(), QStringLiteral("11100"));
    for (const char* name : {"选择框_wg_ping", "选择框_wg_timeout", "选择框_ww_ping",
                             "选择框_ww_timeout"})
      QVERIFY(find<QCheckBox>(name)->isEnabled());
    // Its dependents stay locked while it is checked.
    QVERIFY(!find<QComboBox>("组合框_wg_timeout")->isEnabled());
    QVERIFY(!find<QLineEdit>("edit_ww_500")->isEnabled());
  }

  void empty_address_is_refused_after_the_resets_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("refused");
    QTest::newRow("empty") << "" << true;
    QTest::newRow("blanks") << "   " << true;
    QTest::newRow("ideographic blank") << "\u3000 \u3000" << true;
    QTest::newRow("leading tab is kept") << "\t127.0.0.5" << false;
  }

  void empty_address_is_refused_after_the_resets() {
    QFETCH(QString, address);
    QFETCH(bool, refused);
    open();
    // A first run leaves figures, a log, a timeout record and its enabled button behind.
    script_->set(gateway, results({-1, 20}));
    script_->set(external, results({30}));
    QTest::mouseClick(find<QCheckBox>("选择框_wg_timeout"), Qt::LeftButton);
    start_and_wait_for_lines(2);
    click("btn_stop");
    QVERIFY(find<QPushButton>("btn_wg_timeout")->isEnabled());
    QCOMPARE(window_->channel(0).timeout_records.size(), std::size_t{1});
    window_->channel(0).high_ping_tracker.is_open = true;

    find<QLineEdit>("编辑框")->setText(address);
    seen_message seen;
    dismiss_next_message(seen, window_.get());
    click("btn_start");
    QCOMPARE(seen.shown, refused);
    if (refused) {
      QCOMPARE(seen.title, QStringLiteral("温馨提示："));
      QCOMPARE(seen.text, QStringLiteral("局域网网关不能为空！"));
      QCOMPARE(seen.icon, QMessageBox::NoIcon);
      QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
      QVERIFY(!seen.had_parent);
      QCOMPARE(seen.modality, Qt::ApplicationModal);
      QVERIFY(!window_->test_running());
      QCOMPARE(run_controls(), QStringLiteral("11100"));
      QVERIFY(!find<QTimer>("时钟_wg")->isActive());
      QVERIFY(!find<QTimer>("时钟_ww")->isActive());
      QCOMPARE(plain_text_of("edit_wg_log"), QString());
    } else {
      QCOMPARE(window_->channel(0).target_host, address.toStdString());
      QCOMPARE(run_controls(), QStringLiteral("00011"));
    }
    // Steps before the refusal took effect all the same.
    QCOMPARE(text_of("edit_wg_5000"), QStringLiteral("0"));
    QCOMPARE(text_of("edit_wg_80"), QStringLiteral("0"));
    QCOMPARE(plain_text_of("edit_wg_fx"), QString());
    QCOMPARE(plain_text_of("edit_ww_fx"), QString());
    QVERIFY(window_->channel(0).timeout_records.empty());
    QVERIFY(!window_->channel(0).high_ping_tracker.is_open);
    QVERIFY(!find<QPushButton>("btn_wg_timeout")->isEnabled());
    QVERIFY(!find<QCheckBox>("选择框_wg_timeout")->isEnabled());
    QCOMPARE(find<QGroupBox>("分组框_wg")->title(), QStringLiteral("网关测试结果"));
    QCOMPARE(find<QGroupBox>("分组框_ww")->title(), QStringLiteral("外网测试结果"));

    // The next good start and stop unlock the recording box again.
    find<QLineEdit>("编辑框")->setText(QString::fromUtf8(gateway));
    if (refused) click("btn_start");
    click("btn_stop");
    QVERIFY(find<QCheckBox>("选择框_wg_timeout")->isEnabled());
  }

  void unavailable_echo_starts_no_run() {
    echo_check_ = [] {
      echo_availability echo;
      echo.reason = "no echo here; run the fix";
      return echo;
    };
    open();
    testing::seen_refusal seen;
    testing::dismiss_next_refusal(seen, window_.get());
    click("btn_start");
    QVERIFY(seen.shown);
    QVERIFY(seen.lines.contains(QStringLiteral("no echo here; run the fix")));
    QVERIFY(!seen.had_parent);
    QCOMPARE(seen.modality, Qt::ApplicationModal);
    QVERIFY(!window_->test_running());
    QCOMPARE(run_controls(), QStringLiteral("11100"));
    QCOMPARE(plain_text_of("edit_wg_log"), QString());
    QVERIFY(!find<QTimer>("时钟_wg")->isActive());
    QTest::qWait(1200);
    QCOMPARE(script_->calls(gateway), 0);
  }

  // Each script's last result is the final tick's, after the stop.
  void a_runs_figures_and_texts_data() {
    QTest::addColumn<std::vector<std::int32_t>>("gateway_results");
    QTest::addColumn<std::vector<std::int32_t>>("external_results");
    QTest::addColumn<QStringList>("gateway_counts");  // boxes 80 ... 5000
    QTest::addColumn<QStringList>("external_counts");
    QTest::addColumn<QString>("gateway_summary");
    QTest::addColumn<QString>("gateway_caption");
    QTest::addColumn<QString>("external_caption");
    QTest::addColumn<QStringList>("gateway_lines");  // the probe lines' texts after the stamp

    QTest::newRow("timeouts keep the mean")
        << std::vector<std::int32_t>{10, -1, 40, -1} << std::vector<std::int32_t>{0, 81, 1000, 160}
        << QStringList{"2", "0", "0", "0", "0", "0", "0", "2"}
        << QStringList{"1", "2", "0", "0", "0", "0", "1", "0"}
        << QStringLiteral("次数: 4, 丢包: 50.00%, 快: 50.00%\n中: 0.00%, 缓: 0.00%, 慢: 0.00%")
        << QStringLiteral("网关测试结果   平均速度：20ms")
        << QStringLiteral("外网测试结果   平均速度：310ms")
        << QStringList{"响应时间：10ms", "超时或出现故障", "响应时间：40ms", "超时或出现故障"};
    QTest::newRow("no answer at all")
        << std::vector<std::int32_t>{-1, -1} << std::vector<std::int32_t>{241, 640}
        << QStringList{"0", "0", "0", "0", "0", "0", "0", "2"}
        << QStringList{"0", "0", "0", "1", "1", "0", "0", "0"}
        << QStringLiteral("次数: 2, 丢包: 100.00%, 快: 0.00%\n中: 0.00%, 缓: 0.00%, 慢: 0.00%")
        << QStringLiteral("网关测试结果   平均速度：0ms")
        << QStringLiteral("外网测试结果   平均速度：441ms")  // 440.5, half away from zero
        << QStringList{"超时或出现故障", "超时或出现故障"};
  }

  void a_runs_figures_and_texts() {
    QFETCH(std::vector<std::int32_t>, gateway_results);
    QFETCH(std::vector<std::int32_t>, external_results);
    QFETCH(QStringList, gateway_counts);
    QFETCH(QStringList, external_counts);
    QFETCH(QString, gateway_summary);
    QFETCH(QString, gateway_caption);
    QFETCH(QString, external_caption);
    QFETCH(QStringList, gateway_lines);
    const auto steps_of = [](const std::vector<std::int32_t>& values) {
      std::vector<scripted_probe> steps;
      for (const std::int32_t value : values) steps.push_back({value, 0});
      return steps;
    };
    script_->set(gateway, steps_of(gateway_results));
    script_->set(external, steps_of(external_results));
    open();
    // Stopped between two ticks: each channel makes exactly one more probe.
    start_and_wait_for_lines(static_cast<int>(gateway_results.size()) - 1);
    click("btn_stop");

    const auto counts_in = [this](const char* infix) {
      QStringList counts;
      for (const char* bound : {"80", "160", "240", "400", "640", "999", "1000", "5000"})
        counts << find<QLineEdit>(QStringLiteral("edit_%1_%2").arg(infix, bound).toUtf8())->text();
      return counts;
    };
    QCOMPARE(counts_in("wg"), gateway_counts);
    QCOMPARE(counts_in("ww"), external_counts);
    QCOMPARE(plain_text_of("edit_wg_fx"), gateway_summary);
    QCOMPARE(find<QGroupBox>("分组框_wg")->title(), gateway_caption);
    QCOMPARE(find<QGroupBox>("分组框_ww")->title(), external_caption);

    const QStringList lines = log_lines(find("edit_wg_log"));
    QCOMPARE(lines.size(), gateway_lines.size() + 2);
    QCOMPARE(lines.front(), start_line);
    QCOMPARE(lines.back(), stop_line);
    static const QRegularExpression stamped(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d    (.*)$"));
    for (int i = 0; i < gateway_lines.size(); ++i) {
      const QRegularExpressionMatch match = stamped.match(lines[i + 1]);
      QVERIFY2(match.hasMatch(), qPrintable(lines[i + 1]));
      QCOMPARE(match.captured(1), gateway_lines[i]);
    }
    QCOMPARE(probe_lines("edit_ww_log"), static_cast<int>(external_results.size()) + 1);
  }

  void stop_right_after_start_still_gives_one_line_each() {
    script_->set(gateway, results({20}));
    script_->set(external, results({30}));
    open();
    click("btn_start");
    QElapsedTimer waited;
    waited.start();
    click("btn_stop");
    QVERIFY(waited.elapsed() >= 990);
    for (const char* log : {"edit_wg_log", "edit_ww_log"}) {
      const QStringList lines = log_lines(find(log));
      QCOMPARE(lines.size(), 3);  // start, one probe, the stop text
      QCOMPARE(lines[2], stop_line);
    }
    QCOMPARE(find<QGroupBox>("分组框_wg")->title(), QStringLiteral("网关测试结果   平均速度：20ms"));
    QCOMPARE(run_controls(), QStringLiteral("11100"));
  }

  void controls_unlock_only_after_both_final_ticks() {
    // The gateway's final probe takes 1.5 s: the wait goes on until it has wound down.
    script_->set(gateway, {{20, 1500}});
    script_->set(external, results({30}));
    open();
    click("btn_start");
    QString during_wait;
    QTimer::singleShot(1200, window_.get(), [&] {
      during_wait = run_controls() + u' ' +
                    (plain_text_of("edit_ww_log").endsWith(stop_line) ? u'1' : u'0') +
                    (plain_text_of("edit_wg_log").endsWith(stop_line) ? u'1' : u'0');
    });
    QElapsedTimer waited;
    waited.start();
    click("btn_stop");
    const qint64 elapsed = waited.elapsed();
    QCOMPARE(during_wait, QStringLiteral("00000 10"));
    QVERIFY2(elapsed >= 2400 && elapsed < 4000, qPrintable(QString::number(elapsed)));
    QVERIFY(plain_text_of("edit_wg_log").endsWith(stop_line));
    QVERIFY(plain_text_of("edit_ww_log").endsWith(stop_line));
    QCOMPARE(run_controls(), QStringLiteral("11100"));
  }

  void closing_during_a_probe_ends_at_once() {
    script_->set(gateway, {{20, 5000}});
    script_->set(external, {{30, 5000}});
    main_window& window = open();
    click("btn_start");
    QTRY_COMPARE_WITH_TIMEOUT(script_->calls(gateway), 1, 2000);
    QElapsedTimer closing;
    closing.start();
    QVERIFY(window.close());
    QVERIFY(closing.elapsed() < 500);
    QTest::qWait(300);  // a late result would land now
    QCOMPARE(probe_lines("edit_wg_log"), 0);
    QVERIFY(!plain_text_of("edit_wg_log").contains(stop_line));
    QVERIFY(!plain_text_of("edit_ww_log").contains(stop_line));
  }

  void closing_during_the_stop_wait_ends_it() {
    script_->set(gateway, {{20, 5000}});
    script_->set(external, {{30, 5000}});
    main_window& window = open();
    click("btn_start");
    QTRY_COMPARE_WITH_TIMEOUT(script_->calls(gateway), 1, 2000);
    QTimer::singleShot(300, &window, [&window] { window.close(); });
    QElapsedTimer waited;
    waited.start();
    click("btn_stop");
    QVERIFY2(waited.elapsed() < 900, qPrintable(QString::number(waited.elapsed())));
    QVERIFY(!window.isVisible());
    QVERIFY(!plain_text_of("edit_wg_log").contains(stop_line));
  }

  void float_window_follows_the_run() {
    script_->set(gateway, results({12}));
    script_->set(external, results({-1}));
    main_window& window = open();
    click("btn_start");
    click("btn_window");
    const auto float_window = [] {
      for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == QStringLiteral("win_float") && top->isVisible()) return top;
      return static_cast<QWidget*>(nullptr);
    };
    QVERIFY(float_window());
    QCOMPARE(float_window()->parentWidget(), nullptr);
    auto* gateway_label = float_window()->findChild<QLabel*>(QStringLiteral("lable_wg"));
    auto* external_label = float_window()->findChild<QLabel*>(QStringLiteral("lable_ww"));
    QTRY_COMPARE_WITH_TIMEOUT(gateway_label->text(), QStringLiteral("网关:12ms"), 2500);
    QTRY_COMPARE_WITH_TIMEOUT(external_label->text(), QStringLiteral("外网:超时"), 2500);
    click("btn_window");
    QTRY_VERIFY(!float_window());
    click("btn_window");
    QVERIFY(float_window());
    click("btn_stop");
    QTRY_VERIFY(!float_window());  // the channels close it as they wind down

    // Closing the main window closes the floating window too.
    click("btn_start");
    click("btn_window");
    QVERIFY(float_window());
    window.close();
    QTRY_VERIFY(!float_window());
  }

  void records_button_opens_the_four_lists() {
    script_->set(gateway, results({-1, 20}));
    script_->set(external, results({30}));
    main_window& window = open();
    QTest::mouseClick(find<QCheckBox>("选择框_wg_timeout"), Qt::LeftButton);
    start_and_wait_for_lines(2);
    QTRY_VERIFY_WITH_TIMEOUT(find<QPushButton>("btn_wg_timeout")->isEnabled(), 2000);
    QVERIFY(!find<QPushButton>("btn_ww_ping")->isEnabled());
    click("btn_wg_timeout");
    const QPointer<QWidget> records = window.findChild<QWidget*>(QStringLiteral("win_records"));
    QVERIFY(records);
    QVERIFY(records->isWindow());
    QTRY_VERIFY(records->isVisible());
    auto* list = records->findChild<QListWidget*>(QStringLiteral("list_wg_out"));
    QVERIFY(list);
    QCOMPARE(list->count(), 1);
    QVERIFY(list->item(0)->text().startsWith(QStringLiteral("发生在:")));
    QCOMPARE(records->findChild<QListWidget*>(QStringLiteral("list_wg_ping"))->count(), 0);
    window.close();
    QTRY_VERIFY(!records || !records->isVisible());
  }

  // As the program runs it: the message loop ends once win_main is closed, with the floating and
  // the record windows open, and nothing is written.
  void closing_mid_run_ends_the_message_loop() {
    script_->set(gateway, results({-1, 20}));
    main_window& window = open();
    QTest::mouseClick(find<QCheckBox>("选择框_wg_timeout"), Qt::LeftButton);
    start_and_wait_for_lines(2);
    click("btn_window");
    QTRY_VERIFY_WITH_TIMEOUT(find<QPushButton>("btn_wg_timeout")->isEnabled(), 2000);
    click("btn_wg_timeout");
    QTRY_VERIFY(window.findChild<QWidget*>(QStringLiteral("win_records"))->isActiveWindow());
    window.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto* threshold = find<QLineEdit>("edit_ww_500");
    threshold->setFocus();
    QTest::keyClicks(threshold, QStringLiteral("7"));  // would be saved if the box lost the focus
    QFile file(dir_->filePath(QStringLiteral("ini.ini")));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray before = file.readAll();
    file.close();

    QTimer::singleShot(100, &window, [&window] { QTest::keyClick(&window, Qt::Key_Escape); });
    QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(1); });  // it did not end
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), before);
    for (QWidget* top : QApplication::topLevelWidgets()) QVERIFY(!top->isVisible());
  }

  void notes_open_modal_over_the_window() {
    open();
    QString seen;
    QTimer::singleShot(100, window_.get(), [&seen] {
      QWidget* notes = QApplication::activeModalWidget();
      if (!notes) return;
      seen = notes->objectName() + u' ' + (notes->parentWidget() ? u'1' : u'0');
      notes->close();
    });
    click("btn_readme");  // returns once the notes are closed
    QCOMPARE(seen, QStringLiteral("win_readme 1"));
  }
};

QTEST_MAIN(test_run_control)
#include "test_run_control.moc"
