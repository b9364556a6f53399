// The bytes of each export format.
#include "probe/export_formats.h"

#include <QByteArray>
#include <QList>
#include <QTest>

#include <sstream>
#include <string>
#include <vector>

using namespace quorvel;

namespace {

const QByteArray bom = "\xEF\xBB\xBF";

QByteArray written(const export_format& format) {
  std::ostringstream out;
  format.write_all(out);
  return QByteArray::fromStdString(out.str());
}

// The same bytes written a few rows at a time.
QByteArray written_in_slices(const export_format& format, std::size_t slice) {
  std::ostringstream out;
  format.write_head(out);
  for (std::size_t begin = 0; begin < format.row_count(); begin += slice)
    format.write_rows(out, begin, std::min(begin + slice, format.row_count()));
  return QByteArray::fromStdString(out.str());
}

struct scripted_probe {
  std::string stamp;
  std::size_t channel;
  std::int32_t result;
};

probe_csv_format probe_format(const std::vector<scripted_probe>& probes) {
  return probe_csv_format(probe_rows{probes.size(), [&probes](std::size_t i) {
                                       return probe_row{probes[i].stamp, probes[i].channel,
                                                        probes[i].result};
                                     }});
}

}  // namespace

class test_export_formats : public QObject {
  Q_OBJECT

private slots:
  void log_text_ends_each_line_with_lf() {
    const std::vector<std::string> lines{"开始进行测试...", "2026-12-11 10:25:05    响应时间：3ms",
                                         "", "停止网络测试。"};
    const log_text_format format(
        text_lines{lines.size(), [&lines](std::size_t i) { return std::string_view(lines[i]); }});
    QCOMPARE(written(format), QByteArray("开始进行测试...\n2026-12-11 10:25:05    响应时间：3ms\n"
                                         "\n停止网络测试。\n"));
    QCOMPARE(written(log_text_format(text_lines{0, {}})), QByteArray());
  }

  void probe_csv() {
    const std::vector<scripted_probe> probes{{"2026-12-11 10:25:05", 1, -1},
                                             {"2026-12-11 10:25:05", 0, 0},
                                             {"2026-12-11 10:25:06", 1, 38},
                                             {"2026-12-11 10:25:06", 0, 4999}};
    QCOMPARE(written(probe_format(probes)),
             bom + "时间,通道,响应时间(ms),超时\r\n"
                   "2026-12-11 10:25:05,外网,,1\r\n"
                   "2026-12-11 10:25:05,网关,0,0\r\n"
                   "2026-12-11 10:25:06,外网,38,0\r\n"
                   "2026-12-11 10:25:06,网关,4999,0\r\n");
    QCOMPARE(written(probe_format({})), bom + "时间,通道,响应时间(ms),超时\r\n");
  }

  void csv_quoting_data() {
    QTest::addColumn<QByteArray>("field");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("plain") << QByteArray("2026-12-11 10:25:05") << QByteArray("2026-12-11 10:25:05");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("comma") << QByteArray("a,b") << QByteArray("\"a,b\"");
    QTest::newRow("quote") << QByteArray("say \"hi\"") << QByteArray("\"say \"\"hi\"\"\"");
    QTest::newRow("line feed") << QByteArray("a\nb") << QByteArray("\"a\nb\"");
    QTest::newRow("carriage return") << QByteArray("a\rb") << QByteArray("\"a\rb\"");
    QTest::newRow("blank and Chinese") << QByteArray("网关 超时") << QByteArray("网关 超时");
  }

  void csv_quoting() {
    QFETCH(QByteArray, field);
    QFETCH(QByteArray, expected);
    std::ostringstream out;
    write_csv_field(out, field.toStdString());
    QCOMPARE(QByteArray::fromStdString(out.str()), expected);
    // The same rule inside a probe row's time stamp.
    const std::vector<scripted_probe> probes{{field.toStdString(), 0, 7}};
    QCOMPARE(written(probe_format(probes)),
             bom + "时间,通道,响应时间(ms),超时\r\n" + expected + ",网关,7,0\r\n");
  }

  void record_csv_in_list_order() {
    record_list_copies lists;
    lists[0] = {{"2026-12-11 10:25:05", 12300}, {"2026-12-11 11:00:00", 250}};
    lists[1] = {{"2026-12-11 10:30:00", 5000}};
    lists[3] = {{"2026-12-11 09:00:00", -1500}, {"2026-12-11 09:10:00", 1005}};
    const record_csv_format format(lists);
    const QByteArray expected = bom + "通道,类型,开始时间,时长(秒)\r\n"
                                      "网关,高延迟,2026-12-11 10:25:05,12.30\r\n"
                                      "网关,高延迟,2026-12-11 11:00:00,0.25\r\n"
                                      "网关,超时,2026-12-11 10:30:00,5.00\r\n"
                                      "外网,超时,2026-12-11 09:00:00,-1.50\r\n"
                                      "外网,超时,2026-12-11 09:10:00,1.01\r\n";
    QCOMPARE(format.row_count(), std::size_t{5});
    QCOMPARE(written(format), expected);
    for (const std::size_t slice : {1, 2, 3, 4})
      QCOMPARE(written_in_slices(format, slice), expected);
    QCOMPARE(written(record_csv_format({})), bom + "通道,类型,开始时间,时长(秒)\r\n");
  }

  void file_names() {
    QCOMPARE(QString::fromStdString(export_file_name("日志-网关", "2026-12-11 10:25:05", ".txt")),
             QStringLiteral("quorvel-日志-网关-20261211-102505.txt"));
    QCOMPARE(QString::fromStdString(export_file_name("记录", "2027-01-02 03:04:05", ".csv")),
             QStringLiteral("quorvel-记录-20270102-030405.csv"));
  }

  void slices_give_the_same_bytes() {
    std::vector<scripted_probe> probes;
    for (int i = 0; i < 50; ++i)
      probes.push_back({"2026-12-11 10:25:" + std::to_string(10 + i), std::size_t(i % 2),
                        i % 7 == 0 ? -1 : i});
    const probe_csv_format format = probe_format(probes);
    for (const std::size_t slice : {1, 7, 49, 64})
      QCOMPARE(written_in_slices(format, slice), written(format));
  }
};

QTEST_APPLESS_MAIN(test_export_formats)
#include "test_export_formats.moc"
