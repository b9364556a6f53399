#include "windows/caption_frame.h"

#include <QFontMetrics>
#include <QPainter>

namespace quorvel {

namespace {
constexpr int caption_left = 8;
constexpr int caption_padding = 2;
}  // namespace

void caption_frame::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QFontMetrics metrics(font());
  const int line_top = metrics.height() / 2;
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(rect().adjusted(0, line_top, -1, -1));
  const QRect caption(caption_left, 0, metrics.horizontalAdvance(title()) + 2 * caption_padding,
                      metrics.height());
  painter.fillRect(caption, palette().color(QPalette::Window));
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(caption, Qt::AlignCenter, title());
}

}  // namespace quorvel
