// The compact probe log: line splitting as in an edit box, chunk boundaries, clearing.
#include "probe/log_store.h"

#include <QString>
#include <QStringList>
#include <QTest>

using namespace quorvel;

namespace {

QStringList lines_of(const log_store& store) {
  QStringList lines;
  for (std::size_t index = 0; index < store.line_count(); ++index) {
    lines << QString::fromStdString(std::string(store.line(index)));
  }
  return lines;
}

// Lines of varied lengths, CJK included, like those of a long run.
std::string probe_line(std::size_t index) {
  return "2026-12-11 10:00:00    响应时间：" + std::to_string(index % 10007) + "ms" +
         std::string(index % 37, 'x');
}

}  // namespace

class test_log_store : public QObject {
  Q_OBJECT

private slots:
  void splitting_data() {
    QTest::addColumn<QStringList>("appends");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("nothing") << QStringList{} << QStringList{};
    QTest::newRow("empty appends add no line") << QStringList{"", ""} << QStringList{};
    QTest::newRow("start line and probe lines")
        << QStringList{"开始进行测试...", "\r\n2026-12-11 10:00:00    响应时间：20ms",
                       "\r\n2026-12-11 10:00:01    超时或出现故障", "\r\n停止网络测试。"}
        << QStringList{"开始进行测试...", "2026-12-11 10:00:00    响应时间：20ms",
                       "2026-12-11 10:00:01    超时或出现故障", "停止网络测试。"};
    QTest::newRow("a leading break makes an empty first line") << QStringList{"\r\nA"} << QStringList{"", "A"};
    QTest::newRow("a trailing break makes an empty last line") << QStringList{"A\r\n"} << QStringList{"A", ""};
    QTest::newRow("breaks only") << QStringList{"\r\n\r\n"} << QStringList{"", "", ""};
    QTest::newRow("appends without breaks join") << QStringList{"A", "B", "C"} << QStringList{"ABC"};
    QTest::newRow("break split over two appends") << QStringList{"A\r", "\nB"} << QStringList{"A", "B"};
    QTest::newRow("lone carriage return stays in the line") << QStringList{"A\r", "B"} << QStringList{"A\rB"};
    QTest::newRow("lone line feed stays in the line") << QStringList{"A\nB"} << QStringList{"A\nB"};
    QTest::newRow("several breaks in one append")
        << QStringList{"A", "B\r\nC\r\nD", "E"} << QStringList{"AB", "C", "DE"};
  }

  void splitting() {
    QFETCH(QStringList, appends);
    QFETCH(QStringList, lines);
    log_store store;
    for (const QString& text : appends) store.append(text.toStdString());
    QCOMPARE(lines_of(store), lines);
    QCOMPARE(QString::fromStdString(store.plain_text()), lines.join('\n'));
    QCOMPARE(store.line(store.line_count()), std::string_view{});
  }

  // Enough lines to cross many text chunks and index blocks; every line must come back whole.
  void many_lines_survive_chunk_boundaries() {
    constexpr std::size_t count = 60'000;
    log_store store;
    std::string expected;
    for (std::size_t index = 0; index < count; ++index) {
      const std::string line = probe_line(index);
      store.append((index == 0 ? "" : "\r\n") + line);
      expected += (index == 0 ? "" : "\n") + line;
    }
    QCOMPARE(store.line_count(), count);
    for (std::size_t index = 0; index < count; ++index) {
      if (store.line(index) != probe_line(index)) QFAIL(qPrintable(QString("line %1 differs").arg(index)));
    }
    QVERIFY(store.plain_text() == expected);
  }

  // A line longer than a chunk, made at once and made by many small appends, keeps its
  // neighbours intact.
  void overlong_lines() {
    const std::string long_line(300'000, 'L');
    log_store store;
    store.append("first");
    for (int part = 0; part < 20'000; ++part) store.append("grow-");
    store.append("\r\n" + long_line + "\r\nafter");
    store.append("\r\nlast");
    QCOMPARE(store.line_count(), std::size_t{4});
    QCOMPARE(store.line(0).size(), std::size_t{5 + 5 * 20'000});
    QVERIFY(store.line(0).starts_with("firstgrow-") && store.line(0).ends_with("grow-"));
    QVERIFY(store.line(1) == long_line);
    QCOMPARE(store.line(2), std::string_view{"after"});
    QCOMPARE(store.line(3), std::string_view{"last"});
  }

  // Random fragments, breaks often split between appends, checked against splitting the joined
  // text; long fragments now and then push lines over chunk boundaries.
  void random_appends_match_the_joined_text() {
    std::uint32_t state = 12345;
    const auto next = [&state](std::uint32_t bound) {
      state = state * 1664525u + 1013904223u;
      return (state >> 8) % bound;
    };
    const std::string pieces[] = {"\r", "\n", "\r\n", "响应", "a", "bc", "超时或出现故障"};
    log_store store;
    std::string joined;
    for (int round = 0; round < 20'000; ++round) {
      std::string fragment;
      const std::uint32_t parts = next(6);
      for (std::uint32_t part = 0; part < parts; ++part) fragment += pieces[next(std::size(pieces))];
      if (next(500) == 0) fragment += std::string(70'000 + next(50'000), 'z');
      store.append(fragment);
      joined += fragment;
    }
    std::vector<std::string> expected;
    for (std::size_t from = 0;;) {
      const std::size_t at = joined.find("\r\n", from);
      expected.push_back(joined.substr(from, at == std::string::npos ? std::string::npos : at - from));
      if (at == std::string::npos) break;
      from = at + 2;
    }
    QCOMPARE(store.line_count(), expected.size());
    for (std::size_t index = 0; index < expected.size(); ++index) {
      if (store.line(index) != expected[index]) QFAIL(qPrintable(QString("line %1 differs").arg(index)));
    }
  }

  void clear_releases_and_starts_afresh() {
    log_store store;
    for (int index = 0; index < 10'000; ++index) store.append("\r\n" + probe_line(index));
    const std::size_t full = store.memory_bytes();
    store.clear();
    QCOMPARE(store.line_count(), std::size_t{0});
    QCOMPARE(store.plain_text(), std::string{});
    QVERIFY(store.memory_bytes() < full / 100);
    store.append("开始进行测试...");
    QCOMPARE(lines_of(store), QStringList{"开始进行测试..."});
  }

  // The store's own account grows with the text, not with a copy per line.
  void memory_follows_the_text() {
    log_store store;
    std::size_t text_bytes = 0;
    for (std::size_t index = 0; index < 50'000; ++index) {
      const std::string line = "\r\n" + probe_line(index);
      text_bytes += line.size();
      store.append(line);
    }
    QVERIFY(store.memory_bytes() >= text_bytes - 2 * 50'000);
    QVERIFY(store.memory_bytes() < text_bytes + 16 * 50'000);
  }
};

QTEST_APPLESS_MAIN(test_log_store)
#include "test_log_store.moc"
