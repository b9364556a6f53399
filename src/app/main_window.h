// `win_main`: both channels side by side, the option controls and the run buttons.
#pragma once

#include "probe/echo_probe.h"
#include "probe/export_formats.h"
#include "probe/probe_channel.h"
#include "probe/probe_record.h"
#include "probe/prober.h"

#include <QWidget>

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

namespace quorvel {

// Where the window keeps its options and how it probes. Left empty, `prober` answers nothing
// (every probe is lost) and `check_echo` reports the echo facility as available.
struct main_window_setup {
  std::string settings_file;  // the program uses settings_path()
  probe_function prober;      // the program uses echo_prober()
  std::function<echo_availability()> check_echo;  // the program uses check_echo_available
};

// What the program runs with.
main_window_setup program_setup();

class tray_icon;

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
  // Every probe of the run (or the last one), both channels, in the order the results were shown.
  const probe_record_list& probe_records() const;
  // Both channels' probes for "导出数据…"; the run's probe records unless a test sets another.
  void set_probe_rows_source(std::function<probe_rows()> source);
  tray_icon& tray();

public slots:
  // Opens the latency chart `win_chart`, or raises it when it is open.
  void show_chart();

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

private:
  struct impl;
  std::unique_ptr<impl> impl_;
};

}  // namespace quorvel
