#include <QApplication>
#include <QWidget>

#include <cstdio>
#include <cstdlib>

namespace {

// Qt aborts with a long message when it finds no display; say it in one line instead.
bool display_available() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return true;
  return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  if (!display_available()) {
    std::fprintf(stderr, "quorvel: no display found (neither DISPLAY nor WAYLAND_DISPLAY is set)\n");
    return 1;
  }
  QApplication app(argc, argv);
  QWidget window;
  window.setObjectName("win_main");
  window.setWindowTitle("Quorvel v1.1");
  window.show();
  return app.exec();
}
