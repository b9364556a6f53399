#include "windows/notes_window.h"

#include "windows/window_support.h"

#include <QDialog>
#include <QLabel>
#include <QFontMetricsF>
#include <QPainter>
#include <QPalette>
#include <QPixmap>
#include <QPointer>
#include <QString>
#include <QTextLayout>
#include <QWidget>

#include <algorithm>

namespace quorvel {

namespace {

// The client area that a 520 x 700 window with a fixed frame and a title bar leaves.
constexpr QSize client_size{514, 671};

// Eighteen lines, each but the last followed by an empty line; Windows line breaks throughout.
constexpr const char notes_text[] =
    "软件说明：\r\n\r\n"
    "1.程序同时检查网关和外网，辅助判断路由是否断流，外网否稳定；\r\n\r\n"
    "2.\"平均速度\"：所有ping值的平均值，此平均值不包含丢包情况；\r\n\r\n"
    "3.“80ms ≤>0ms   数：”：ping值在80毫秒以内的，\r\n\r\n"
    "   其他的依次类推，当ping值大于5000毫秒或者超时等算作：超时/丢包；\r\n\r\n"
    "4.“次数”：一共ping了多少次，\r\n\r\n"
    "  “丢包”：超时/丢包的百分比，\r\n\r\n"
    "    “快”：ping值在0-80毫秒的百分比，\r\n\r\n"
    "    “中”：ping值在80-240毫秒的百分比，\r\n\r\n"
    "    “缓”：ping值在240-400毫秒的百分比，\r\n\r\n"
    "    “慢”：ping值在400毫秒以上的百分比；\r\n\r\n"
    "5.软件中含有“记录”两个字的选项，是为了记录下网络波动的信息：\r\n\r\n"
    "  a.什么时间发生的波动，发生的时长是多少；\r\n\r\n"
    "  b.可以记录ping值过大的数据，也可以记录超时/丢包的数据；\r\n\r\n"
    "  c.记录时可以按忽略数量进行时长的判断，例如：\r\n\r\n"
    "    ①记录超时包列表，记录时忽略2条\r\n\r\n"
    "    ②两个超时包中间如果有两个及以下ping通的包，则认为还是在超时状态；\r\n\r\n"
    "    ③两个超时包中间如果有三个及以上ping通的包，则认为超时状态结束；";

// Two blanks after the colon, 23 between the two words.
constexpr const char caption_text[] = "捐赠码：  微信                       支付宝";

struct picture_form {
  const char* name;
  const char* resource;
  QPoint place;
};
constexpr picture_form picture_forms[] = {
    {"图片框1", ":/images/notes_icon.png", {112, 516}},
    {"图片框2", ":/images/notes_histogram.png", {313, 516}},
};
constexpr QSize picture_size{152, 140};

// Lays the notes out one line every 14 pixels, the pitch of a 14-pixel face: the 35 lines
// (blank ones included) then fit the label, as they would not at the roomier pitch that most
// CJK faces ask for. Long lines still wrap at the label's width; text() stays as given.
class notes_label : public QLabel {
public:
  using QLabel::QLabel;

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const QFontMetricsF metrics(font());
    const qreal pitch = std::min<qreal>(metrics.lineSpacing(), line_pitch);
    qreal top = 0;
    for (const QString& paragraph : text().split(QStringLiteral("\r\n"))) {
      QTextLayout layout(paragraph, font());
      layout.beginLayout();
      for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width());
        line.setPosition(QPointF(0, top));
        top += pitch;
      }
      layout.endLayout();
      layout.draw(&painter, QPointF(0, 0));
    }
  }

private:
  static constexpr qreal line_pitch = 14;
};

template <typename Label = QLabel>
QLabel* add_text_label(QWidget* window, const char* name, const char* text, const QRect& place) {
  auto* label = new Label(QString::fromUtf8(text), window);
  label->setObjectName(QString::fromUtf8(name));
  label->setTextFormat(Qt::PlainText);
  label->setGeometry(place);
  return label;
}

void add_pictures(QWidget* window) {
  for (const picture_form& form : picture_forms) {
    auto* picture = new QLabel(window);
    picture->setObjectName(QString::fromUtf8(form.name));
    picture->setGeometry(QRect(form.place, picture_size));
    picture->setAlignment(Qt::AlignCenter);
    const QPixmap image(QString::fromLatin1(form.resource));
    picture->setPixmap(image.scaled(picture_size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  }
}

void fill_notes_window(QDialog* window) {
  QPalette palette = window->palette();
  palette.setColor(QPalette::Window, Qt::white);
  palette.setColor(QPalette::WindowText, Qt::black);
  window->setPalette(palette);
  window->setAutoFillBackground(true);
  window->setFont(chinese_font(14));

  QLabel* notes = add_text_label<notes_label>(window, "标签1", notes_text, QRect(10, 4, 502, 508));
  notes->setWordWrap(true);
  notes->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  add_pictures(window);
  // Over the tops of the pictures, whose upper band is left blank for it.
  QLabel* caption = add_text_label(window, "标签2", caption_text, QRect(13, 520, 440, 24));
  caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  caption->raise();
}

}  // namespace

void show_notes_window(QWidget* owner) {
  init_window_resources();
  // On the heap: should the owner go away while it is open, it takes the window with it.
  QPointer<QDialog> window = new QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint |
                                                    Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                                                    Qt::WindowCloseButtonHint);
  window->setObjectName("win_readme");
  window->setWindowTitle(QString::fromUtf8("程序说明"));
  // Blocks the owner only: the floating and record windows stay usable, as do the timers.
  window->setWindowModality(Qt::WindowModal);
  window->setFixedSize(client_size);
  fill_notes_window(window);
  fit_texts(window);
  centre_on_screen(window, owner ? owner->screen() : nullptr);
  window->exec();
  delete window.data();
}

}  // namespace quorvel
