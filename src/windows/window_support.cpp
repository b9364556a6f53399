#include "windows/window_support.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

// The resource initialiser lives in the static library, so nothing would pull it into the
// program unless it is called; it must be called outside any namespace.
static void init_resources_once() {
  static const bool done = [] {
    Q_INIT_RESOURCE(windows);
    return true;
  }();
  (void)done;
}

namespace quorvel {

void init_window_resources() { init_resources_once(); }

QIcon program_icon() {
  init_window_resources();
  return QIcon(QStringLiteral(":/images/quorvel.png"));
}

void centre_on_primary_screen(QWidget* window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame(QPoint(0, 0), window->size());
  frame.moveCenter(screen->geometry().center());
  window->move(frame.topLeft());
}

}  // namespace quorvel
