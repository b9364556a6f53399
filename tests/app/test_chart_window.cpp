// The latency chart through the real windows: opened from a log's menu during a scripted run, it
// follows the run, keeps the user's view, shows a probe under the pointer and saves a PNG.
#include "app/main_window.h"
#include "probe/latency_stats.h"
#include "windows/chart_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWheelEvent>

#include <array>
#include <atomic>
#include <memory>

using namespace quorvel;

namespace {

// Per target, answers from 20 to 60 ms and every fifth probe lost; nothing is sent anywhere.
probe_function scripted_prober(std::shared_ptr<std::array<std::atomic<int>, 2>> calls) {
  return [calls](const std::string& host, int, const probe_cancel&) -> std::int32_t {
    const int call = (*calls)[host == "127.0.0.5" ? 0 : 1]++;
    return call % 5 == 4 ? -1 : 20 + call * 7 % 41;
  };
}

// Picks `text` from the next popup menu.
void pick_from_next_menu(const QString& text) {
  QTimer::singleShot(50, [text] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!menu) return;
    for (QAction* action : menu->actions()) {
      if (action->text() == text) {
        menu->close();
        action->trigger();
        return;
      }
    }
    menu->close();
  });
}

void open_context_menu(QWidget* target, QPoint at) {
  QContextMenuEvent event(QContextMenuEvent::Mouse, at, target->mapToGlobal(at));
  QApplication::sendEvent(target, &event);
}

bool has_colour(const QImage& image, QRgb colour) {
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      if ((line[x] & 0xffffff) == (colour & 0xffffff)) return true;
    }
  }
  return false;
}

QImage top_half(const QImage& image) { return image.copy(0, 0, image.width(), image.height() / 2); }

}  // namespace

class test_chart_window : public QObject {
  Q_OBJECT

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<main_window> window_;

  template <class Widget = QWidget>
  Widget* find(const char* name) {
    return window_->findChild<Widget*>(QString::fromUtf8(name));
  }

  chart_window* chart() { return window_->findChild<chart_window*>(QString(), Qt::FindDirectChildrenOnly); }
  QWidget* plot() { return chart()->findChild<QWidget*>(QStringLiteral("chart_plot")); }

  int probe_lines(const char* log) {
    return static_cast<int>(find(log)->property("plainText").toString().count('\n'));
  }

  void open_chart_from_log(const char* log) {
    QWidget* view = find(log);
    QWidget* viewport = view->findChild<QWidget*>(QStringLiteral("qt_scrollarea_viewport"));
    pick_from_next_menu(QStringLiteral("延迟曲线…"));
    open_context_menu(viewport ? viewport : view, {20, 20});
    QTRY_VERIFY(chart() && chart()->isVisible());
  }

  QImage plot_image() { return plot()->grab().toImage().convertToFormat(QImage::Format_RGB32); }

private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    auto calls = std::make_shared<std::array<std::atomic<int>, 2>>();
    main_window_setup setup{dir_->filePath(QStringLiteral("ini.ini")).toStdString(), scripted_prober(calls), {}};
    window_ = std::make_unique<main_window>(std::move(setup));
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    find<QLineEdit>("编辑框")->setText(QStringLiteral("127.0.0.5"));
  }

  void cleanup() {
    chart_window::set_image_path_chooser({});
    window_.reset();
  }

  void opens_from_either_log_and_once() {
    open_chart_from_log("edit_wg_log");
    chart_window* first = chart();
    QCOMPARE(first->objectName(), QStringLiteral("win_chart"));
    QCOMPARE(first->windowTitle(), QStringLiteral("延迟曲线"));
    QCOMPARE(first->parentWidget(), window_.get());
    open_chart_from_log("edit_ww_log");
    QCOMPARE(chart(), first);
    window_->show_chart();
    QCOMPARE(window_->findChildren<chart_window*>().size(), 1);

    QTest::keyClick(first, Qt::Key_Escape);
    QTRY_VERIFY(!chart());
    window_->show_chart();
    QVERIFY(chart());
    window_->close();
    QTRY_VERIFY(!chart());
  }

  void follows_the_run_and_keeps_a_zoomed_view() {
    QTest::mouseClick(find<QPushButton>("btn_start"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(probe_lines("edit_wg_log") >= 3 && probe_lines("edit_ww_log") >= 3, 10000);
    open_chart_from_log("edit_wg_log");
    QVERIFY(chart()->follows_end());
    const double end_before = chart()->view_span().end;
    const int lines = probe_lines("edit_wg_log");
    QTRY_VERIFY_WITH_TIMEOUT(probe_lines("edit_wg_log") >= lines + 2, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(chart()->view_span().end >= end_before + 2.0, 3000);

    // The pictures of both panes: the line in each channel's colour, and the losses in red.
    const QImage image = plot_image();
    QVERIFY(has_colour(top_half(image), qRgb(0x20, 0x60, 0xc0)));
    QVERIFY(has_colour(image.copy(0, image.height() / 2, image.width(), image.height() / 2), qRgb(0x00, 0x80, 0x60)));
    QVERIFY(has_colour(top_half(image), qRgb(0xff, 0x00, 0x00)));

    // A zoom around the pointer: the time under it stays, and the view no longer moves.
    const time_span before = chart()->view_span();
    const QPointF at(plot()->width() / 2.0, plot()->height() / 4.0);
    QWheelEvent wheel(at, plot()->mapToGlobal(at), {}, {0, 240}, Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(plot(), &wheel);
    const time_span zoomed = chart()->view_span();
    QVERIFY(!chart()->follows_end());
    QVERIFY(zoomed.end - zoomed.begin < before.end - before.begin);
    const int zoomed_lines = probe_lines("edit_wg_log");
    QTRY_VERIFY_WITH_TIMEOUT(probe_lines("edit_wg_log") >= zoomed_lines + 2, 10000);
    QTest::qWait(1100);
    QCOMPARE(chart()->view_span().begin, zoomed.begin);
    QCOMPARE(chart()->view_span().end, zoomed.end);

    // A drag pans by the distance moved.
    QTest::mousePress(plot(), Qt::LeftButton, {}, QPoint(300, 50));
    QTest::mouseMove(plot(), QPoint(200, 50));
    QTest::mouseRelease(plot(), Qt::LeftButton, {}, QPoint(200, 50));
    QVERIFY(chart()->view_span().begin > zoomed.begin);

    // A range button follows the end again.
    QTest::mouseClick(chart()->findChild<QPushButton*>(QStringLiteral("btn_5min")), Qt::LeftButton);
    QVERIFY(chart()->follows_end());
    QCOMPARE(chart()->view_span().end - chart()->view_span().begin, 300.0);
    QTest::mouseClick(chart()->findChild<QPushButton*>(QStringLiteral("btn_hour")), Qt::LeftButton);
    QCOMPARE(chart()->view_span().end - chart()->view_span().begin, 3600.0);
    QTest::mouseClick(chart()->findChild<QPushButton*>(QStringLiteral("btn_all")), Qt::LeftButton);
    QVERIFY(chart()->follows_end());
  }

  void hover_shows_the_probe_as_the_log_writes_it() {
    QTest::mouseClick(find<QPushButton>("btn_start"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(probe_lines("edit_ww_log") >= 4, 10000);
    QTest::mouseClick(find<QPushButton>("btn_stop"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(find<QPushButton>("btn_start")->isEnabled(), 10000);
    window_->show_chart();
    // Near the end of the lower pane, where the last of the external host's probes lie.
    const QPointF at(plot()->width() - 20, plot()->height() * 3 / 4);
    QMouseEvent move(QEvent::MouseMove, at, plot()->mapToGlobal(at), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(plot(), &move);
    const QString shown = chart()->hover_text();
    QVERIFY(!shown.isEmpty());
    const QStringList lines = find("edit_ww_log")->property("plainText").toString().split('\n');
    QVERIFY2(lines.contains(shown), qPrintable(shown));

    // The run's probes in shown order give each log's probe lines, between its start and stop lines.
    std::array<QStringList, 2> shown_lines;
    window_->probe_records().for_each_shown([&](std::size_t channel, std::string_view stamp, std::int32_t result) {
      shown_lines.at(channel) << QString::fromStdString(log_line(stamp, result).substr(2));
    });
    for (const auto& [channel, log] : {std::pair{0, "edit_wg_log"}, std::pair{1, "edit_ww_log"}}) {
      const QStringList log_lines = find(log)->property("plainText").toString().split('\n');
      QCOMPARE(log_lines.mid(1, log_lines.size() - 2), shown_lines.at(static_cast<std::size_t>(channel)));
    }
  }

  void threshold_dashed_while_recorded() {
    QTest::mouseClick(find<QPushButton>("btn_start"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(probe_lines("edit_wg_log") >= 2, 10000);
    window_->show_chart();
    const QRgb threshold = qRgb(0xc0, 0x80, 0x00);
    QVERIFY(!has_colour(plot_image(), threshold));
    find<QCheckBox>("选择框_wg_ping")->setChecked(true);
    chart()->refresh();
    const QImage image = plot_image();
    QVERIFY(has_colour(top_half(image), threshold));
    QVERIFY(!has_colour(image.copy(0, image.height() / 2, image.width(), image.height() / 2), threshold));
  }

  void saves_a_png() {
    QTest::mouseClick(find<QPushButton>("btn_start"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(probe_lines("edit_wg_log") >= 2, 10000);
    window_->show_chart();
    const QString path = dir_->filePath(QStringLiteral("chart.png"));
    chart_window::set_image_path_chooser([path](QWidget*) { return path; });
    pick_from_next_menu(QStringLiteral("保存图片…"));
    open_context_menu(plot(), {100, 100});
    QTRY_VERIFY(QFile::exists(path));
    const QImage saved(path);
    QCOMPARE(saved.size(), plot()->size() * plot()->devicePixelRatio());
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files).size(), 2);  // the settings and the picture
  }

  void a_failed_save_says_so() {
    window_->show_chart();
    const QString path = dir_->filePath(QStringLiteral("no such folder/chart.png"));
    QString message;
    QTimer::singleShot(100, [&message] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        message = box->text();
        box->close();
      }
    });
    QVERIFY(!chart()->save_image(path));
    QVERIFY2(message.startsWith(QStringLiteral("图片没有保存到 ")) && message.contains(path), qPrintable(message));
    QVERIFY(!QFile::exists(path));
  }
};

QTEST_MAIN(test_chart_window)
#include "test_chart_window.moc"
