// Runs the real main window against an ini file of one's choice and, if asked, presses start, so
// that the window can be looked at mid-run (screenshots). Start it only inside the sandbox.
#include "app/main_window.h"

#include <QApplication>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: window_demo INI_FILE [start]\n");
    return 2;
  }
  QApplication app(argc, argv);
  quorvel::main_window_setup setup = quorvel::program_setup();
  setup.settings_file = argv[1];
  quorvel::main_window window(std::move(setup));
  window.show();
  if (argc > 2 && std::strcmp(argv[2], "start") == 0) {
    QTimer::singleShot(300, &window, [&window] {
      window.findChild<QPushButton*>(QStringLiteral("btn_start"))->click();
    });
  }
  return app.exec();
}
