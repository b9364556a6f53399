// `win_main`: both channels side by side, the option controls and the run buttons.
#pragma once

#include "probe/probe_channel.h"

#include <QWidget>

#include <array>
#include <cstddef>
#include <memory>
#include <string>

namespace quorvel {

struct main_window_setup {
  std::string settings_file;  // the program uses settings_path()
};

// What the program runs with.
main_window_setup program_setup();

class main_window : public QWidget {
  Q_OBJECT
public:
  // The window's client area; the controls are placed in absolute pixels inside it.
  static constexpr int client_width = 1018;
  static constexpr int client_height = 671;

  explicit main_window(main_window_setup setup, QWidget* parent = nullptr);
  ~main_window() override;

  // 0 is the gateway channel, 1 the external host.
  probe_channel& channel(std::size_t index);
  bool test_running() const;

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

}  // namespace quorvel
