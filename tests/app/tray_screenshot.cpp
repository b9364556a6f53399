// Takes the screenshots of the tray icon and of the export commands: a short run with scripted
// results (nothing is sent anywhere), the icon in a panel with its menu open, and a probe log's
// context menu. Runs under an X server with a window manager and a panel that offers a system
// tray; scripts/screenshots-tray sets them up inside a loopback-only namespace.
// Usage: tray_screenshot OUTPUT_DIR
#include "app/main_window.h"
#include "app/tray_icon.h"
#include "gui_driving.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

#include <cstdio>

using namespace quorvel;

namespace {

void wait_ms(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

bool save(const QPixmap& pixmap, const QString& path) {
  const bool saved = pixmap.save(path);
  std::printf("%s %s (%dx%d)\n", saved ? "saved" : "could not save", qPrintable(path),
              pixmap.width(), pixmap.height());
  return saved;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: tray_screenshot OUTPUT_DIR\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  QTemporaryDir settings;
  auto script = std::make_shared<testing::result_script>();
  script->set("127.0.0.1", {12, 14, 11, 15, 13});
  script->set("baidu.com", {35, 260, 270, 280, 265});
  main_window window(main_window_setup{settings.filePath("ini.ini").toStdString(),
                                       testing::result_script::prober(script), {}});
  window.move(20, 20);
  window.show();
  window.findChild<QLineEdit*>("编辑框")->setText("127.0.0.1");
  window.findChild<QCheckBox*>("选择框_ww_ping")->click();
  window.findChild<QPushButton*>("btn_start")->click();
  wait_ms(4500);

  QSystemTrayIcon* icon = window.tray().system_icon();
  if (!icon || icon->geometry().isEmpty()) {
    std::fprintf(stderr, "no system tray, or the icon was not placed\n");
    return 1;
  }
  QScreen* screen = QGuiApplication::primaryScreen();
  const QRect place = icon->geometry();
  QMenu* menu = window.tray().menu();
  menu->popup(QPoint(place.left(), place.top() - menu->sizeHint().height()));
  wait_ms(500);
  const QRect screen_area = screen->geometry();
  const int top = std::max(0, menu->geometry().top() - 12);
  const int left = std::max(0, place.center().x() - 320);
  const QRect panel_area(left, top, std::min(420, screen_area.width() - left),
                         screen_area.bottom() + 1 - top);
  bool ok = save(screen->grabWindow(0, panel_area.x(), panel_area.y(), panel_area.width(),
                                    panel_area.height()),
                 out.filePath("tray_panel.png"));
  menu->hide();
  wait_ms(200);

  QWidget* log = window.findChild<QWidget*>("edit_wg_log");
  QTimer::singleShot(600, [&] {
    const QRect area = window.frameGeometry().united(QApplication::activePopupWidget()
                                                         ? QApplication::activePopupWidget()->geometry()
                                                         : QRect());
    ok = save(screen->grabWindow(0, area.x(), area.y() + area.height() / 2, area.width(),
                                 area.height() / 2),
              out.filePath("export_menu.png")) && ok;
    if (QWidget* popup = QApplication::activePopupWidget()) popup->close();
  });
  const QPoint inside(log->width() / 3, log->height() / 3);
  QContextMenuEvent event(QContextMenuEvent::Mouse, inside, log->mapToGlobal(inside));
  QApplication::sendEvent(qobject_cast<QAbstractScrollArea*>(log)->viewport(), &event);
  window.findChild<QPushButton*>("btn_stop")->click();
  return ok ? 0 : 1;
}
