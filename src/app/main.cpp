#include "app/main_window.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

namespace {

bool is_set(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

// Qt aborts with a long message when it finds no display; say it in one line instead.
bool display_available() {
  return is_set("QT_QPA_PLATFORM") || is_set("DISPLAY") || is_set("WAYLAND_DISPLAY");
}

// Wayland lets no window keep itself above the others, which the floating window needs; where
// X is offered as well, use it unless the user chose a platform.
void prefer_x_for_floating_window() {
  if (is_set("WAYLAND_DISPLAY") && is_set("DISPLAY") && !is_set("QT_QPA_PLATFORM"))
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
  quorvel::main_window window(quorvel::program_setup());
  window.show();
  return app.exec();
}
