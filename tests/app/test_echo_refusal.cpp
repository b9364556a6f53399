// The refusal when echo requests cannot be sent, with the system's real answer: this process gives
// up CAP_NET_RAW first, and each test opens or closes net.ipv4.ping_group_range in its private
// namespace, so that neither socket kind works until a test widens the range.
#include "app/main_window.h"
#include "refusal_watch.h"
#include "windows/echo_refusal.h"

#include <QClipboard>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <fstream>

using namespace quorvel;

namespace {

void set_ping_group_range(const char* range) {
  std::ofstream("/proc/sys/net/ipv4/ping_group_range") << range;
}

bool drop_raw_capability() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  const unsigned raw_bit = 1u << CAP_NET_RAW;
  data[0].effective &= ~raw_bit;
  data[0].permitted &= ~raw_bit;
  data[0].inheritable &= ~raw_bit;
  return syscall(SYS_capset, &header, data) == 0;
}

// Words a Chinese text may still contain: names of the system's own settings and packages.
QString without_technical_names(QString text) {
  static const QRegularExpression names(
      QStringLiteral("ICMP|CAP_NET_RAW|net\\.ipv4\\.ping_group_range|libcap2-bin|setcap|nosuid|no_new_privs"));
  return text.remove(names);
}

const QStringList expected_command_starts{
    QStringLiteral("sudo sysctl -w net.ipv4.ping_group_range=\"0 2147483647\""),
    QStringLiteral("echo 'net.ipv4.ping_group_range = 0 2147483647' | sudo tee /etc/sysctl.d/60-ping.conf"),
    QStringLiteral("sudo setcap cap_net_raw+p /"),
};

}  // namespace

class test_echo_refusal : public QObject {
  Q_OBJECT

private:
  std::unique_ptr<QDialog> dialog_;

  QLineEdit* command(int number) {
    return dialog_->findChild<QLineEdit*>(QStringLiteral("edit_fix_%1").arg(number));
  }

private slots:
  void init() {
    set_ping_group_range("1 0");
    const echo_availability echo = check_echo_available();
    QVERIFY(!echo.available);
    dialog_ = make_echo_refusal(echo);
    dialog_->show();
    QVERIFY(QTest::qWaitForWindowExposed(dialog_.get()));
  }

  void cleanup() { dialog_.reset(); }

  void every_text_is_chinese() {
    QCOMPARE(dialog_->windowTitle(), QStringLiteral("温馨提示："));
    QVERIFY(!dialog_->parentWidget());
    QCOMPARE(dialog_->windowModality(), Qt::ApplicationModal);
    const auto labels = dialog_->findChildren<QLabel*>();
    QCOMPARE(labels.size(), 2 + expected_command_starts.size());
    QCOMPARE(labels.first()->text(), QStringLiteral("无法发送 ICMP 回显请求，测试没有开始。"));
    static const QRegularExpression latin_word(QStringLiteral("[A-Za-z]{2,}"));
    for (const QLabel* label : labels) {
      QVERIFY2(label->text().contains(QRegularExpression(QStringLiteral("[\\x{4e00}-\\x{9fff}]"))),
               qPrintable(label->text()));
      QVERIFY2(!without_technical_names(label->text()).contains(latin_word), qPrintable(label->text()));
    }
    const QString reason = dialog_->findChild<QLabel*>(QStringLiteral("标签_reason"))->text();
    QVERIFY2(reason.contains(QStringLiteral("当前范围是“1 0”")), qPrintable(reason));
    QVERIFY2(reason.contains(QStringLiteral("没有权限")), qPrintable(reason));
    QCOMPARE(dialog_->findChild<QPushButton*>(QStringLiteral("btn_ok"))->text(), QStringLiteral("确定"));
  }

  // The capability comes with the next start of the program, a group with the next login.
  void setcap_note_says_when_it_takes_effect() {
    const QString note = dialog_->findChild<QLabel*>(QStringLiteral("标签_fix_3"))->text();
    QVERIFY2(note.contains(QStringLiteral("重新启动本程序才生效")), qPrintable(note));
    QVERIFY2(note.contains(QStringLiteral("新加入的用户组要到下次登录后才生效")), qPrintable(note));
    const QString sysctl_note = dialog_->findChild<QLabel*>(QStringLiteral("标签_fix_1"))->text();
    QVERIFY2(sysctl_note.contains(QStringLiteral("立即生效")), qPrintable(sysctl_note));
  }

  void commands_are_whole_on_their_own_lines_data() {
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("start");
    for (int i = 0; i < expected_command_starts.size(); ++i)
      QTest::addRow("command %d", i + 1) << i + 1 << expected_command_starts[i];
  }

  void commands_are_whole_on_their_own_lines() {
    QFETCH(int, number);
    QFETCH(QString, start);
    QLineEdit* line = command(number);
    QVERIFY(line);
    QVERIFY2(line->text().startsWith(start), qPrintable(line->text()));
    QVERIFY(!line->text().contains(u'\n'));
    QVERIFY(line->isReadOnly());
    // The box shows all of it, not a scrolled part.
    const QFontMetrics metrics(line->font());
    QVERIFY2(line->width() > metrics.horizontalAdvance(line->text()),
             qPrintable(QStringLiteral("%1 px for %2").arg(line->width()).arg(line->text())));
    if (number == 3) QCOMPARE(line->text(), start + QCoreApplication::applicationFilePath().mid(1));
  }

  void copy_puts_the_whole_command_on_the_clipboard_data() { commands_are_whole_on_their_own_lines_data(); }

  void copy_puts_the_whole_command_on_the_clipboard() {
    QFETCH(int, number);
    QLineEdit* line = command(number);
    QVERIFY(line);
    QApplication::clipboard()->clear();
    dialog_->findChild<QPushButton*>(QStringLiteral("btn_copy_%1").arg(number))->click();
    QCOMPARE(QApplication::clipboard()->text(), line->text());

    QApplication::clipboard()->clear();
    line->setFocus();
    QTest::keyClick(line, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(line, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), line->text());
  }

  // Runs last: once a socket kind has worked the process keeps it.
  void start_checks_again_until_echo_works() {
    dialog_.reset();
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    main_window window(main_window_setup{dir.filePath("ini.ini").toStdString(), echo_prober(), check_echo_available});
    window.show();
    window.findChild<QLineEdit*>(QStringLiteral("编辑框"))->setText(QStringLiteral("127.0.0.1"));
    auto* start = window.findChild<QPushButton*>(QStringLiteral("btn_start"));
    auto* stop = window.findChild<QPushButton*>(QStringLiteral("btn_stop"));

    testing::seen_refusal refused;
    testing::dismiss_next_refusal(refused, &window);
    start->click();
    QVERIFY(refused.shown);
    QVERIFY(!window.test_running());

    // The user runs the suggested sysctl and presses start again, without restarting.
    set_ping_group_range("0 2147483647");
    testing::seen_refusal again;
    testing::dismiss_next_refusal(again, &window);
    start->click();
    QVERIFY(!again.shown);
    QVERIFY(window.test_running());
    QTRY_VERIFY_WITH_TIMEOUT(window.channel(0).stats.class_counts[0] >= 1, 5000);
    stop->click();
    QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled(), 8000);

    // Closing the range again gives lost probes, not a refusal: the working kind is kept.
    set_ping_group_range("1 0");
    QVERIFY(check_echo_available().available);
    start->click();
    QVERIFY(!again.shown);
    QVERIFY(window.test_running());
    QTRY_VERIFY_WITH_TIMEOUT(window.channel(0).stats.class_counts[timeout_class] >= 1, 5000);
    QCOMPARE(window.channel(0).stats.class_counts[0], 0);
    stop->click();
    QTRY_VERIFY_WITH_TIMEOUT(start->isEnabled(), 8000);
  }
};

int main(int argc, char** argv) {
  // Before Qt starts any thread, so that every thread lacks the capability.
  if (!drop_raw_capability()) return 2;
  QApplication app(argc, argv);
  test_echo_refusal test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_echo_refusal.moc"
