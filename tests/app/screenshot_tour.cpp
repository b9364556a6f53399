// Takes the screenshots in docs/screenshots: the real program with the real echo probe runs a
// three-minute test against the project's echo responder on loopback, whose answers change over
// time (mostly quick, a few slow stretches, a few drops), and every window is grabbed from the X
// screen.
// Runs only inside a loopback-only network namespace under an X server; scripts/screenshots sets
// both up. Usage: screenshot_tour OUTPUT_DIR [MAIN_WINDOW_FILE]; with a file name, only the main
// window after a short run is taken (to compare fonts and scale factors).
#include "app/main_window.h"
#include "echo_responder.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <net/if.h>

using namespace quorvel;
using quorvel::testing::echo_action;
using quorvel::testing::echo_responder;
using quorvel::testing::echo_script;

namespace {

constexpr const char* gateway_address = "127.0.0.1";
constexpr const char* external_address = "127.0.0.2";
constexpr const char* external_name = "baidu.com";  // the first host of the window's list
constexpr int float_after_s = 40;                   // run time before the floating window opens
constexpr int ticks_shown_in_float = 2;
constexpr int short_run_s = 6;
constexpr int chart_after_s = 180;  // run time before the latency chart is grabbed

// From `from_s` (seconds since start) until the next phase, requests are answered this way, each
// after a delay drawn from min_ms to max_ms.
struct answer_phase {
  int from_s;
  echo_action action;
  int min_ms, max_ms;
};

constexpr answer_phase quick_gateway{0, echo_action::reply, 15, 40};
constexpr answer_phase slow_gateway{0, echo_action::reply, 350, 700};
constexpr answer_phase quick_external{0, echo_action::reply, 30, 90};
constexpr answer_phase dropped{0, echo_action::drop, 0, 0};

constexpr answer_phase at(int from_s, answer_phase phase) {
  phase.from_s = from_s;
  return phase;
}

// The gateway is slow when the floating window opens, so that its label shows the slow colours.
// After it, a few minutes of quiet with a slow stretch and single drops, for the chart.
const std::vector<answer_phase> gateway_phases{
    at(0, quick_gateway),   at(7, slow_gateway),    at(10, quick_gateway),  at(17, dropped),
    at(20, quick_gateway),  at(27, slow_gateway),   at(30, quick_gateway),  at(39, slow_gateway),
    at(46, quick_gateway),  at(95, slow_gateway),   at(110, quick_gateway), at(140, dropped),
    at(141, quick_gateway), at(160, dropped),       at(161, quick_gateway)};
const std::vector<answer_phase> external_phases{
    at(0, quick_external),  at(12, dropped),  at(19, quick_external), at(70, slow_gateway),
    at(85, quick_external), at(125, dropped), at(126, quick_external), at(150, dropped),
    at(153, quick_external)};

struct scripted_target {
  const char* address;
  const std::vector<answer_phase>* phases;
};
const std::vector<scripted_target> scripted_targets{{gateway_address, &gateway_phases},
                                                    {external_address, &external_phases}};

const answer_phase& phase_at(const std::vector<answer_phase>& phases, qint64 elapsed_ms) {
  const answer_phase* current = &phases.front();
  for (const answer_phase& phase : phases) {
    if (elapsed_ms >= phase.from_s * 1000LL) current = &phase;
  }
  return *current;
}

// Re-scripts the responder ten times a second, so that every probe meets a fresh delay.
class answer_player {
public:
  explicit answer_player(echo_responder& responder) : responder_(responder) {
    QObject::connect(&timer_, &QTimer::timeout, [this] { update(); });
  }

  void start() {
    clock_.start();
    update();
    timer_.start(100);
  }

private:
  void update() {
    for (const scripted_target& target : scripted_targets) {
      const answer_phase& phase = phase_at(*target.phases, clock_.elapsed());
      std::uniform_int_distribution<int> delay(phase.min_ms, phase.max_ms);
      responder_.set_script(target.address, echo_script{phase.action, delay(random_), 0});
    }
  }

  echo_responder& responder_;
  QTimer timer_;
  QElapsedTimer clock_;
  std::mt19937 random_{20261211};  // the same run every time
};

// Nothing may leave the machine: only a namespace whose sole interface is loopback will do. The
// interfaces are asked of the kernel, since a /sys mounted outside the namespace lists the host's.
bool only_loopback_interface() {
  struct if_nameindex* interfaces = if_nameindex();
  if (!interfaces) return false;
  std::vector<std::string> names;
  for (const struct if_nameindex* i = interfaces; i->if_index != 0; ++i) names.emplace_back(i->if_name);
  if_freenameindex(interfaces);
  return names == std::vector<std::string>{"lo"};
}

bool fail(const char* what) {
  std::fprintf(stderr, "screenshot_tour: %s\n", what);
  return false;
}

void pause_ms(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeout_ms) return false;
    pause_ms(50);
  }
  return true;
}

QWidget* top_level(const char* name) {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->objectName() == QLatin1String(name)) return widget;
  }
  return nullptr;
}

QPushButton* button(QWidget& window, const char* name) {
  return window.findChild<QPushButton*>(QString::fromUtf8(name));
}

// Saves the part of the X screen that `area` covers (the whole screen for an empty one). The
// grab is in device pixels, `area` in Qt's, which differ at a scale factor other than 1.
bool save_screen(const QString& path, QRect area = {}) {
  QScreen* display = QGuiApplication::primaryScreen();
  QPixmap screen = display->grabWindow(0);
  const qreal ratio = display->devicePixelRatio();
  if (!area.isEmpty()) {
    screen = screen.copy(QRect(area.topLeft() * ratio, area.size() * ratio));
  }
  std::fprintf(stderr, "screenshot_tour: %s %dx%d\n", qPrintable(path), screen.width(),
               screen.height());
  return !screen.isNull() && screen.save(path, "PNG");
}

bool append_host(const char* address, const char* name) {
  const char* hosts = std::getenv("QUORVEL_TEST_HOSTS");
  if (!hosts) return fail("QUORVEL_TEST_HOSTS is not set: run under tests/support/netns_run");
  QFile file(QString::fromLocal8Bit(hosts));
  const QByteArray line = QByteArray(address) + '\t' + name + '\n';
  return (file.open(QIODevice::Append) && file.write(line) == line.size()) ||
         fail("cannot append to the private hosts file");
}

// Recordings on for both channels, slow above 300 ms, the gateway on loopback.
bool write_settings(const QString& path) {
  QFile file(path);
  const QByteArray text =
      QByteArray("[pingtest]\ngway_ip=") + gateway_address +
      "\nouter_ip=0\ngway_pi_start=1\ngway_ou_start=1\nouter_pi_start=1\nouter_ou_start=1\n"
      "gway_pi_time=300\nouter_pi_time=300\n";
  return (file.open(QIODevice::WriteOnly) && file.write(text) == text.size()) ||
         fail("cannot write the settings file");
}

// The floating window over the upper right of the main window, on the empty part of the
// external log, where it hides no figure.
void place_float_over(QWidget& float_window, const QWidget& window) {
  const QPoint client = window.geometry().topLeft();
  float_window.move(client + QPoint(main_window::client_width - float_window.width() - 40, 322));
}

bool run_and_grab_float(main_window& window, answer_player& player, const QDir& out) {
  player.start();
  button(window, "btn_start")->click();
  if (!window.test_running()) return fail("the run did not start");
  pause_ms(float_after_s * 1000);
  button(window, "btn_window")->click();
  QWidget* float_window = top_level("win_float");
  if (!float_window) return fail("the floating window did not open");
  place_float_over(*float_window, window);
  pause_ms(ticks_shown_in_float * 1000 + 500);  // the labels leave N/A at each channel's tick
  for (const char* name : {"lable_wg", "lable_ww"}) {
    std::fprintf(stderr, "screenshot_tour: %s shows %s\n", name,
                 qPrintable(float_window->findChild<QLabel*>(name)->text()));
  }
  return save_screen(out.filePath("main_with_float.png"),
                     window.frameGeometry().united(float_window->frameGeometry()));
}

// The chart of the run so far, over all of it, in the middle of the screen.
bool grab_chart(main_window& window, const QDir& out) {
  pause_ms((chart_after_s - float_after_s - ticks_shown_in_float - 1) * 1000);
  button(window, "btn_window")->click();  // the floating window goes, so that it hides nothing
  window.show_chart();
  QWidget* chart = top_level("win_chart");
  if (!chart) return fail("the latency chart did not open");
  const QRect screen = QGuiApplication::primaryScreen()->geometry();
  chart->move(screen.center() - QPoint(chart->width() / 2, chart->height() / 2));
  pause_ms(1500);
  const bool saved = save_screen(out.filePath("chart_window.png"), chart->frameGeometry());
  chart->close();
  pause_ms(300);
  return saved;
}

bool stop_run(main_window& window) {
  button(window, "btn_stop")->click();
  // The controls unlock once both logs end with the stop line.
  return wait_until([&] { return button(window, "btn_start")->isEnabled(); }, 15000) ||
         fail("the run did not stop");
}

bool grab_record_list(main_window& window, const QDir& out) {
  for (const char* name : {"btn_wg_ping", "btn_wg_timeout", "btn_ww_ping", "btn_ww_timeout"}) {
    QPushButton* records = button(window, name);
    if (!records->isEnabled()) continue;
    records->click();
    pause_ms(500);
    QWidget* list = top_level("win_records");
    if (!list) return fail("the record list did not open");
    const bool saved = save_screen(out.filePath("record_list.png"), list->frameGeometry());
    list->close();
    pause_ms(300);
    return saved;
  }
  return fail("no episode was recorded");
}

bool grab_notes(main_window& window, const QDir& out) {
  bool saved = false;
  // The notes window is modal: the click returns only once this timer has closed it.
  QTimer::singleShot(1000, [&] {
    QWidget* notes = top_level("win_readme");
    if (!notes) return;
    saved = save_screen(out.filePath("notes_window.png"), notes->frameGeometry());
    notes->close();
  });
  button(window, "btn_readme")->click();
  return saved || fail("the notes window was not grabbed");
}

// The main window after a short run, alone.
bool grab_short_run(main_window& window, answer_player& player, const QString& path) {
  player.start();
  button(window, "btn_start")->click();
  if (!window.test_running()) return fail("the run did not start");
  pause_ms(short_run_s * 1000);
  if (!stop_run(window)) return false;
  pause_ms(500);
  return save_screen(path, window.frameGeometry());
}

// With `main_window_file`, only that picture is taken.
bool tour(const QDir& out, const QString& main_window_file) {
  echo_responder responder;
  if (!responder.running()) return fail(responder.failure().c_str());
  answer_player player(responder);
  const echo_availability echo = check_echo_available();
  if (!echo.available) return fail(echo.reason.c_str());
  QTemporaryDir dir;
  const QString ini = dir.filePath(QStringLiteral("ini.ini"));
  if (!append_host(external_address, external_name) || !write_settings(ini)) return false;

  main_window_setup setup = program_setup();
  setup.settings_file = ini.toStdString();
  main_window window(std::move(setup));
  window.show();
  pause_ms(500);
  if (!main_window_file.isEmpty())
    return grab_short_run(window, player, out.filePath(main_window_file));
  if (!run_and_grab_float(window, player, out) || !grab_chart(window, out) || !stop_run(window))
    return false;
  pause_ms(500);
  if (!save_screen(out.filePath("main_window_run.png"), window.frameGeometry())) return false;
  return grab_record_list(window, out) && grab_notes(window, out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: screenshot_tour OUTPUT_DIR [MAIN_WINDOW_FILE]\n");
    return 2;
  }
  if (!only_loopback_interface()) {
    fail("refusing to run: this network namespace has interfaces besides lo "
         "(run under tests/support/netns_run)");
    return 1;
  }
  QApplication app(argc, argv);
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!out.mkpath(QStringLiteral("."))) {
    fail("cannot create the output directory");
    return 1;
  }
  return tour(out, argc == 3 ? QString::fromLocal8Bit(argv[2]) : QString()) ? 0 : 1;
}
