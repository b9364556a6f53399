#include "app/main_window.h"
#include "app/qt_translation.h"
#include "windows/window_support.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

bool is_set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Qt aborts with a long message when it finds no display; say it in one line instead.
bool display_available() {
  return is_set("QT_QPA_PLATFORM") || is_set("DISPLAY") || is_set("WAYLAND_DISPLAY");
}

bool wayland_session() {
  const char* type = std::getenv("XDG_SESSION_TYPE");
  return is_set("WAYLAND_DISPLAY") || (type && std::strcmp(type, "wayland") == 0);
}

// Wayland lets no window keep itself above the others or move itself, which the floating window
// needs; where X is offered as well, use it unless the user chose a platform.
void prefer_x_for_floating_window() {
  if (wayland_session() && is_set("DISPLAY") && !is_set("QT_QPA_PLATFORM"))
    setenv("QT_QPA_PLATFORM", "xcb", 1);
}

}  // namespace

int main(int argc, char** argv) {
  if (!display_available()) {
    std::fprintf(stderr, "quorvel: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)\n");
    return 1;
  }
  prefer_x_for_floating_window();
  QApplication app(argc, argv);
  quorvel::install_qt_chinese_translation();  // runs on in English where the file is missing
  // Qt's own dialogs and menus too ask for the Simplified Chinese faces, at their usual size.
  QFont font = QApplication::font();
  font.setFamilies(quorvel::chinese_font_families());
  QApplication::setFont(font);
  app.setWindowIcon(quorvel::program_icon());
  quorvel::main_window window(quorvel::program_setup());
  window.show();
  return app.exec();
}
