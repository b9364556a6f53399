// What the windows share: where a frame is centred, how a font is fitted to a width, and which
// faces are asked for.
#include "windows/window_support.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QTest>

using namespace quorvel;

namespace {

const QString sample = QStringLiteral("ms的时长，记录时忽略");

qreal ink(const QFont& font, const QString& text) {
  return QFontMetricsF(font).tightBoundingRect(text).right();
}

}  // namespace

class test_window_support : public QObject {
  Q_OBJECT

private slots:
  void centred_frame_origin_data() {
    QTest::addColumn<QSize>("frame");
    QTest::addColumn<QRect>("area");
    QTest::addColumn<QPoint>("origin");
    const QRect full(0, 0, 1920, 1080);
    const QRect below_panel(0, 30, 1920, 1050);
    QTest::newRow("smaller") << QSize(1020, 692) << full << QPoint(450, 194);
    QTest::newRow("below a panel") << QSize(1020, 692) << below_panel << QPoint(450, 209);
    QTest::newRow("odd leftover") << QSize(1021, 693) << full << QPoint(449, 193);
    QTest::newRow("second screen") << QSize(661, 501) << QRect(1920, 0, 1280, 1024)
                                   << QPoint(2229, 261);
    QTest::newRow("as large") << QSize(1920, 1050) << below_panel << QPoint(0, 30);
    QTest::newRow("too tall") << QSize(1020, 1342) << below_panel << QPoint(450, 30);
    QTest::newRow("too wide") << QSize(2036, 692) << below_panel << QPoint(0, 209);
    QTest::newRow("larger") << QSize(2036, 1342) << below_panel << QPoint(0, 30);
    QTest::newRow("larger, screen not at 0") << QSize(2036, 1342) << QRect(-1280, 100, 1280, 900)
                                             << QPoint(-1280, 100);
  }

  void centred_frame_origin() {
    QFETCH(QSize, frame);
    QFETCH(QRect, area);
    QFETCH(QPoint, origin);
    QCOMPARE(quorvel::centred_frame_origin(frame, area), origin);
  }

  void a_font_that_fits_is_left_alone() {
    const QFont font = chinese_font(14);
    const QFont fitted = font_fitting_width(font, {sample}, ink(font, sample) + 1);
    QCOMPARE(fitted, font);
  }

  // Trailing blanks may run under a neighbour: they take no room.
  void trailing_blanks_take_no_room() {
    const QFont font = chinese_font(14);
    const QFont fitted =
        font_fitting_width(font, {sample + QStringLiteral("        ")}, ink(font, sample) + 1);
    QCOMPARE(fitted, font);
  }

  // A little too wide: narrowed, at the same height.
  void a_little_too_wide_is_narrowed() {
    const QFont font = chinese_font(14);
    const qreal width = ink(font, sample) * 0.93;
    const QFont fitted = font_fitting_width(font, {sample}, width);
    QCOMPARE(fitted.pixelSize(), 14);
    QVERIFY(fitted.stretch() < 100 && fitted.stretch() >= 80);
    QVERIFY(ink(fitted, sample) <= width);
  }

  // Far too wide for narrowing alone: smaller as well, the widest of several texts deciding.
  void far_too_wide_is_shrunk() {
    const QFont font = chinese_font(14);
    const QString longer = sample + sample.left(3);
    const qreal width = ink(font, sample) * 0.6;
    const QFont fitted = font_fitting_width(font, {sample, longer}, width);
    QVERIFY(fitted.pixelSize() < 14);
    QVERIFY(ink(fitted, longer) <= width);
    QVERIFY(ink(fitted, sample) <= width);
  }

  // Simplified Chinese faces come before any other variant of a pan-CJK face.
  void simplified_chinese_faces_first() {
    const QStringList families = chinese_font_families();
    QVERIFY(families.indexOf("Noto Sans CJK SC") >= 0);
    for (const QString& family : families) {
      if (family.endsWith(QLatin1String(" JP")) || family.endsWith(QLatin1String(" TC")))
        QVERIFY(families.indexOf(family) > families.indexOf("Noto Sans CJK SC"));
    }
    const QFontInfo face(chinese_font(14));
    QVERIFY2(!face.family().endsWith(QLatin1String(" JP")), qPrintable(face.family()));
  }
};

QTEST_MAIN(test_window_support)
#include "test_window_support.moc"
