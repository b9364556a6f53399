#include "app/main_window.h"

#include "app/address_edit.h"
#include "app/channel_panel.h"
#include "app/desktop_notifier.h"
#include "app/event_wait.h"
#include "app/export_actions.h"
#include "app/probe_cycle.h"
#include "app/settings_file.h"
#include "app/tray_icon.h"
#include "probe/episode_alerts.h"
#include "text/conversions.h"
#include "text/time_stamp.h"
#include "windows/caption_frame.h"
#include "windows/chart_window.h"
#include "windows/echo_refusal.h"
#include "windows/float_window.h"
#include "windows/notes_window.h"
#include "windows/record_window.h"
#include "windows/window_support.h"

#include <QAction>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScreen>

#include <algorithm>
#include <utility>

namespace quorvel {

namespace {

// The external targets offered; only the index is stored.
constexpr std::array<const char*, 2> external_hosts{"baidu.com", "www.qq.com"};
constexpr const char* start_text = "开始进行测试...";
constexpr int stop_wait_ms = 1000;

void show_notice(const QString& text, QMessageBox::Icon icon) {
  QMessageBox box(icon, QStringLiteral("温馨提示："), text, QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  box.exec();
}

}  // namespace

main_window_setup program_setup() {
  return {settings_path(), echo_prober(), check_echo_available};
}

struct main_window::impl {
  impl(main_window& window, main_window_setup setup)
      : window(window), setup(std::move(setup)), float_host(&window) {}

  main_window& window;
  const main_window_setup setup;
  bool test_running = false;
  bool closing = false;  // nothing is saved once the window is going away
  std::array<probe_channel, 2> channels;
  probe_record_list probe_records;  // both channels' probes of the run, in shown order
  float_window_host float_host;
  QLineEdit* address = nullptr;
  QComboBox* host_list = nullptr;
  QPushButton* start_button = nullptr;
  QPushButton* stop_button = nullptr;
  QPushButton* float_button = nullptr;
  QPushButton* readme_button = nullptr;
  std::array<std::unique_ptr<channel_panel>, 2> panels;
  std::array<std::unique_ptr<probe_cycle>, 2> cycles;
  event_wait stop_wait;
  std::string run_start;  // time stamp text of the last start
  episode_alerts alerts;
  desktop_notifier notifier{desktop_notifier::session_bus_address()};
  export_actions* exports = nullptr;
  tray_icon* tray = nullptr;

  void build() {
    build_top_bar();
    for (std::size_t i = 0; i < panels.size(); ++i) {
      const channel_layout& layout = channel_layouts[i];
      panels[i] = std::make_unique<channel_panel>(&window, layout, float_host, i);
      cycles[i] = std::make_unique<probe_cycle>(channels[i], *panels[i], layout.caption_prefix,
                                                test_running, setup.prober, &window);
      cycles[i]->timer().setObjectName(QStringLiteral("时钟_") + QString::fromUtf8(layout.infix));
      panels[i]->attach_records(probe_records);
      cycles[i]->set_tick_observer([this, i](const tick_outcome& outcome) { on_tick(i, outcome); });
    }
    QAction* open_chart = add_chart_actions();
    build_exports();
    tray = new tray_icon(&window, tray_buttons_of_window());
    tray->add_item(open_chart);
  }

  QAction* add_chart_actions() {
    auto* open_chart = new QAction(QStringLiteral("延迟曲线…"), &window);
    open_chart->setObjectName(QStringLiteral("action_chart"));
    QObject::connect(open_chart, &QAction::triggered, &window, &main_window::show_chart);
    for (const auto& panel : panels) panel->log()->add_context_action(open_chart);
    return open_chart;
  }

  chart_source chart_source_of_run() {
    return {&probe_records, [this](std::size_t channel) -> std::optional<std::int32_t> {
              const tracker_settings high_ping =
                  panels.at(channel)->read_tracker_settings(episode_kind::high_ping);
              if (!high_ping.enabled) return std::nullopt;
              return high_ping.threshold_ms;
            }};
  }

  void build_exports() {
    export_sources sources;
    sources.log_lines = [this](std::size_t i) { return log_lines(i); };
    sources.run_start = [this] { return run_start; };
    exports = new export_actions(&window, std::move(sources));
    exports->set_probe_rows([this] { return probe_rows_of_run(); });
    for (std::size_t i = 0; i < panels.size(); ++i) exports->add_log_actions(*panels[i]->log(), i);
  }

  // A line's text lives in the buffer until the next line is asked for.
  text_lines log_lines(std::size_t channel) const {
    const probe_log& log = panels[channel]->log()->store();
    auto text = std::make_shared<std::string>();
    return {log.line_count(), [&log, text](std::size_t line) -> std::string_view {
              *text = log.line(line);
              return *text;
            }};
  }

  probe_rows probe_rows_of_run() const {
    auto stamp = std::make_shared<std::string>();
    return {probe_records.size(), [this, stamp](std::size_t position) {
              const shown_probe probe = probe_records.at(position);
              *stamp = probe_time_stamp(probe.time);
              return probe_row{*stamp, probe.channel, probe.result};
            }};
  }

  tray_buttons tray_buttons_of_window() {
    tray_buttons buttons{start_button, stop_button, float_button, {}};
    std::size_t next = 0;
    for_each_option([&](std::size_t, record_option& option) {
      buttons.records[next++] = option.records_button;
    });
    return buttons;
  }

  // The watchers of each tick: notifications from the episodes, the tray icon's figures.
  void on_tick(std::size_t channel_index, const tick_outcome& outcome) {
    for (const episode_step& step : outcome.episodes) {
      if (const auto alert = alerts.observe(channel_index, step))
        notifier.notify(QString::fromStdString(alert->summary), QString::fromStdString(alert->body));
    }
    tray->show_result(channel_index, outcome.result, outcome.latency_level,
                      channels[channel_index].stats);
  }

  void build_top_bar() {
    auto* bar = place<caption_frame>(&window, "分组框1", 8, 8, 1005, 48);
    bar->setTitle(QStringLiteral("网关地址"));
    place_label(bar, "标签1", 8, 16, 128, 24, "局域网网关地址：");
    address = place<address_edit>(bar, "编辑框", 116, 16, 252, 24);
    address->setText(QStringLiteral("192.168.0.1"));
    place_label(bar, "标签2", 375, 16, 78, 24, "外网地址：");
    host_list = place<QComboBox>(bar, "组合框", 443, 17, 122, 22);
    for (const char* host : external_hosts) host_list->addItem(QString::fromUtf8(host));
    start_button = place_button(bar, "btn_start", 577, "开始测试");
    stop_button = place_button(bar, "btn_stop", 685, "停止测试");
    stop_button->setEnabled(false);
    float_button = place_button(bar, "btn_window", 793, "悬浮窗");
    float_button->setEnabled(false);
    readme_button = place_button(bar, "btn_readme", 904, "程序说明");
  }

  static QPushButton* place_button(QWidget* bar, const char* name, int left, const char* text) {
    auto* button = place<QPushButton>(bar, name, left, 16, 96, 24);
    button->setText(QString::fromUtf8(text));
    return button;
  }

  std::string read(const std::string& key, std::string_view default_text) const {
    return read_setting(setup.settings_file, settings_section, key, default_text);
  }

  void write(const std::string& key, std::string_view value) const {
    if (!closing) write_setting(setup.settings_file, settings_section, key, value);
  }

  // The window's created handler: every option from the settings file, in the stored order. The
  // handlers are connected only afterwards, so the ones a restore triggers are run here by hand:
  // an equal text would raise no change event, yet the address must be written back.
  void restore_settings() {
    const std::string stored_address = read("gway_ip", "192.168.0.1");
    address->setText(QString::fromStdString(stored_address));
    write("gway_ip", stored_address);  // the bytes as read, which the box may show otherwise
    restore_index(*host_list, "outer_ip");
    for (std::size_t i = 0; i < panels.size(); ++i) restore_channel(i);
  }

  void restore_channel(std::size_t index) {
    channel_panel& panel = *panels[index];
    record_option& ping = panel.option(episode_kind::high_ping);
    record_option& timeout = panel.option(episode_kind::timeout);
    ping.threshold->setText(QString::fromStdString(read(ping.threshold_key, "500")));
    restore_index(*ping.ignore_list, ping.ignore_key);
    restore_index(*timeout.ignore_list, timeout.ignore_key);
    for (record_option* option : {&ping, &timeout}) {
      option->record_box->setChecked(text_to_int(read(option->start_key, "0")) != 0);
      on_record_box_clicked(index, *option);
    }
  }

  // An index past the last item selects the last one, a negative one selects nothing.
  static void set_index_clamped(QComboBox& list, int index) {
    list.setCurrentIndex(std::clamp(index, -1, list.count() - 1));
  }

  void restore_index(QComboBox& list, const std::string& key) {
    set_index_clamped(list, text_to_int(read(key, "0")));
  }

  void connect_handlers() {
    connect_option_handlers();
    connect_command_handlers();
  }

  void connect_option_handlers() {
    QObject::connect(address, &QLineEdit::textChanged, &window, [this] { save_address(); });
    connect_index_saving(*host_list, "outer_ip");
    for (std::size_t i = 0; i < panels.size(); ++i) {
      for (record_option& option : panels[i]->options()) {
        QObject::connect(option.record_box, &QCheckBox::clicked, &window,
                         [this, i, &option] { on_record_box_clicked(i, option); });
        connect_index_saving(*option.ignore_list, option.ignore_key);
        if (option.threshold) {
          QObject::connect(option.threshold, &integer_edit::focus_lost, &window,
                           [this, &option] { on_threshold_focus_lost(option); });
        }
      }
    }
  }

  // Saved on the user's pick only: writing an index by program must not save it.
  void connect_index_saving(QComboBox& list, std::string key) {
    QObject::connect(&list, &QComboBox::activated, &window, [this, &list, key] {
      write(key, int_to_text(list.currentIndex()));
    });
  }

  void save_address() { write("gway_ip", address->text().toStdString()); }

  void on_record_box_clicked(std::size_t channel_index, record_option& option) {
    const bool checked = option.record_box->isChecked();
    if (option.threshold) option.threshold->setEnabled(!checked);
    option.ignore_list->setEnabled(!checked);
    channels[channel_index].tracker(option.kind).is_open = false;  // an open episode is dropped
    option.record_box->setEnabled(start_button->isEnabled());
    write(option.start_key, checked ? "1" : "0");
  }

  void on_threshold_focus_lost(record_option& option) {
    if (closing) return;
    if (text_to_int(option.threshold->text().toStdString()) < 1)
      option.threshold->setText(QStringLiteral("500"));
    write(option.threshold_key, option.threshold->text().toStdString());
  }

  void connect_command_handlers() {
    QObject::connect(start_button, &QPushButton::clicked, &window, [this] { on_start_clicked(); });
    QObject::connect(stop_button, &QPushButton::clicked, &window, [this] { on_stop_clicked(); });
    QObject::connect(float_button, &QPushButton::clicked, &float_host, &float_window_host::toggle);
    QObject::connect(readme_button, &QPushButton::clicked, &window,
                     [this] { show_notes_window(&window); });
    for (const auto& panel : panels) {
      for (record_option& option : panel->options()) {
        QObject::connect(option.records_button, &QPushButton::clicked, &window,
                         [this] { open_records(); });
      }
    }
    for (const auto& cycle : cycles) {
      for (const auto signal : {&probe_cycle::tick_finished, &probe_cycle::wound_down})
        QObject::connect(cycle.get(), signal, &window, [this] { stop_wait.recheck(); });
    }
  }

  void open_records() {
    show_record_window(&window, record_lists_of_channels(),
                       [this](QWidget* records_window, record_list_copies shown) {
                         exports->export_records(records_window, std::move(shown));
                       });
  }

  record_lists record_lists_of_channels() const {
    return {&channels[0].high_ping_records, &channels[0].timeout_records,
            &channels[1].high_ping_records, &channels[1].timeout_records};
  }

  template <class Action>
  void for_each_option(Action action) {
    for (std::size_t i = 0; i < panels.size(); ++i)
      for (record_option& option : panels[i]->options()) action(i, option);
  }

  bool echo_available() const {
    if (!setup.check_echo) return true;
    const echo_availability echo = setup.check_echo();
    if (echo.available) return true;
    show_echo_refusal(echo);
    return false;
  }

  void on_start_clicked() {
    if (closing || !echo_available()) return;
    reset_for_run();
    channels[0].target_host = trim_text(address->text().toStdString());
    if (channels[0].target_host.empty()) {
      show_notice(QStringLiteral("局域网网关不能为空！"), QMessageBox::NoIcon);
      return;
    }
    channels[1].target_host = host_list->currentText().toStdString();
    for (std::size_t i = 0; i < panels.size(); ++i) {
      channels[i].stats_reset_pending = true;
      test_running = true;
      panels[i]->append_log(start_text);
    }
    run_start = time_stamp_text(current_date_time());
    for (const auto& cycle : cycles) cycle->arm();
    set_run_controls(true);
    tray->set_running(true);
  }

  // What every start does first, refused or not: figures, logs, records and captions cleared.
  void reset_for_run() {
    exports->abandon();  // its data is about to go
    for (const auto& panel : panels) panel->clear_figures();
    probe_records.clear();
    for_each_option([](std::size_t, record_option& option) {
      option.records_button->setEnabled(false);
    });
    for (probe_channel& channel : channels) {
      channel.high_ping_records.clear();
      channel.timeout_records.clear();
    }
    for (probe_channel& channel : channels) {
      channel.high_ping_tracker.is_open = false;
      channel.timeout_tracker.is_open = false;
    }
    for_each_option([](std::size_t, record_option& option) {
      option.record_box->setEnabled(!option.record_box->isChecked());
    });
    for (const auto& panel : panels)
      panel->group()->setTitle(QString::fromUtf8(panel->layout().caption));
  }

  void set_run_controls(bool running) {
    const bool start_had_focus = window.focusWidget() == start_button;
    address->setEnabled(!running);
    host_list->setEnabled(!running);
    start_button->setEnabled(!running);
    stop_button->setEnabled(running);
    float_button->setEnabled(running);
    // The focus goes to the button that now does the job, not on down the tab order.
    if (running && start_had_focus) stop_button->setFocus(Qt::OtherFocusReason);
  }

  void on_stop_clicked() {
    test_running = false;
    tray->set_running(false);
    // Until 开始测试 is back the focus waits on the window itself, where a key does no harm.
    const bool stop_had_focus = window.focusWidget() == stop_button;
    if (stop_had_focus) window.setFocus(Qt::OtherFocusReason);
    stop_button->setEnabled(false);
    float_button->setEnabled(false);
    // The channels' final ticks run inside this wait; the controls unlock once both wound down.
    stop_wait.wait_with_events(stop_wait_ms, 0, [this] { return all_cycles_stopped(); });
    if (closing) return;
    address->setEnabled(true);
    host_list->setEnabled(true);
    start_button->setEnabled(true);
    for_each_option([](std::size_t, record_option& option) {
      option.record_box->setEnabled(true);
    });
    if (stop_had_focus && window.focusWidget() == &window)
      start_button->setFocus(Qt::OtherFocusReason);
  }

  bool all_cycles_stopped() const {
    return std::all_of(cycles.begin(), cycles.end(),
                       [](const auto& cycle) { return !cycle || cycle->stopped(); });
  }

  // Closing the window abandons a run at once: no final probe, no stop text.
  void abandon_run() {
    for (auto& cycle : cycles) cycle.reset();
    stop_wait.cancel();
  }

  void centre_on_screen() { quorvel::centre_on_screen(&window, QGuiApplication::primaryScreen()); }

  void close_owned_windows() {
    float_host.destroy();  // it has no owner, so nothing else would close it
    for (QWidget* child : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
      if (child->isWindow()) child->close();
  }
};

main_window::main_window(main_window_setup setup, QWidget* parent)
    : QWidget(parent), impl_(std::make_unique<impl>(*this, std::move(setup))) {
  setObjectName(QStringLiteral("win_main"));
  setWindowTitle(QStringLiteral("Quorvel v1.1"));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(window_font());
  setFixedSize(client_width, client_height);
  impl_->build();
  fit_texts(this);
  impl_->restore_settings();
  impl_->connect_handlers();
  impl_->centre_on_screen();
}

main_window::~main_window() {
  // The controls go first, while the handlers that their last events reach still have their state.
  impl_->closing = true;
  impl_->abandon_run();
  qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

probe_channel& main_window::channel(std::size_t index) { return impl_->channels.at(index); }

bool main_window::test_running() const { return impl_->test_running; }

const probe_record_list& main_window::probe_records() const { return impl_->probe_records; }

void main_window::show_chart() { show_chart_window(this, impl_->chart_source_of_run()); }

void main_window::set_probe_rows_source(std::function<probe_rows()> source) {
  impl_->exports->set_probe_rows(std::move(source));
}

tray_icon& main_window::tray() { return *impl_->tray; }

void main_window::keyPressEvent(QKeyEvent* event) {
  // Reaches the window only when the focused control did not take the key.
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void main_window::closeEvent(QCloseEvent* event) {
  impl_->closing = true;
  impl_->abandon_run();
  impl_->close_owned_windows();
  event->accept();
}

}  // namespace quorvel
