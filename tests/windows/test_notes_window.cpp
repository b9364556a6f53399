// The program notes window through the real dialog: its text byte for byte, its pictures,
// modality over its owner, Esc.
#include "windows/notes_window.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <functional>
#include <memory>

using quorvel::show_notes_window;

namespace {

// The notes as the user reads them, line by line.
const char* const note_lines[] = {
    "软件说明：",
    "1.程序同时检查网关和外网，辅助判断路由是否断流，外网否稳定；",
    "2.\"平均速度\"：所有ping值的平均值，此平均值不包含丢包情况；",
    "3.“80ms ≤>0ms   数：”：ping值在80毫秒以内的，",
    "   其他的依次类推，当ping值大于5000毫秒或者超时等算作：超时/丢包；",
    "4.“次数”：一共ping了多少次，",
    "  “丢包”：超时/丢包的百分比，",
    "    “快”：ping值在0-80毫秒的百分比，",
    "    “中”：ping值在80-240毫秒的百分比，",
    "    “缓”：ping值在240-400毫秒的百分比，",
    "    “慢”：ping值在400毫秒以上的百分比；",
    "5.软件中含有“记录”两个字的选项，是为了记录下网络波动的信息：",
    "  a.什么时间发生的波动，发生的时长是多少；",
    "  b.可以记录ping值过大的数据，也可以记录超时/丢包的数据；",
    "  c.记录时可以按忽略数量进行时长的判断，例如：",
    "    ①记录超时包列表，记录时忽略2条",
    "    ②两个超时包中间如果有两个及以下ping通的包，则认为还是在超时状态；",
    "    ③两个超时包中间如果有三个及以上ping通的包，则认为超时状态结束；",
};

QByteArray expected_notes() {
  QByteArray text;
  for (const char* line : note_lines) {
    if (!text.isEmpty()) text += "\r\n\r\n";
    text += line;
  }
  return text;
}

// Runs of rows that hold some non-white pixel: one per line of drawn text.
int ink_bands(const QImage& image) {
  int bands = 0;
  bool in_band = false;
  for (int y = 0; y < image.height(); ++y) {
    bool ink = false;
    for (int x = 0; x < image.width() && !ink; ++x) ink = image.pixelColor(x, y) != QColor(Qt::white);
    if (ink && !in_band) ++bands;
    in_band = ink;
  }
  return in_band ? -1 : bands;  // ink on the last row: the text runs past the label
}

QDialog* open_notes() {
  return qobject_cast<QDialog*>(QApplication::activeModalWidget());
}

}  // namespace

class test_notes_window : public QObject {
  Q_OBJECT

  std::unique_ptr<QWidget> owner_;
  QPushButton* owner_button_ = nullptr;
  int owner_clicks_ = 0;

  // Opens the notes over the owner, runs `inspect` while they are open, then presses Esc.
  // Returns false when no notes window showed.
  bool with_notes_open(const std::function<void(QDialog*)>& inspect) {
    bool seen = false;
    QTimer::singleShot(0, this, [&] {
      QDialog* notes = open_notes();
      if (!notes) return;
      seen = true;
      inspect(notes);
      QTest::keyClick(notes, Qt::Key_Escape);
    });
    // Should the dialog not close on Esc, a second timer ends it so the test fails, not hangs.
    QTimer::singleShot(5000, this, [] {
      if (QDialog* notes = open_notes()) notes->done(0);
    });
    show_notes_window(owner_.get());
    return seen;
  }

private slots:
  void init() {
    owner_ = std::make_unique<QWidget>();
    owner_->setObjectName("win_main");
    owner_->resize(300, 200);
    owner_button_ = new QPushButton("程序说明", owner_.get());
    owner_button_->setGeometry(10, 10, 120, 30);
    owner_clicks_ = 0;
    connect(owner_button_, &QPushButton::clicked, this, [this] { ++owner_clicks_; });
    owner_->show();
    QVERIFY(QTest::qWaitForWindowExposed(owner_.get()));
  }
  void cleanup() { owner_.reset(); }

  void the_notes_text_is_exact() {
    QByteArray shown;
    QString caption;
    QVERIFY(with_notes_open([&](QDialog* notes) {
      shown = notes->findChild<QLabel*>("标签1")->text().toUtf8();
      caption = notes->findChild<QLabel*>("标签2")->text();
    }));
    QCOMPARE(shown, expected_notes());
    QCOMPARE(shown.count("\r\n"), 34);
    QCOMPARE(shown.count('\n'), 34);  // no bare line feeds
    QCOMPARE(shown.count('\r'), 34);
    QVERIFY(!shown.endsWith("\r\n"));
    QCOMPARE(caption.toUtf8(), QByteArray("捐赠码：  微信                       支付宝"));
  }

  void the_window_follows_the_form() {
    QVERIFY(with_notes_open([&](QDialog* notes) {
      QCOMPARE(notes->objectName(), QString("win_readme"));
      QCOMPARE(notes->windowTitle(), QString("程序说明"));
      QCOMPARE(notes->parentWidget(), owner_.get());
      QCOMPARE(notes->size(), QSize(514, 671));
      QCOMPARE(notes->minimumSize(), notes->maximumSize());
      const Qt::WindowFlags flags = notes->windowFlags();
      QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
      QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
      QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
      QVERIFY(!flags.testFlag(Qt::WindowContextHelpButtonHint));

      struct { const char* name; QRect place; } forms[] = {
          {"标签1", {10, 4, 502, 508}}, {"标签2", {13, 520, 440, 24}},
          {"图片框1", {112, 516, 152, 140}}, {"图片框2", {313, 516, 152, 140}},
      };
      for (const auto& form : forms) {
        auto* label = notes->findChild<QLabel*>(form.name);
        QVERIFY2(label, form.name);
        QCOMPARE(label->geometry(), form.place);
        QVERIFY(label->isVisibleTo(notes));
      }
      QLabel* notes_label = notes->findChild<QLabel*>("标签1");
      QVERIFY(notes_label->wordWrap());
      QCOMPARE(notes_label->font().pixelSize(), 14);
      QCOMPARE(notes_label->alignment(), Qt::AlignLeft | Qt::AlignTop);
      // All 18 lines are drawn, each on one line of its own, none cut off at the bottom.
      QCOMPARE(ink_bands(notes_label->grab().toImage()), 18);
      for (const char* name : {"图片框1", "图片框2"}) {
        const QPixmap picture = notes->findChild<QLabel*>(name)->pixmap();
        QVERIFY2(!picture.isNull(), name);
        QVERIFY(picture.width() <= 152 && picture.height() <= 140);
        QVERIFY(picture.width() >= 100);
      }
      const QImage whole = notes->grab().toImage();
      QCOMPARE(whole.pixelColor(notes->width() - 2, notes->height() - 2), QColor(Qt::white));
      // The two pictures differ: one is the icon, one a histogram.
      QVERIFY(notes->findChild<QLabel*>("图片框1")->pixmap().toImage() !=
              notes->findChild<QLabel*>("图片框2")->pixmap().toImage());
    }));
  }

  void it_blocks_its_owner_while_the_clock_goes_on() {
    QWindow* owner_window = owner_->windowHandle();
    const QPoint button_centre = owner_button_->geometry().center();
    int ticks = 0;
    QTimer clock;
    connect(&clock, &QTimer::timeout, this, [&] { ++ticks; });
    clock.start(10);
    QVERIFY(with_notes_open([&](QDialog* notes) {
      QCOMPARE(QApplication::activeModalWidget(), notes);
      QVERIFY(notes->isModal());
      QTest::mouseClick(owner_window, Qt::LeftButton, {}, button_centre);
      const int ticks_before = ticks;
      QTest::qWait(150);
      QVERIFY(ticks - ticks_before >= 5);
      QTest::mouseClick(owner_window, Qt::LeftButton, {}, button_centre);
    }));
    QCOMPARE(owner_clicks_, 0);
    // Once the notes are gone the same click reaches the owner.
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
    QTest::mouseClick(owner_window, Qt::LeftButton, {}, button_centre);
    QCOMPARE(owner_clicks_, 1);
  }

  void escape_closes_only_the_notes() {
    QPointer<QDialog> opened;
    QVERIFY(with_notes_open([&](QDialog* notes) { opened = notes; }));
    QVERIFY(opened.isNull());  // destroyed, not just hidden
    QVERIFY(owner_->isVisible());
    QVERIFY(owner_->findChild<QDialog*>("win_readme") == nullptr);
    // Each opening is a fresh window.
    QVERIFY(with_notes_open([](QDialog*) {}));
  }

  void the_notes_go_with_their_owner() {
    QPointer<QDialog> opened;
    bool seen = false;
    QTimer::singleShot(0, this, [&] {
      opened = open_notes();
      seen = !opened.isNull();
      owner_.reset();
    });
    show_notes_window(owner_.get());
    QVERIFY(seen);
    QVERIFY(!owner_);
    QVERIFY(opened.isNull());
  }
};

QTEST_MAIN(test_notes_window)
#include "test_notes_window.moc"
