// The windows on an X screen under a real window manager (openbox, started by x_session_run):
// each frame, as the window manager reports it, lies centred on the screen's available area (the
// screen less a panel), and the floating window stays out of the taskbar and the pager.
// CTest runs it at scale factor 1 and at 2, where the main window is larger than the screen.
#include "app/main_window.h"
#include "windows/float_window.h"
#include "windows/notes_window.h"
#include "windows/record_window.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

using namespace quorvel;

namespace {

constexpr int panel_height = 30;  // in device pixels, as the panel reserves them

xcb_connection_t* connection() {
  return qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

xcb_atom_t atom(const char* name) {
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
      connection(), xcb_intern_atom(connection(), 0, std::strlen(name), name), nullptr);
  const xcb_atom_t result = reply->atom;
  std::free(reply);
  return result;
}

std::vector<xcb_atom_t> atom_list(xcb_window_t window, const char* property) {
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      connection(),
      xcb_get_property(connection(), 0, window, atom(property), XCB_ATOM_ATOM, 0, 64), nullptr);
  std::vector<xcb_atom_t> atoms;
  if (reply && reply->format == 32) {
    const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
    atoms.assign(values, values + xcb_get_property_value_length(reply) / 4);
  }
  std::free(reply);
  return atoms;
}

bool has_atom(const std::vector<xcb_atom_t>& atoms, const char* name) {
  return std::find(atoms.begin(), atoms.end(), atom(name)) != atoms.end();
}

// A dock along the top of the screen that reserves `panel_height` pixels, as a taskbar does.
xcb_window_t open_panel() {
  xcb_connection_t* c = connection();
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  const xcb_window_t panel = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, panel, screen->root, 0, 0, screen->width_in_pixels,
                    panel_height, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0,
                    nullptr);
  const xcb_atom_t dock = atom("_NET_WM_WINDOW_TYPE_DOCK");
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel, atom("_NET_WM_WINDOW_TYPE"), XCB_ATOM_ATOM,
                      32, 1, &dock);
  const uint32_t strut[12] = {0, 0, panel_height, 0, 0, 0, 0, 0,
                              0, uint32_t(screen->width_in_pixels) - 1, 0, 0};
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel, atom("_NET_WM_STRUT_PARTIAL"),
                      XCB_ATOM_CARDINAL, 32, 12, strut);
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel, atom("_NET_WM_STRUT"), XCB_ATOM_CARDINAL,
                      32, 4, strut);
  xcb_map_window(c, panel);
  xcb_flush(c);
  return panel;
}

// The frame the window manager has put round `window`, once it has framed and placed it.
QRect settled_frame(QWidget* window) {
  QRect frame;
  // Framed once the margins are known; placed once the frame stops moving.
  for (int i = 0; i < 150; ++i) {
    QTest::qWait(20);
    const QRect now = window->frameGeometry();
    if (now != window->geometry() && now == frame && i > 10) break;
    frame = now;
  }
  return frame;
}

// Centred on `area`, or with its top-left corner on it when it is the larger.
void verify_centred(const QRect& frame, const QRect& area) {
  qInfo() << "frame" << frame << "available" << area;
  QVERIFY2(frame.size() != QSize(), "no frame");
  const auto expected = [](int start, int room, int length) {
    return std::max(start, start + (room - length) / 2);
  };
  QVERIFY(std::abs(frame.left() - expected(area.left(), area.width(), frame.width())) <= 1);
  QVERIFY(std::abs(frame.top() - expected(area.top(), area.height(), frame.height())) <= 1);
}

}  // namespace

class test_desktop : public QObject {
  Q_OBJECT

private slots:
  void initTestCase() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
      QSKIP("needs an X screen with a window manager (tests/support/x_session_run)");
    settings_ = std::make_unique<QTemporaryDir>();
    open_panel();
    QScreen* screen = QGuiApplication::primaryScreen();
    // Qt follows the work area the window manager publishes.
    QTRY_VERIFY_WITH_TIMEOUT(screen->availableGeometry() != screen->geometry(), 5000);
    qInfo() << "screen" << screen->geometry() << "available" << screen->availableGeometry();
  }

  void main_window_frame_is_centred() {
    std::unique_ptr<main_window> window = open_main_window();
    verify_centred(settled_frame(window.get()), window->screen()->availableGeometry());
  }

  void record_window_frame_is_centred() {
    std::unique_ptr<main_window> window = open_main_window();
    const std::vector<episode_record> none;
    QWidget* records = show_record_window(window.get(), {&none, &none, &none, &none});
    verify_centred(settled_frame(records), window->screen()->availableGeometry());
  }

  void notes_window_frame_is_centred() {
    std::unique_ptr<main_window> window = open_main_window();
    QRect frame;
    QTimer::singleShot(0, [&] {
      auto* notes = window->findChild<QWidget*>("win_readme");
      if (!notes) return;
      frame = settled_frame(notes);
      notes->close();
    });
    show_notes_window(window.get());
    verify_centred(frame, window->screen()->availableGeometry());
  }

  // As the taskbar reads it: the state the window manager keeps on the mapped window, at every
  // opening (a new window each time).
  void floating_window_skips_taskbar_and_pager() {
    float_window_host host;
    for (int opening = 0; opening < 2; ++opening) {
      host.toggle();
      QVERIFY(host.exists());
      const auto id = static_cast<xcb_window_t>(host.window()->winId());
      QTRY_VERIFY_WITH_TIMEOUT(has_atom(atom_list(id, "_NET_WM_STATE"), "_NET_WM_STATE_SKIP_TASKBAR"),
                               3000);
      const std::vector<xcb_atom_t> states = atom_list(id, "_NET_WM_STATE");
      QVERIFY(has_atom(states, "_NET_WM_STATE_SKIP_PAGER"));
      QVERIFY(has_atom(states, "_NET_WM_STATE_ABOVE"));
      host.toggle();
      QVERIFY(!host.exists());
    }
  }

private:
  std::unique_ptr<main_window> open_main_window() {
    main_window_setup setup;
    setup.settings_file = settings_->filePath("ini.ini").toStdString();
    auto window = std::make_unique<main_window>(std::move(setup));
    window->show();
    return window;
  }

  std::unique_ptr<QTemporaryDir> settings_;
};

QTEST_MAIN(test_desktop)
#include "test_desktop.moc"
