// The probe log view as a real widget: its text, scrolling, selection and copy, colours.
#include "app/log_view.h"
#include "probe/latency_stats.h"
#include "probe/probe_record.h"

#include <QApplication>
#include <QClipboard>
#include <QFontMetrics>
#include <QImage>
#include <QMenu>
#include <QTimer>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>

#include <memory>

using namespace quorvel;

namespace {

constexpr int left_margin = 4;
constexpr int top_margin = 2;

std::string probe_line(int index) {
  return QString("2026-12-11 10:%1:%2    响应时间：%3ms")
      .arg(index / 60 % 60, 2, 10, QChar('0'))
      .arg(index % 60, 2, 10, QChar('0'))
      .arg(index % 997)
      .toStdString();
}

void append_probe_lines(log_view& view, int from, int count) {
  for (int index = from; index < from + count; ++index) view.append("\r\n" + probe_line(index));
}

QString qs(const std::string& text) { return QString::fromStdString(text); }

void send_mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButtons buttons) {
  const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
  QMouseEvent event(type, at, target->mapToGlobal(at), button, buttons, Qt::NoModifier);
  QApplication::sendEvent(target, &event);
}

}  // namespace

class test_log_view : public QObject {
  Q_OBJECT

  std::unique_ptr<log_view> view_;

  int line_height() const { return view_->fontMetrics().lineSpacing(); }
  // A point inside the given visible row, at x pixels from the text's left edge.
  QPoint in_row(int row, int x) const { return {left_margin + x, top_margin + row * line_height() + line_height() / 2}; }

  void drag(QPoint from, QPoint to) { drag_in(*view_, from, to); }
  static void drag_in(log_view& view, QPoint from, QPoint to) {
    QWidget* target = view.viewport();
    send_mouse(target, QEvent::MouseButtonPress, from, Qt::LeftButton);
    send_mouse(target, QEvent::MouseMove, (from + to) / 2, Qt::LeftButton);
    send_mouse(target, QEvent::MouseMove, to, Qt::LeftButton);
    send_mouse(target, QEvent::MouseButtonRelease, to, Qt::NoButton);
  }

private slots:
  void init() {
    view_ = std::make_unique<log_view>();
    view_->setObjectName("edit_wg_log");
    QFont font("WenQuanYi Micro Hei");
    font.setPixelSize(14);
    view_->setFont(font);
    view_->resize(495, 350);
    view_->show();
    QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
  }

  void cleanup() { view_.reset(); }

  void plain_text_property() {
    QCOMPARE(view_->property("plainText").toString(), QString());
    view_->append("开始进行测试...");
    view_->append("\r\n" + probe_line(0));
    view_->append("\r\n2026-12-11 10:00:01    超时或出现故障");
    view_->append("\r\n停止网络测试。");
    QCOMPARE(view_->property("plainText").toString(),
             "开始进行测试...\n" + qs(probe_line(0)) + "\n2026-12-11 10:00:01    超时或出现故障\n停止网络测试。");
    view_->clear();
    QCOMPARE(view_->property("plainText").toString(), QString());
    QCOMPARE(view_->store().line_count(), std::size_t{0});
  }

  void follows_the_end_only_while_there() {
    QScrollBar* bar = view_->verticalScrollBar();
    view_->append("开始进行测试...");
    append_probe_lines(*view_, 0, 200);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    // The last line is fully inside the view.
    const int rows_shown = (view_->viewport()->height() - top_margin) / line_height();
    QCOMPARE(view_->first_visible_line() + static_cast<std::size_t>(rows_shown), view_->store().line_count());

    // The user scrolls up to read: new lines must not move the view.
    QTest::keyClick(view_.get(), Qt::Key_PageUp);
    QTest::keyClick(view_.get(), Qt::Key_PageUp);
    const int reading_at = bar->value();
    QVERIFY(reading_at < bar->maximum());
    const int old_maximum = bar->maximum();
    append_probe_lines(*view_, 200, 30);
    QCOMPARE(bar->value(), reading_at);
    QCOMPARE(bar->maximum(), old_maximum + 30);

    // Back at the end, it follows again, also through a resize.
    QTest::keyClick(view_.get(), Qt::Key_End);
    append_probe_lines(*view_, 230, 5);
    QCOMPARE(bar->value(), bar->maximum());
    view_->resize(495, 200);
    QCOMPARE(bar->value(), bar->maximum());
    append_probe_lines(*view_, 235, 5);
    QCOMPARE(bar->value(), bar->maximum());
  }

  void selection_and_copy() {
    view_->append("开始进行测试...");
    append_probe_lines(*view_, 0, 3);
    QApplication::clipboard()->clear();

    // From the start of row 1 to beyond the end of row 2: two whole lines.
    drag(in_row(1, 0), in_row(2, 450));
    QTest::keyClick(view_.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), qs(probe_line(0)) + "\n" + qs(probe_line(1)));

    // Within one line, backwards: the date of row 3.
    const int date_width = view_->fontMetrics().horizontalAdvance("2026-12-11");
    drag(in_row(3, date_width), in_row(3, 0));
    QCOMPARE(view_->selected_text(), QString("2026-12-11"));
    QTest::keyClick(view_.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), QString("2026-12-11"));

    QTest::keyClick(view_.get(), Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(view_.get(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QApplication::clipboard()->text(), view_->property("plainText").toString());

    // The log is read-only: typing changes nothing.
    QTest::keyClicks(view_.get(), "abc");
    QTest::keyClick(view_.get(), Qt::Key_Return);
    QTest::keyClick(view_.get(), Qt::Key_Backspace);
    QTest::keyClick(view_.get(), Qt::Key_Delete);
    QTest::keyClick(view_.get(), Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(view_->store().line_count(), std::size_t{4});
    QCOMPARE(view_->property("plainText").toString(), QApplication::clipboard()->text());
  }

  // A run with every kind of line, shown once from the probe records and once as the texts the
  // probe cycle used to append: the same text, the same selections, the same pixels.
  void probe_lines_from_records_read_as_todays_text() {
    probe_record_list records;
    view_->attach_records(records, 1);
    log_view today;
    today.setFont(view_->font());
    today.resize(view_->size());
    today.show();
    QVERIFY(QTest::qWaitForWindowExposed(&today));
    const auto both = [&](const std::string& text) {
      view_->append(text);
      today.append(text);
    };
    both("开始进行测试...");
    const std::int32_t results[] = {0, 12, -1, 80, 81, 999, 1000, 4999, -1, 3};
    for (int index = 0; index < 40; ++index) {
      const std::int32_t result = results[index % std::size(results)];
      const probe_time time{1'796'900'000 + index * 3, 8 * 3600};
      records.add(0, 5, time);  // the gateway's probe, shown in the other log
      records.add(1, result, time);
      view_->append_probe();
      today.append(log_line(probe_time_stamp(time), result));
    }
    both("\r\n停止网络测试。");
    QCOMPARE(view_->store().line_count(), today.store().line_count());
    QCOMPARE(view_->property("plainText").toString(), today.property("plainText").toString());
    QVERIFY(view_->property("plainText").toString().endsWith("\n停止网络测试。"));
    QVERIFY(view_->property("plainText").toString().contains("\n2026-12-10 18:53:26    超时或出现故障\n"));

    QApplication::clipboard()->clear();
    QStringList copies;
    for (log_view* view : {view_.get(), &today}) {
      QTest::keyClick(view, Qt::Key_Home);
      drag_in(*view, in_row(0, 30), in_row(3, 120));
      QTest::keyClick(view, Qt::Key_C, Qt::ControlModifier);
      copies << QApplication::clipboard()->text();
    }
    QCOMPARE(copies[0].count('\n'), 3);
    QCOMPARE(copies[0], copies[1]);
    QCOMPARE(view_->viewport()->grab().toImage(), today.viewport()->grab().toImage());
  }

  void context_menu_copy() {
    view_->append("开始进行测试...");
    append_probe_lines(*view_, 0, 2);
    drag(in_row(2, 0), in_row(2, 450));
    QApplication::clipboard()->clear();
    QStringList offered;
    QTimer::singleShot(0, [&offered] {
      QMenu* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) return;
      for (QAction* action : menu->actions()) offered << action->text();
      menu->actions().first()->trigger();
      menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, in_row(2, 10), view_->viewport()->mapToGlobal(in_row(2, 10)));
    QApplication::sendEvent(view_->viewport(), &event);
    QCOMPARE(offered, QStringList({"复制", "全选"}));
    QCOMPARE(QApplication::clipboard()->text(), qs(probe_line(1)));
  }

  void selection_drag_scrolls_beyond_the_edge() {
    append_probe_lines(*view_, 0, 100);
    QTest::keyClick(view_.get(), Qt::Key_Home);
    QCOMPARE(view_->first_visible_line(), std::size_t{0});
    QWidget* target = view_->viewport();
    send_mouse(target, QEvent::MouseButtonPress, in_row(1, 0), Qt::LeftButton);
    send_mouse(target, QEvent::MouseMove, QPoint(left_margin, target->height() + 20), Qt::LeftButton);
    QTRY_VERIFY(view_->first_visible_line() >= 3);
    send_mouse(target, QEvent::MouseButtonRelease, QPoint(left_margin, target->height() + 20), Qt::NoButton);
    const std::size_t first = view_->first_visible_line();
    QTest::qWait(200);
    QCOMPARE(view_->first_visible_line(), first);
    QVERIFY(view_->selected_text().startsWith(qs(probe_line(0)) + "\n" + qs(probe_line(1))));
  }

  void colours() {
    view_->append("开始进行测试...");
    append_probe_lines(*view_, 0, 2);
    const QImage image = view_->viewport()->grab().toImage();
    const QColor background(96, 96, 96);
    const QColor text(0, 255, 255);
    // Well below the three lines the view is plain background.
    QCOMPARE(image.pixelColor(image.width() - 5, image.height() - 5), background);
    QCOMPARE(image.pixelColor(image.width() / 2, top_margin + 5 * line_height()), background);
    int text_pixels = 0;
    int other_pixels = 0;
    for (int y = top_margin; y < top_margin + 3 * line_height(); ++y) {
      for (int x = 0; x < image.width(); ++x) {
        const QColor colour = image.pixelColor(x, y);
        if (colour == text) ++text_pixels;
        // Anti-aliased edges lie between the two colours: no red, equal green and blue.
        else if (colour != background && !(colour.red() <= 96 && colour.green() == colour.blue())) ++other_pixels;
      }
    }
    QVERIFY2(text_pixels > 50, qPrintable(QString::number(text_pixels)));
    QCOMPARE(other_pixels, 0);
  }
};

QTEST_MAIN(test_log_view)
#include "test_log_view.moc"
