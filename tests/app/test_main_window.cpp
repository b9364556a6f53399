// The real main window on the offscreen platform, with its settings in a temporary ini file.
#include "app/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <utility>
#include <vector>

using namespace quorvel;

namespace {

using key_value = std::pair<QString, QString>;

// The keys of section pingtest in file order.
std::vector<key_value> stored_keys(const QString& path) {
  QFile file(path);
  std::vector<key_value> keys;
  if (!file.open(QIODevice::ReadOnly)) return keys;
  bool in_section = false;
  for (const QString& raw : QString::fromUtf8(file.readAll()).split(u'\n')) {
    const QString line = raw.endsWith(u'\r') ? raw.chopped(1) : raw;
    if (line.startsWith(u'[')) {
      in_section = line == QStringLiteral("[pingtest]");
    } else if (in_section && line.contains(u'=')) {
      const qsizetype equals = line.indexOf(u'=');
      keys.emplace_back(line.left(equals), line.mid(equals + 1));
    }
  }
  return keys;
}

QVariant stored_value(const QString& path, const QString& key) {
  for (const auto& [name, value] : stored_keys(path))
    if (name == key) return value;
  return QVariant();
}

QByteArray file_bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const char* const record_boxes[] = {"选择框_wg_ping", "选择框_wg_timeout", "选择框_ww_ping",
                                    "选择框_ww_timeout"};
const char* const ignore_lists[] = {"组合框_wg_ping", "组合框_wg_timeout", "组合框_ww_ping",
                                    "组合框_ww_timeout"};
const char* const records_buttons[] = {"btn_wg_ping", "btn_wg_timeout", "btn_ww_ping",
                                       "btn_ww_timeout"};

}  // namespace

class test_main_window : public QObject {
  Q_OBJECT

private:
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<main_window> window_;

  QString ini() const { return dir_->filePath(QStringLiteral("ini.ini")); }

  void store(const QByteArray& text) {
    QFile file(ini());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
  }

  main_window& open() {
    window_ = std::make_unique<main_window>(main_window_setup{ini().toStdString(), {}, {}});
    return *window_;
  }

  main_window& open_active() {
    open();
    window_->show();
    window_->activateWindow();
    [&] { QVERIFY(QTest::qWaitForWindowActive(window_.get())); }();
    return *window_;
  }

  template <class Widget>
  Widget* find(const char* name) {
    auto* widget = window_->findChild<Widget*>(QString::fromUtf8(name));
    if (!widget) qWarning("no control %s", name);
    return widget;
  }

  // Gives `name` the focus and then takes it away again, as a click elsewhere would.
  void leave(QWidget* box) {
    find<QPushButton>("btn_readme")->setFocus(Qt::MouseFocusReason);
    QVERIFY(!box->hasFocus());
  }

  void type_into_threshold(QLineEdit* box, const QString& typed) {
    box->setFocus(Qt::MouseFocusReason);
    QVERIFY(box->hasFocus());
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, typed);
  }

private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
  }

  void cleanup() {
    window_.reset();
    dir_.reset();
  }

  void first_start_writes_the_five_keys_and_shows_defaults() {
    main_window& window = open();
    const std::vector<key_value> expected{{"gway_ip", "192.168.0.1"},
                                          {"gway_pi_start", "0"},
                                          {"gway_ou_start", "0"},
                                          {"outer_pi_start", "0"},
                                          {"outer_ou_start", "0"}};
    QCOMPARE(stored_keys(ini()), expected);

    QCOMPARE(window.objectName(), QStringLiteral("win_main"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Quorvel v1.1"));
    QCOMPARE(window.size(), QSize(main_window::client_width, main_window::client_height));
    QCOMPARE(window.minimumSize(), window.maximumSize());
    QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);
    QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);

    QCOMPARE(find<QLineEdit>("编辑框")->text(), QStringLiteral("192.168.0.1"));
    QCOMPARE(find<QComboBox>("组合框")->currentIndex(), 0);
    QCOMPARE(find<QComboBox>("组合框")->count(), 2);
    QCOMPARE(find<QLineEdit>("edit_wg_500")->text(), QStringLiteral("500"));
    QCOMPARE(find<QLineEdit>("edit_ww_500")->text(), QStringLiteral("500"));
    QVERIFY(find<QLineEdit>("edit_wg_500")->isEnabled());
    QVERIFY(find<QLineEdit>("edit_ww_500")->isEnabled());
    for (const char* name : ignore_lists) {
      QComboBox* list = find<QComboBox>(name);
      QCOMPARE(list->count(), 10);
      QCOMPARE(list->itemText(9), QStringLiteral("9"));
      QCOMPARE(list->currentText(), QStringLiteral("0"));
      QVERIFY(list->isEnabled());
    }
    for (const char* name : record_boxes) {
      QVERIFY(!find<QCheckBox>(name)->isChecked());
      QVERIFY(find<QCheckBox>(name)->isEnabled());
    }
    for (const char* name : records_buttons) QVERIFY(!find<QPushButton>(name)->isEnabled());
    QVERIFY(find<QPushButton>("btn_start")->isEnabled());
    QVERIFY(find<QPushButton>("btn_readme")->isEnabled());
    QVERIFY(!find<QPushButton>("btn_stop")->isEnabled());
    QVERIFY(!find<QPushButton>("btn_window")->isEnabled());
    QCOMPARE(find<QGroupBox>("分组框_wg")->title(), QStringLiteral("网关测试结果"));
    QCOMPARE(find<QGroupBox>("分组框_ww")->title(), QStringLiteral("外网测试结果"));
    QCOMPARE(find<QLineEdit>("edit_ww_5000")->text(), QStringLiteral("0"));
    QVERIFY(find<QLineEdit>("edit_wg_80")->isReadOnly());
    QCOMPARE(find<QWidget>("edit_wg_log")->property("plainText").toString(), QString());
    QCOMPARE(find<QWidget>("edit_ww_fx")->property("plainText").toString(), QString());
  }

  void every_control_sits_inside_the_client_area() {
    main_window& window = open();
    const QRect client = window.rect();
    int controls = 0;
    for (QWidget* child : window.findChildren<QWidget*>()) {
      if (child->isWindow() || child->objectName().isEmpty()) continue;
      if (child->parentWidget() != &window && !child->parentWidget()->inherits("QGroupBox"))
        continue;  // the parts of a control
      const QRect place(child->mapTo(&window, QPoint(0, 0)), child->size());
      QVERIFY2(client.contains(place), qPrintable(child->objectName()));
      ++controls;
    }
    // The top bar; per channel its group, the 28 controls in it and the log.
    QCOMPARE(controls, 9 + 2 * 30);
    QCOMPARE(find<QWidget>("edit_ww_log")->geometry(), QRect(514, 310, 495, 350));
    QCOMPARE(find<QWidget>("组合框_ww_ping")->geometry(), QRect(314, 184, 40, 20));
    QCOMPARE(find<QWidget>("标签16")->width(), 157);
    QCOMPARE(find<QWidget>("标签6")->width(), 152);
    QCOMPARE(find<QWidget>("edit_wg_fx")->font().pixelSize(), 19);
    QCOMPARE(find<QWidget>("标签19")->font().pixelSize(), 14);
  }

  void odd_stored_values_data() {
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("shown");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("after_start");  // invalid: the key is not in the file

    QTest::newRow("empty address") << QByteArray("gway_ip=\n") << "编辑框"
                                   << "text" << QVariant(QString()) << "gway_ip"
                                   << QVariant(QString());
    QTest::newRow("index 15 selects the last") << QByteArray("gway_pi_num=15\n")
                                               << "组合框_wg_ping"
                                               << "currentIndex" << QVariant(9) << "gway_pi_num"
                                               << QVariant("15");
    QTest::newRow("index -4 selects none") << QByteArray("gway_pi_num=-4\n") << "组合框_wg_ping"
                                           << "currentIndex" << QVariant(-1) << "gway_pi_num"
                                           << QVariant("-4");
    QTest::newRow("index abc selects the first") << QByteArray("gway_ou_num=abc\n")
                                                 << "组合框_wg_timeout"
                                                 << "currentIndex" << QVariant(0)
                                                 << "gway_ou_num" << QVariant("abc");
    QTest::newRow("host -1 leaves no text") << QByteArray("outer_ip=-1\n") << "组合框"
                                            << "currentText" << QVariant(QString())
                                            << "outer_ip" << QVariant("-1");
    QTest::newRow("host 5 selects the second") << QByteArray("outer_ip=5\n") << "组合框"
                                               << "currentIndex" << QVariant(1) << "outer_ip"
                                               << QVariant("5");
    QTest::newRow("ignore 7") << QByteArray("outer_ou_num=7\n") << "组合框_ww_timeout"
                              << "currentText" << QVariant("7") << "outer_ou_num"
                              << QVariant("7");
    QTest::newRow("switch 2 is rewritten 1") << QByteArray("gway_pi_start=2\n") << "选择框_wg_ping"
                                             << "checked" << QVariant(true) << "gway_pi_start"
                                             << QVariant("1");
    QTest::newRow("switch yes is rewritten 0") << QByteArray("outer_ou_start=yes\n")
                                               << "选择框_ww_timeout"
                                               << "checked" << QVariant(false)
                                               << "outer_ou_start" << QVariant("0");
    QTest::newRow("threshold 0 as stored") << QByteArray("outer_pi_time=0\n") << "edit_ww_500"
                                           << "text" << QVariant("0") << "outer_pi_time"
                                           << QVariant("0");
    QTest::newRow("threshold text as stored") << QByteArray("gway_pi_time=0042x\n")
                                              << "edit_wg_500"
                                              << "text" << QVariant("0042x") << "gway_pi_time"
                                              << QVariant("0042x");
    QTest::newRow("other keys kept")
        << QByteArray("[other]\ngway_ip=1\n[pingtest]\nmine=x\ngway_ip=127.0.0.9\n")
        << "编辑框"
        << "text" << QVariant("127.0.0.9") << "mine" << QVariant("x");
  }

  void odd_stored_values() {
    QFETCH(QByteArray, stored);
    QFETCH(QString, control);
    QFETCH(QString, property);
    QFETCH(QVariant, shown);
    QFETCH(QString, key);
    QFETCH(QVariant, after_start);
    store(stored.startsWith('[') ? stored : "[pingtest]\n" + stored);
    open();
    QWidget* widget = find<QWidget>(control.toUtf8().constData());
    QVERIFY(widget);
    QCOMPARE(widget->property(property.toUtf8().constData()).toString(), shown.toString());
    QCOMPARE(stored_value(ini(), key), after_start);
  }

  void a_stored_switch_locks_its_options_but_not_itself() {
    store("[pingtest]\ngway_pi_start=1\nouter_ou_start=1\n");
    open();
    QVERIFY(find<QCheckBox>("选择框_wg_ping")->isChecked());
    QVERIFY(find<QCheckBox>("选择框_wg_ping")->isEnabled());
    QVERIFY(!find<QLineEdit>("edit_wg_500")->isEnabled());
    QVERIFY(!find<QComboBox>("组合框_wg_ping")->isEnabled());
    QVERIFY(find<QComboBox>("组合框_wg_timeout")->isEnabled());
    QVERIFY(!find<QComboBox>("组合框_ww_timeout")->isEnabled());
    QVERIFY(find<QComboBox>("组合框_ww_ping")->isEnabled());
    QVERIFY(find<QLineEdit>("edit_ww_500")->isEnabled());
  }

  void threshold_typing_and_focus_loss_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("while_typing");
    QTest::addColumn<QString>("after_leaving");

    QTest::newRow("letters refused") << "abc" << "" << "500";
    QTest::newRow("letters among digits") << "4a2b" << "42" << "42";
    QTest::newRow("leading zeros") << "0042" << "0042" << "42";
    QTest::newRow("zero") << "0" << "0" << "500";
    QTest::newRow("negative") << "-7" << "-7" << "500";
    QTest::newRow("too large") << "99999999999" << "99999999999" << "2147483647";
    QTest::newRow("digits after a minus") << "12-3" << "12-3" << "12";
    QTest::newRow("blank and dot refused") << "1 2.5" << "125" << "125";
    QTest::newRow("the largest") << "2147483647" << "2147483647" << "2147483647";
  }

  void threshold_typing_and_focus_loss() {
    QFETCH(QString, typed);
    QFETCH(QString, while_typing);
    QFETCH(QString, after_leaving);
    open_active();
    auto* box = find<QLineEdit>("edit_wg_500");
    type_into_threshold(box, typed);
    QCOMPARE(box->text(), while_typing);
    QVERIFY(!stored_value(ini(), "gway_pi_time").isValid());
    leave(box);
    QCOMPARE(box->text(), after_leaving);
    QCOMPARE(stored_value(ini(), "gway_pi_time"), QVariant(after_leaving));
    QVERIFY(!stored_value(ini(), "outer_pi_time").isValid());
  }

  void pasted_text_is_kept_until_focus_loss_data() {
    QTest::addColumn<QString>("pasted");
    QTest::addColumn<QString>("after_leaving");
    QTest::newRow("letters") << "abc" << "500";
    QTest::newRow("number with junk") << " 0042xyz" << "42";
    QTest::newRow("full-width digits are no number") << "４２" << "500";
  }

  void pasted_text_is_kept_until_focus_loss() {
    QFETCH(QString, pasted);
    QFETCH(QString, after_leaving);
    open_active();
    auto* box = find<QLineEdit>("edit_ww_500");
    type_into_threshold(box, QString());
    QApplication::clipboard()->setText(pasted);
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(box->text(), pasted);
    leave(box);
    QCOMPARE(box->text(), after_leaving);
    QCOMPARE(stored_value(ini(), "outer_pi_time"), QVariant(after_leaving));
  }

  void input_method_text_is_filtered_like_typing() {
    open_active();
    auto* box = find<QLineEdit>("edit_wg_500");
    type_into_threshold(box, QString());
    QInputMethodEvent commit;
    commit.setCommitString(QStringLiteral("五5a-"));
    QApplication::sendEvent(box, &commit);
    QCOMPARE(box->text(), QStringLiteral("5-"));
  }

  void address_is_saved_at_every_change_untrimmed() {
    open_active();
    auto* address = find<QLineEdit>("编辑框");
    address->setFocus();
    address->selectAll();
    QTest::keyClick(address, Qt::Key_Backspace);
    QCOMPARE(stored_value(ini(), "gway_ip"), QVariant(QString()));
    QTest::keyClicks(address, QStringLiteral(" 127.0.0.2"));
    QCOMPARE(stored_value(ini(), "gway_ip"), QVariant(" 127.0.0.2"));
    QTest::keyClick(address, Qt::Key_Space);
    QCOMPARE(stored_value(ini(), "gway_ip"), QVariant(" 127.0.0.2 "));
    QCOMPARE(stored_keys(ini()).front().first, QStringLiteral("gway_ip"));

    // An emptied box stays empty at the next start.
    address->clear();
    QCOMPARE(stored_value(ini(), "gway_ip"), QVariant(QString()));
    window_.reset();
    open();
    QCOMPARE(find<QLineEdit>("编辑框")->text(), QString());
  }

  void lists_are_saved_on_the_users_pick() {
    open_active();
    auto* hosts = find<QComboBox>("组合框");
    hosts->setFocus();
    QTest::keyClick(hosts, Qt::Key_Down);
    QCOMPARE(hosts->currentIndex(), 1);
    QCOMPARE(stored_value(ini(), "outer_ip"), QVariant("1"));

    auto* ignore = find<QComboBox>("组合框_ww_timeout");
    ignore->setFocus();
    for (int i = 0; i < 7; ++i) QTest::keyClick(ignore, Qt::Key_Down);
    QCOMPARE(ignore->currentText(), QStringLiteral("7"));
    QCOMPARE(stored_value(ini(), "outer_ou_num"), QVariant("7"));
    QVERIFY(!stored_value(ini(), "gway_ou_num").isValid());
    QVERIFY(!stored_value(ini(), "outer_pi_num").isValid());
  }

  void record_box_click_locks_saves_and_idles_the_tracker_data() {
    QTest::addColumn<int>("box");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("locked");
    QTest::addColumn<QStringList>("untouched");
    QTest::newRow("wg ping") << 0 << "gway_pi_start" << QStringList{"edit_wg_500", "组合框_wg_ping"}
                             << QStringList{"组合框_wg_timeout", "edit_ww_500"};
    QTest::newRow("wg timeout") << 1 << "gway_ou_start" << QStringList{"组合框_wg_timeout"}
                                << QStringList{"edit_wg_500", "组合框_wg_ping"};
    QTest::newRow("ww ping") << 2 << "outer_pi_start"
                             << QStringList{"edit_ww_500", "组合框_ww_ping"}
                             << QStringList{"组合框_ww_timeout", "edit_wg_500"};
    QTest::newRow("ww timeout") << 3 << "outer_ou_start" << QStringList{"组合框_ww_timeout"}
                                << QStringList{"组合框_ww_ping", "组合框_wg_timeout"};
  }

  void record_box_click_locks_saves_and_idles_the_tracker() {
    QFETCH(int, box);
    QFETCH(QString, key);
    QFETCH(QStringList, locked);
    QFETCH(QStringList, untouched);
    main_window& window = open_active();
    auto* check = find<QCheckBox>(record_boxes[box]);
    episode_tracker& tracker = window.channel(box / 2).tracker(
        box % 2 == 0 ? episode_kind::high_ping : episode_kind::timeout);
    episode_tracker& other = window.channel(box / 2).tracker(
        box % 2 == 0 ? episode_kind::timeout : episode_kind::high_ping);

    for (const bool checked : {true, false}) {
      tracker.is_open = true;
      other.is_open = true;
      QTest::mouseClick(check, Qt::LeftButton);
      QCOMPARE(check->isChecked(), checked);
      QVERIFY(check->isEnabled());
      QCOMPARE(stored_value(ini(), key), QVariant(checked ? "1" : "0"));
      QVERIFY(!tracker.is_open);
      QVERIFY(other.is_open);
      for (const QString& name : locked)
        QCOMPARE(find<QWidget>(name.toUtf8().constData())->isEnabled(), !checked);
      for (const QString& name : untouched)
        QVERIFY(find<QWidget>(name.toUtf8().constData())->isEnabled());
    }
  }

  void escape_closes_unless_the_focused_control_takes_it_data() {
    QTest::addColumn<QString>("focused");
    QTest::newRow("address box") << "编辑框";
    QTest::newRow("threshold box") << "edit_wg_500";
    QTest::newRow("start button") << "btn_start";
    QTest::newRow("host list") << "组合框";
    QTest::newRow("log box") << "edit_ww_log";
  }

  void escape_closes_unless_the_focused_control_takes_it() {
    QFETCH(QString, focused);
    main_window& window = open_active();
    QWidget* control = find<QWidget>(focused.toUtf8().constData());
    control->setFocus();
    QTest::keyClicks(control, QStringLiteral("7"));  // a typed threshold is not saved at close
    const QByteArray before = file_bytes(ini());
    QTest::keyClick(control, Qt::Key_Escape);
    QVERIFY(!window.isVisible());
    QCOMPARE(file_bytes(ini()), before);
  }

  void escape_in_an_open_list_closes_only_the_list() {
    main_window& window = open_active();
    auto* hosts = find<QComboBox>("组合框");
    hosts->showPopup();
    QWidget* popup = QApplication::activePopupWidget();
    QVERIFY(popup);
    QTest::keyClick(popup, Qt::Key_Escape);
    QTRY_VERIFY(!QApplication::activePopupWidget());
    QVERIFY(window.isVisible());
  }
};

QTEST_MAIN(test_main_window)
#include "test_main_window.moc"
