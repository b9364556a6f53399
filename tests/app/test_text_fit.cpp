// Every text of every window shows whole in the Chinese font in use: each label, check box and
// button, measured with its own font, ends inside its control and before the control that covers
// its right end. A font is narrowed or shrunk only where the window's own would not fit.
// CTest runs this once with the fonts installed and once per font package alone
// (FONTCONFIG_FILE), at several QT_SCALE_FACTOR values; QUORVEL_EXPECT_FONT names the face.
#include "app/main_window.h"
#include "windows/float_window.h"
#include "windows/notes_window.h"
#include "windows/record_window.h"
#include "windows/window_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTextLayout>
#include <QTimer>

#include <cmath>
#include <map>
#include <memory>
#include <vector>

using namespace quorvel;

namespace {

// Which control lies over the right end of which text, in the main window (both channels).
const std::map<QString, QString> covered_by{
    {"标签1", "编辑框"},  {"标签2", "组合框"},
    {"标签6", "edit_wg_80"},   {"标签4", "edit_wg_160"},  {"标签5", "edit_wg_240"},
    {"标签3", "edit_wg_400"},  {"标签8", "edit_wg_640"},  {"标签7", "edit_wg_999"},
    {"标签10", "edit_wg_1000"}, {"标签9", "edit_wg_5000"},
    {"标签16", "edit_ww_80"},  {"标签18", "edit_ww_160"}, {"标签17", "edit_ww_240"},
    {"标签15", "edit_ww_400"}, {"标签14", "edit_ww_640"}, {"标签13", "edit_ww_999"},
    {"标签12", "edit_ww_1000"}, {"标签11", "edit_ww_5000"},
    {"选择框_wg_ping", "edit_wg_500"}, {"选择框_ww_ping", "edit_ww_500"},
    {"标签19", "组合框_wg_ping"}, {"标签20", "btn_wg_ping"},
    {"标签22", "组合框_wg_timeout"}, {"标签21", "btn_wg_timeout"},
    {"标签26", "组合框_ww_ping"}, {"标签23", "btn_ww_ping"},
    {"标签25", "组合框_ww_timeout"}, {"标签24", "btn_ww_timeout"},
};

// Trailing blanks may run under the neighbour; some faces give a blank a box of its own.
qreal ink_right(const QFontMetricsF& metrics, QString text) {
  while (!text.isEmpty() && text.back().isSpace()) text.chop(1);
  return metrics.tightBoundingRect(text).right();
}

QRect in_window(const QWidget* widget, const QRect& rect) {
  return rect.translated(widget->mapTo(widget->window(), QPoint(0, 0)));
}

QStyleOptionButton option_of(const QAbstractButton* button) {
  QStyleOptionButton option;
  option.initFrom(button);
  option.text = button->text();
  return option;
}

struct measured_text {
  QRect area;   // where the control draws its text, window coordinates
  qreal extent; // how far from the area's left the text reaches (centred: its whole width)
  bool centred;
};

// How far the text reaches with `font`; null for controls without a one-line text.
std::unique_ptr<measured_text> measure(const QWidget* control, const QFont& font) {
  const QFontMetricsF metrics(font);
  if (const auto* label = qobject_cast<const QLabel*>(control)) {
    if (label->text().trimmed().isEmpty() || label->wordWrap()) return nullptr;
    return std::make_unique<measured_text>(measured_text{
        in_window(label, label->contentsRect()), ink_right(metrics, label->text()),
        false});
  }
  if (const auto* box = qobject_cast<const QCheckBox*>(control)) {
    const QStyleOptionButton option = option_of(box);
    const QRect area = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
    return std::make_unique<measured_text>(
        measured_text{in_window(box, area), ink_right(metrics, box->text()), false});
  }
  if (const auto* button = qobject_cast<const QPushButton*>(control)) {
    if (button->text().isEmpty()) return nullptr;
    const QStyleOptionButton option = option_of(button);
    const QRect area =
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button);
    return std::make_unique<measured_text>(
        measured_text{in_window(button, area), metrics.horizontalAdvance(button->text()), true});
  }
  return nullptr;
}

// The pixels a text may use: its own area, cut where the covering control begins.
int room_of(const QWidget* control, const measured_text& text) {
  int right = text.area.left() + text.area.width();
  const auto cover = covered_by.find(control->objectName());
  if (cover != covered_by.end() && control->window()->objectName() == "win_main") {
    const auto* other = control->window()->findChild<QWidget*>(cover->second);
    if (!other) return -1;
    right = std::min(right, in_window(other, other->rect()).left());
  }
  return right - text.area.left();
}

// `spare`: the pixels that must be left over (the fitting keeps one for glyphs that reach a
// little further at other scale factors).
bool fits(const QWidget* control, const QFont& font, int spare = 0) {
  const std::unique_ptr<measured_text> text = measure(control, font);
  return !text || text->extent <= room_of(control, *text) - spare;
}

// Checks every text of `window`; returns the names of the controls whose font was fitted.
QStringList check_window(QWidget* window) {
  QStringList fitted;
  int checked = 0;
  for (QWidget* control : window->findChildren<QWidget*>()) {
    if (!measure(control, control->font())) continue;
    ++checked;
    const QString name = control->objectName();
    const std::unique_ptr<measured_text> text = measure(control, control->font());
    if (!fits(control, control->font())) {
      qWarning() << window->objectName() << name << "reaches" << text->extent << "of"
                 << room_of(control, *text) << "px, font" << control->font();
      QTest::qFail("a text does not fit its control", __FILE__, __LINE__);
      return fitted;
    }
    const QFont window_font = control->parentWidget()->font();
    if (control->font() != window_font) {
      fitted << QStringLiteral("%1 (%2 px, stretch %3)")
                    .arg(name)
                    .arg(control->font().pixelSize())
                    .arg(control->font().stretch());
      if (fits(control, window_font, 1)) {
        qWarning() << window->objectName() << name << "was refitted although it fitted";
        QTest::qFail("a font was changed without need", __FILE__, __LINE__);
        return fitted;
      }
    }
  }
  if (checked == 0) QTest::qFail("no text was found", __FILE__, __LINE__);
  return fitted;
}

// The notes label wraps its lines and sets them 14 pixels apart (less for a face whose lines are
// closer): all of them, wrapped ones included, must fit its height.
int notes_height_needed(const QLabel* notes) {
  const qreal pitch = std::min<qreal>(QFontMetricsF(notes->font()).lineSpacing(), 14);
  int lines = 0;
  for (const QString& paragraph : notes->text().split(QStringLiteral("\r\n"))) {
    QTextLayout layout(paragraph, notes->font());
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      line.setLineWidth(notes->width());
      ++lines;
    }
    layout.endLayout();
  }
  return int(std::ceil(lines * pitch));
}

void report(const QWidget* window, const QStringList& fitted) {
  qInfo().noquote() << window->objectName() << "in"
                    << QFontInfo(window->font()).family() << "fitted:"
                    << (fitted.isEmpty() ? QStringLiteral("none") : fitted.join(", "));
}

}  // namespace

class test_text_fit : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() {
    const QString expected = qEnvironmentVariable("QUORVEL_EXPECT_FONT");
    if (!expected.isEmpty() && !QFontDatabase::families().contains(expected))
      QSKIP("the font of this run is not installed");
    settings_dir_ = std::make_unique<QTemporaryDir>();
    qInfo() << "scale factor" << qgetenv("QT_SCALE_FACTOR") << "font" << expected;
  }

  // The face picked for a Chinese text is a Simplified Chinese one (and the expected one).
  void the_face_is_simplified_chinese() {
    const QFontInfo face(chinese_font(14));
    QVERIFY2(!face.family().contains(QLatin1String(" JP")), qPrintable(face.family()));
    const QString expected = qEnvironmentVariable("QUORVEL_EXPECT_FONT");
    if (!expected.isEmpty()) QCOMPARE(face.family(), expected);
    QVERIFY2(QFontMetricsF(chinese_font(14)).inFont(QChar(0x7F51)),  // 网
             qPrintable(face.family()));
  }

  void main_window_texts_fit() {
    main_window_setup setup;
    setup.settings_file = settings_dir_->filePath("ini.ini").toStdString();
    main_window window(std::move(setup));
    report(&window, check_window(&window));
  }

  void record_window_texts_fit() {
    QWidget owner;
    const std::vector<episode_record> none;
    QWidget* records = show_record_window(&owner, {&none, &none, &none, &none});
    report(records, check_window(records));
  }

  void notes_window_texts_fit() {
    QWidget owner;
    bool checked = false;
    QTimer::singleShot(0, [&] {
      QWidget* notes = owner.findChild<QWidget*>("win_readme");
      if (!notes) return;
      report(notes, check_window(notes));
      const auto* text = notes->findChild<QLabel*>("标签1");
      checked = text && notes_height_needed(text) <= text->height();
      qInfo() << "notes need" << (text ? notes_height_needed(text) : 0) << "px";
      notes->close();
    });
    show_notes_window(&owner);
    QVERIFY(checked);
  }

  // The floating window's texts change at every probe: the widest it can show must fit.
  void float_window_texts_fit() {
    float_window_host host;
    host.toggle();
    QWidget* window = host.window();
    QVERIFY(window);
    for (const char* name : {"lable_wg", "lable_ww"}) {
      auto* label = window->findChild<QLabel*>(name);
      QVERIFY(label);
      const QFontMetricsF metrics(label->font());
      const int room = window->width() - label->x();
      const QString prefix = label->text().left(3);
      for (const QString& figure : {QStringLiteral("N/A"), QStringLiteral("超时"),
                                    QStringLiteral("4999ms"), QStringLiteral("8888ms"),
                                    QStringLiteral("0000ms")}) {
        const qreal extent = ink_right(metrics, prefix + figure);
        QVERIFY2(extent <= room, qPrintable(QStringLiteral("%1%2 reaches %3 of %4 px")
                                                .arg(prefix, figure).arg(extent).arg(room)));
      }
      qInfo().noquote() << name << "font" << label->font().pixelSize() << "px, stretch"
                        << label->font().stretch();
    }
  }

private:
  std::unique_ptr<QTemporaryDir> settings_dir_;
};

QTEST_MAIN(test_text_fit)
#include "test_text_fit.moc"
