// The floating status window through the real widget: placement, colours, texts, closing.
#include "windows/float_window.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>

using quorvel::float_window_host;

namespace {

constexpr int gateway = 0;
constexpr int external = 1;

QLabel* label_of(const float_window_host& host, const char* name) {
  return host.window() ? host.window()->findChild<QLabel*>(name) : nullptr;
}

// Presses the left button on `grip`, moves by `delta` and lets go, as a user drags.
void drag(QWidget* grip, QPoint delta, QPoint at = QPoint(5, 10)) {
  QTest::mousePress(grip, Qt::LeftButton, {}, at);
  QTest::mouseMove(grip, at + delta);
  QTest::mouseRelease(grip, Qt::LeftButton, {}, at + delta);
}

void drag_window_to(float_window_host& host, QPoint place) {
  QWidget* window = host.window();
  drag(label_of(host, "lable_ww"), place - window->pos());
}

int expected_first_left() {
  return QGuiApplication::primaryScreen()->geometry().width() - 50 - 70;
}

// How the label shows itself: its background (the top right pixel, clear of any text) and
// whether some pixel of the text is drawn in (nearly, allowing for smoothing) the text colour.
struct rendered_label {
  QColor background;
  bool has_text_pixel = false;
};
bool near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) <= 48 && std::abs(a.green() - b.green()) <= 48 &&
         std::abs(a.blue() - b.blue()) <= 48;
}
rendered_label render(QLabel* label, QColor text_colour) {
  const QImage image = label->grab().toImage();
  rendered_label seen;
  seen.background = image.pixelColor(image.width() - 1, 0);
  for (int y = 0; y < image.height() && !seen.has_text_pixel; ++y) {
    for (int x = 0; x < image.width() && !seen.has_text_pixel; ++x) {
      seen.has_text_pixel = near(image.pixelColor(x, y), text_colour);
    }
  }
  return seen;
}

}  // namespace

class test_float_window : public QObject {
  Q_OBJECT

private slots:
  void first_opening_is_top_right_with_the_form() {
    float_window_host host;
    QVERIFY(!host.exists());
    host.toggle();
    QVERIFY(host.exists());
    QWidget* window = host.window();
    QCOMPARE(window->objectName(), QString("win_float"));
    QCOMPARE(window->pos(), QPoint(expected_first_left(), 1));
    if (qEnvironmentVariable("QUORVEL_TEST_SCREEN_WIDTH") == "1920") {
      QCOMPARE(window->pos(), QPoint(1800, 1));
    }
    QCOMPARE(window->size(), QSize(70, 40));
    QVERIFY(window->isVisible());
    QVERIFY(window->parentWidget() == nullptr);
    QCOMPARE(window->windowModality(), Qt::NonModal);
    const Qt::WindowFlags flags = window->windowFlags();
    QCOMPARE(flags & Qt::WindowType_Mask, Qt::Tool);
    QVERIFY(flags.testFlag(Qt::FramelessWindowHint));
    QVERIFY(flags.testFlag(Qt::WindowStaysOnTopHint));

    // Rounded corners: the corners are cut away, the edges' middles stay.
    const QRegion mask = window->mask();
    for (QPoint corner : {QPoint(0, 0), QPoint(69, 0), QPoint(0, 39), QPoint(69, 39)}) {
      QVERIFY2(!mask.contains(corner), qPrintable(QString("corner %1,%2").arg(corner.x()).arg(corner.y())));
    }
    for (QPoint inside : {QPoint(35, 0), QPoint(0, 20), QPoint(35, 20), QPoint(69, 20), QPoint(35, 39)}) {
      QVERIFY2(mask.contains(inside), qPrintable(QString("edge %1,%2").arg(inside.x()).arg(inside.y())));
    }

    // The greyish green shows in the one-pixel column left of the labels.
    const QImage whole = window->grab().toImage();
    QCOMPARE(whole.pixelColor(0, 20), QColor(0x80, 0xA0, 0x80));

    struct { const char* name; QRect place; const char* text; } labels[] = {
        {"lable_wg", QRect(1, 0, 70, 20), "网关:N/A"},
        {"lable_ww", QRect(1, 20, 70, 20), "外网:N/A"},
    };
    for (const auto& form : labels) {
      QLabel* label = label_of(host, form.name);
      QVERIFY2(label, form.name);
      QCOMPARE(label->geometry(), form.place);
      QCOMPARE(label->text(), QString::fromUtf8(form.text));
      QCOMPARE(label->font().pixelSize(), 12);
      // The longest result text stays inside the 69 columns the window shows of the label.
      const QString longest = label->text().replace("N/A", "4999ms");
      QVERIFY2(label->fontMetrics().horizontalAdvance(longest) <= 69, qPrintable(longest));
      const rendered_label seen = render(label, Qt::white);
      QCOMPARE(seen.background, QColor(Qt::black));
      QVERIFY(seen.has_text_pixel);
    }
  }

  void results_show_in_the_colours_of_their_level_data() {
    QTest::addColumn<int>("channel");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("level");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("text_colour");
    QTest::addColumn<QColor>("background");
    const QColor white(Qt::white), black(Qt::black);
    QTest::newRow("fast") << gateway << 12 << 1 << "网关:12ms" << black << QColor(0, 255, 0);
    QTest::newRow("zero ms") << gateway << 0 << 1 << "网关:0ms" << black << QColor(0, 255, 0);
    QTest::newRow("medium") << external << 200 << 2 << "外网:200ms" << black << QColor(0, 255, 255);
    QTest::newRow("slow") << gateway << 300 << 3 << "网关:300ms" << black << QColor(255, 255, 0);
    QTest::newRow("slowest") << external << 4321 << 4 << "外网:4321ms" << white << QColor(255, 0, 0);
    QTest::newRow("no answer") << external << -1 << 0 << "外网:超时" << white << black;
    QTest::newRow("below the table") << gateway << 7 << -3 << "网关:7ms" << white << black;
  }
  void results_show_in_the_colours_of_their_level() {
    QFETCH(int, channel);
    QFETCH(int, result);
    QFETCH(int, level);
    QFETCH(QString, text);
    QFETCH(QColor, text_colour);
    QFETCH(QColor, background);
    float_window_host host;
    host.toggle();
    // Start from another level's colours so that a missed change shows.
    host.show_result(channel, 500, 4);
    host.show_result(channel, 60, 1);
    host.show_result(channel, result, level);
    QLabel* label = label_of(host, channel == gateway ? "lable_wg" : "lable_ww");
    QCOMPARE(label->text(), text);
    const rendered_label seen = render(label, text_colour);
    QCOMPARE(seen.background, background);
    QVERIFY(seen.has_text_pixel);
    // The other channel's label is untouched.
    QLabel* other = label_of(host, channel == gateway ? "lable_ww" : "lable_wg");
    QVERIFY(other->text().endsWith("N/A"));
    QCOMPARE(render(other, Qt::white).background, QColor(Qt::black));
  }

  void a_level_past_the_table_changes_only_the_text() {
    float_window_host host;
    host.toggle();
    host.show_result(gateway, 300, 3);
    for (int level : {5, 9}) {
      host.show_result(gateway, 12 + level, level);
      QLabel* label = label_of(host, "lable_wg");
      QCOMPARE(label->text(), QString("网关:%1ms").arg(12 + level));
      const rendered_label seen = render(label, Qt::black);
      QCOMPARE(seen.background, QColor(255, 255, 0));
      QVERIFY(seen.has_text_pixel);
    }
  }

  void results_are_not_kept_while_closed() {
    float_window_host host;
    host.show_result(gateway, 12, 1);  // closed: nothing to show it in, nothing kept
    QVERIFY(!host.exists());
    host.toggle();
    host.show_result(external, -1, 0);
    host.toggle();
    host.show_result(gateway, 40, 1);
    host.toggle();
    QCOMPARE(label_of(host, "lable_wg")->text(), QString("网关:N/A"));
    QCOMPARE(label_of(host, "lable_ww")->text(), QString("外网:N/A"));
    QCOMPARE(render(label_of(host, "lable_ww"), Qt::white).background, QColor(Qt::black));
  }

  void a_dragged_window_reopens_where_it_was_left() {
    float_window_host host;
    host.toggle();
    // By a label, then by the bare column left of the labels.
    drag_window_to(host, QPoint(250, 150));
    QCOMPARE(host.window()->pos(), QPoint(250, 150));
    drag(host.window(), QPoint(50, 50), QPoint(0, 20));
    QCOMPARE(host.window()->pos(), QPoint(300, 200));
    host.toggle();
    QVERIFY(!host.exists());
    host.toggle();
    QCOMPARE(host.window()->pos(), QPoint(300, 200));
    // A reopened window is dragged on from there and remembered again.
    drag(label_of(host, "lable_wg"), QPoint(-20, 10));
    host.destroy();
    host.toggle();
    QCOMPARE(host.window()->pos(), QPoint(280, 210));
  }

  void only_a_place_summing_to_more_than_2_is_kept_data() {
    QTest::addColumn<QPoint>("left_at");
    QTest::addColumn<bool>("kept");
    QTest::newRow("0,0") << QPoint(0, 0) << false;
    QTest::newRow("1,1") << QPoint(1, 1) << false;
    QTest::newRow("2,0") << QPoint(2, 0) << false;
    QTest::newRow("past the left edge") << QPoint(-40, 30) << false;
    QTest::newRow("past both edges") << QPoint(-5, -8) << false;
    QTest::newRow("1,2") << QPoint(1, 2) << true;
    QTest::newRow("3,0") << QPoint(3, 0) << true;
    QTest::newRow("past the top edge, sum 3") << QPoint(13, -10) << true;
  }
  void only_a_place_summing_to_more_than_2_is_kept() {
    QFETCH(QPoint, left_at);
    QFETCH(bool, kept);
    float_window_host host;
    host.toggle();
    drag_window_to(host, QPoint(300, 200));
    drag_window_to(host, left_at);
    QCOMPARE(host.window()->pos(), left_at);
    host.toggle();
    host.toggle();
    const QPoint expected = kept ? left_at : QPoint(expected_first_left(), 1);
    QCOMPARE(host.window()->pos(), expected);
    // Back at the top right, that place is what is remembered: reopening keeps it.
    host.toggle();
    host.toggle();
    QCOMPARE(host.window()->pos(), expected);
  }

  void escape_closes_it_and_toggle_keeps_one_window() {
    float_window_host host;
    host.toggle();
    QPointer<QWidget> first = host.window();
    QTest::keyClick(first.data(), Qt::Key_Escape);
    QTRY_VERIFY(!host.exists());
    QVERIFY(first.isNull());
    host.destroy();  // closed already: nothing happens

    // A close from elsewhere (window manager, quitting application) is let through and ends it.
    host.toggle();
    QVERIFY(host.window()->close());
    QTRY_VERIFY(!host.exists());

    host.toggle();
    host.toggle();
    QVERIFY(!host.exists());
    host.toggle();
    QVERIFY(host.exists());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int floats = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (widget->objectName() == "win_float") ++floats;
    }
    QCOMPARE(floats, 1);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
  }

  void the_host_takes_its_window_with_it() {
    QPointer<QWidget> window;
    {
      float_window_host host;
      host.toggle();
      window = host.window();
      QVERIFY(window);
    }
    QVERIFY(window.isNull());
  }
};

// The offscreen platform says so at every window; it has no masks and no stacking to show.
QtMessageHandler default_handler = nullptr;
void quiet_platform_limits(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (text.startsWith("This plugin does not support")) return;
  default_handler(type, context, text);
}

// Runs on a 1920-pixel-wide screen when the offscreen platform is used, so the first opening
// lands where a common desktop would put it.
int main(int argc, char** argv) {
  QTemporaryDir dir;
  if (qEnvironmentVariable("QT_QPA_PLATFORM") == "offscreen" && dir.isValid()) {
    QFile config(dir.filePath("screens.json"));
    if (config.open(QIODevice::WriteOnly)) {
      config.write(R"({"screens":[{"name":"wide","x":0,"y":0,"width":1920,"height":1080,)"
                   R"("logicalDpi":96,"dpr":1}]})");
      config.close();
      qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config.fileName()).toLocal8Bit());
      qputenv("QUORVEL_TEST_SCREEN_WIDTH", "1920");
    }
  }
  default_handler = qInstallMessageHandler(quiet_platform_limits);
  QApplication app(argc, argv);
  test_float_window test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_float_window.moc"
