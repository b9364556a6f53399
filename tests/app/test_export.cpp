// The export commands through the real menus and file dialog of the main and record windows,
// after a short run with scripted results; the files' bytes against what the windows show.
#include "app/export_actions.h"
#include "app/main_window.h"
#include "gui_driving.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <array>
#include <memory>
#include <tuple>

using namespace quorvel;
using namespace quorvel::testing;

namespace {

constexpr const char* gateway = "127.0.0.5";
constexpr const char* external = "baidu.com";  // scripted, never resolved
const QByteArray bom = "\xEF\xBB\xBF";

QByteArray file_bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& folder) {
  return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Rows for "导出数据…": `count` probes alternating between the channels.
struct scripted_rows {
  std::vector<std::string> stamps;
  std::function<probe_rows()> source(std::size_t count) {
    return [this, count] {
      return probe_rows{count, [this](std::size_t i) {
                          return probe_row{stamps[i % stamps.size()], i % 2,
                                           i % 5 == 4 ? -1 : static_cast<std::int32_t>(i % 1000)};
                        }};
    };
  }
};

}  // namespace

class test_export : public QObject {
  Q_OBJECT

private:
  QTemporaryDir home_;
  std::shared_ptr<result_script> script_ = std::make_shared<result_script>();
  std::unique_ptr<main_window> window_;
  QStringList start_stamps_;  // the run started in one of these seconds (yyyyMMdd-HHmmss)
  scripted_rows rows_{{"2026-12-11 10:25:05", "2026-12-11 10:25:06"}};

  template <class Widget>
  Widget* find(const char* name) {
    return window_->findChild<Widget*>(QString::fromUtf8(name));
  }

  QString documents() const { return home_.filePath(QStringLiteral("Documents")); }

  // Answers the next export file dialog with `path`; returns what it offered.
  std::shared_ptr<QString> choose_file(const QString& path) {
    auto offered = std::make_shared<QString>();
    when_shown<QFileDialog>(QStringLiteral("dlg_export"), [offered, path](QFileDialog* dialog) {
      *offered = dialog->selectedFiles().value(0);
      dialog->selectFile(path);
      static_cast<QDialog*>(dialog)->accept();  // QFileDialog::accept, as its button calls it
    });
    return offered;
  }

  // Dismisses the next failure message; returns its text.
  std::shared_ptr<QString> expect_failure() {
    auto text = std::make_shared<QString>();
    when_shown<QMessageBox>(QStringLiteral("msg_export_failed"), [text](QMessageBox* box) {
      *text = box->text();
      box->accept();
    });
    return text;
  }

  void verify_offered(const QString& offered, const QString& what, const QString& extension) {
    const QFileInfo info(offered);
    QCOMPARE(info.absolutePath(), documents());
    const QRegularExpression name("^quorvel-" + what + "-(\\d{8}-\\d{6})\\" + extension + "$");
    const QRegularExpressionMatch match = name.match(info.fileName());
    QVERIFY2(match.hasMatch(), qPrintable(info.fileName()));
    QVERIFY2(start_stamps_.contains(match.captured(1)), qPrintable(match.captured(1)));
  }

  // A tmpfs mounted over `folder` in the test's own mount namespace.
  static bool mount_tmpfs(const QString& folder, const QString& options) {
    return QProcess::execute("mount", {"-t", "tmpfs", "-o", options, "tmpfs", folder}) == 0;
  }

  void wait_for_export_end() {
    QTRY_VERIFY_WITH_TIMEOUT(!window_->findChild<export_actions*>()->busy(), 30000);
  }

private slots:
  void initTestCase() {
    QVERIFY(home_.isValid());
    qputenv("HOME", home_.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    QVERIFY(QDir().mkpath(documents()));
    script_->set(gateway, {-1, 20, 21, 22});
    script_->set(external, {38, -1, 40});
    window_ = std::make_unique<main_window>(main_window_setup{
        home_.filePath("ini.ini").toStdString(), result_script::prober(script_), {}});
    window_->show();
    find<QLineEdit>("编辑框")->setText(QString::fromUtf8(gateway));
    find<QCheckBox>("选择框_wg_timeout")->click();
    find<QCheckBox>("选择框_ww_timeout")->click();
    const QDateTime before = QDateTime::currentDateTime();
    find<QPushButton>("btn_start")->click();
    for (QDateTime t = before; t <= QDateTime::currentDateTime().addSecs(1); t = t.addSecs(1))
      start_stamps_ << t.toString("yyyyMMdd-HHmmss");
    QTRY_VERIFY_WITH_TIMEOUT(window_->channel(1).timeout_records.size() == 1, 10000);
    find<QPushButton>("btn_stop")->click();
    QVERIFY(find<QPushButton>("btn_start")->isEnabled());
  }

  void cleanupTestCase() { window_.reset(); }

  void log_export_writes_the_lines_shown_data() {
    QTest::addColumn<QString>("log_name");
    QTest::addColumn<QString>("what");
    QTest::newRow("gateway") << "edit_wg_log" << "日志-网关";
    QTest::newRow("external") << "edit_ww_log" << "日志-外网";
  }

  void log_export_writes_the_lines_shown() {
    QFETCH(QString, log_name);
    QFETCH(QString, what);
    auto* log = window_->findChild<QWidget*>(log_name);
    QVERIFY(log);
    const QString target = home_.filePath(what + ".txt");
    const auto offered = choose_file(target);
    QVERIFY(pick_context_item(log, QStringLiteral("导出日志…")));
    wait_for_export_end();
    verify_offered(*offered, what, ".txt");
    const QString shown = log->property("plainText").toString();
    QVERIFY(shown.startsWith(QStringLiteral("开始进行测试...\n")));
    QVERIFY(shown.endsWith(QStringLiteral("\n停止网络测试。")));
    QCOMPARE(file_bytes(target), (shown + "\n").toUtf8());
  }

  // The program's own rows: every probe line of both logs, each channel's in its log's order.
  void data_export_writes_the_runs_probes() {
    const QString target = home_.filePath("run.csv");
    const auto offered = choose_file(target);
    QVERIFY(pick_context_item(find<QWidget>("edit_wg_log"), QStringLiteral("导出数据…")));
    wait_for_export_end();
    verify_offered(*offered, "数据", ".csv");
    const QByteArray bytes = file_bytes(target);
    const QByteArray head = bom + "时间,通道,响应时间(ms),超时\r\n";
    QVERIFY(bytes.startsWith(head));
    QVERIFY(bytes.endsWith("\r\n"));
    QStringList rows = QString::fromUtf8(bytes.mid(head.size())).split(QStringLiteral("\r\n"));
    rows.removeLast();
    std::array<QStringList, 2> written;
    for (const QString& row : rows) written[row.section(',', 1, 1) == "网关" ? 0 : 1] << row;
    const QRegularExpression answer(QStringLiteral("响应时间：(\\d+)ms$"));
    for (const auto& [index, name, log_name] :
         {std::tuple{0, "网关", "edit_wg_log"}, std::tuple{1, "外网", "edit_ww_log"}}) {
      QStringList expected;
      for (const QString& line : find<QWidget>(log_name)->property("plainText").toString().split('\n')) {
        if (line.isEmpty() || !line.front().isDigit()) continue;  // the start and stop lines
        const QRegularExpressionMatch match = answer.match(line);
        expected << line.left(19) + "," + name + "," +
                        (match.hasMatch() ? match.captured(1) + ",0" : QStringLiteral(",1"));
      }
      QVERIFY(expected.size() >= 3);
      QCOMPARE(written[index], expected);
    }
  }

  void data_export_writes_the_rows() {
    window_->set_probe_rows_source(rows_.source(5));
    const QString target = home_.filePath("data.csv");
    const auto offered = choose_file(target);
    QVERIFY(pick_context_item(find<QWidget>("edit_ww_log"), QStringLiteral("导出数据…")));
    wait_for_export_end();
    verify_offered(*offered, "数据", ".csv");
    QCOMPARE(file_bytes(target), bom + "时间,通道,响应时间(ms),超时\r\n"
                                       "2026-12-11 10:25:05,网关,0,0\r\n"
                                       "2026-12-11 10:25:06,外网,1,0\r\n"
                                       "2026-12-11 10:25:05,网关,2,0\r\n"
                                       "2026-12-11 10:25:06,外网,3,0\r\n"
                                       "2026-12-11 10:25:05,网关,,1\r\n");
  }

  void record_export_writes_the_window_lines() {
    find<QPushButton>("btn_ww_timeout")->click();
    QWidget* records = nullptr;
    QTRY_VERIFY((records = window_->findChild<QWidget*>("win_records")) != nullptr);
    // Lines as the window shows them, turned into the rows the file must hold.
    QByteArray expected = bom + "通道,类型,开始时间,时长(秒)\r\n";
    const QRegularExpression line("^发生在:(.{19})  约:(-?\\d+\\.\\d\\d)秒$");
    int lines = 0;
    for (const auto& [list_name, row_head] :
         {std::pair{"list_wg_ping", "网关,高延迟,"}, std::pair{"list_wg_out", "网关,超时,"},
          std::pair{"list_ww_ping", "外网,高延迟,"}, std::pair{"list_ww_out", "外网,超时,"}}) {
      auto* list = records->findChild<QListWidget*>(list_name);
      QVERIFY(list);
      for (int row = 0; row < list->count(); ++row, ++lines) {
        const QRegularExpressionMatch match = line.match(list->item(row)->text());
        QVERIFY2(match.hasMatch(), qPrintable(list->item(row)->text()));
        expected += (row_head + match.captured(1) + "," + match.captured(2) + "\r\n").toUtf8();
      }
    }
    QCOMPARE(lines, 2);  // one timeout episode on each channel
    const QString target = home_.filePath("records.csv");
    const auto offered = choose_file(target);
    auto* list = records->findChild<QListWidget*>("list_wg_out");
    QVERIFY(pick_context_item(list, QStringLiteral("导出全部记录…")));
    wait_for_export_end();
    verify_offered(*offered, "记录", ".csv");
    QCOMPARE(file_bytes(target), expected);
    records->close();
  }

  void unwritable_folder_gives_a_message_and_no_file_data() {
    QTest::addColumn<QString>("mount_options");
    QTest::addColumn<int>("rows");
    QTest::newRow("read-only folder") << "ro" << 5;
    QTest::newRow("disk full") << "size=16k" << 20000;
  }

  void unwritable_folder_gives_a_message_and_no_file() {
    QFETCH(QString, mount_options);
    QFETCH(int, rows);
    if (qEnvironmentVariable("QUORVEL_IN_TEST_NETNS") != "1")
      QSKIP("needs the private mount namespace of netns_run");
    const QString folder = home_.filePath("small-" + QString::number(rows));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(mount_tmpfs(folder, mount_options));
    window_->set_probe_rows_source(rows_.source(static_cast<std::size_t>(rows)));
    const auto message = expect_failure();
    choose_file(QDir(folder).filePath("data.csv"));
    QVERIFY(pick_context_item(find<QWidget>("edit_wg_log"), QStringLiteral("导出数据…")));
    wait_for_export_end();
    QVERIFY2(message->startsWith(QStringLiteral("无法写入文件")), qPrintable(*message));
    QCOMPARE(entries(folder), QStringList());
    QProcess::execute("umount", {folder});
  }

  // A long export shows its progress, lets the probe cycles go on, and writes every row.
  void long_export_shows_progress() {
    const std::size_t rows = 1'500'000;
    window_->set_probe_rows_source(rows_.source(rows));
    bool progress_seen = false;
    when_shown<QProgressDialog>(QStringLiteral("dlg_export_progress"),
                                [&progress_seen](QProgressDialog*) { progress_seen = true; });
    const QString target = home_.filePath("long.csv");
    choose_file(target);
    QVERIFY(pick_context_item(find<QWidget>("edit_wg_log"), QStringLiteral("导出数据…")));
    wait_for_export_end();
    if (!progress_seen) QSKIP("the export took under half a second here");
    const QByteArray bytes = file_bytes(target);
    QCOMPARE(bytes.count("\r\n"), qsizetype(rows + 1));
    QVERIFY(bytes.endsWith("\r\n2026-12-11 10:25:05,网关,998,0\r\n2026-12-11 10:25:06,外网,,1\r\n"));
  }

  // Starting a run clears what an export under way was writing: it is abandoned, nothing left.
  void start_abandons_an_export() {
    window_->set_probe_rows_source(rows_.source(3'000'000));
    const QString folder = home_.filePath("abandoned");
    QVERIFY(QDir().mkpath(folder));
    choose_file(QDir(folder).filePath("data.csv"));
    QVERIFY(pick_context_item(find<QWidget>("edit_wg_log"), QStringLiteral("导出数据…")));
    auto* exports = window_->findChild<export_actions*>();
    QVERIFY(exports->busy());
    QTest::qWait(100);
    find<QPushButton>("btn_start")->click();
    QVERIFY(!exports->busy());
    QCOMPARE(entries(folder), QStringList());
    find<QPushButton>("btn_stop")->click();
  }
};

QTEST_MAIN(test_export)
#include "test_export.moc"
