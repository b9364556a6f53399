#include "windows/float_window.h"

#include "text/conversions.h"
#include "windows/window_support.h"

#include <QCloseEvent>
#include <QColor>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainterPath>
#include <QPalette>
#include <QPointer>
#include <QRegion>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>

namespace quorvel {

namespace {

constexpr int window_width = 70;
constexpr int window_height = 40;
constexpr int margin_right = 50;  // gap between the window and the screen's right edge
constexpr QColor window_background{0x80, 0xA0, 0x80};

struct label_form {
  const char* name;
  const char* prefix;
  int top;
};
constexpr std::array<label_form, 2> label_forms{{
    {"lable_wg", "网关:", 0},
    {"lable_ww", "外网:", 20},
}};

// Index 0 also serves every level below 1.
const std::array<level_colours, 5> colours_by_level{{
    {Qt::white, Qt::black},
    {Qt::black, QColor(0x00, 0xFF, 0x00)},
    {Qt::black, QColor(0x00, 0xFF, 0xFF)},
    {Qt::black, QColor(0xFF, 0xFF, 0x00)},
    {Qt::white, QColor(0xFF, 0x00, 0x00)},
}};

// A rounded rectangle whose corner ellipse is min(w/5, h/5) pixels wide and high.
QRegion rounded_region(int width, int height) {
  const int ellipse = std::min(width / 5, height / 5);
  QPainterPath path;
  path.addRoundedRect(QRectF(0, 0, width, height), ellipse / 2.0, ellipse / 2.0);
  return QRegion(path.toFillPolygon().toPolygon());
}

void set_label_colours(QLabel* label, const level_colours& colours) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, colours.text);
  palette.setColor(QPalette::Window, colours.background);
  label->setPalette(palette);
}

// Every text a label can show; a result has at most four digits, as a probe waits 5000 ms.
QStringList possible_label_texts() {
  QStringList texts;
  for (const label_form& form : label_forms) {
    const QString prefix = QString::fromUtf8(form.prefix);
    texts << prefix + "N/A" << prefix + QString::fromUtf8("超时");
    for (char digit = '0'; digit <= '9'; ++digit) texts << prefix + QString(4, digit) + "ms";
  }
  return texts;
}

// The labels start one pixel in, so the window's edge leaves them 69 pixels.
QFont label_font() {
  return font_fitting_width(chinese_font(12), possible_label_texts(), window_width - 1);
}

// Frameless, so it moves itself: a left-button drag anywhere, its labels included, carries it.
class float_widget : public QWidget {
public:
  explicit float_widget(float_window_host* host)
      : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
        host_(host) {
    setObjectName("win_float");
    setFixedSize(window_width, window_height);
    setMask(rounded_region(window_width, window_height));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, window_background);
    setPalette(palette);
    setAutoFillBackground(true);
    const QFont font = label_font();
    for (std::size_t i = 0; i < label_forms.size(); ++i) {
      auto* label = new QLabel(this);
      label->setObjectName(label_forms[i].name);
      label->setGeometry(1, label_forms[i].top, window_width, 20);
      label->setFont(font);
      label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      label->setAutoFillBackground(true);
      label->setText(QString::fromUtf8(label_forms[i].prefix) + "N/A");
      set_label_colours(label, colours_by_level[0]);
      label->installEventFilter(this);
      labels_[i] = label;
    }
  }

  QLabel* label(std::size_t channel) const { return labels_[channel]; }

  // Moves are remembered only once the window has been placed.
  std::function<void(QPoint)> on_moved;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (auto* mouse = dynamic_cast<QMouseEvent*>(event)) {
      if (drag(mouse)) return true;
    }
    return QWidget::eventFilter(watched, event);
  }
  void mousePressEvent(QMouseEvent* event) override {
    if (!drag(event)) QWidget::mousePressEvent(event);
  }
  void mouseMoveEvent(QMouseEvent* event) override {
    if (!drag(event)) QWidget::mouseMoveEvent(event);
  }
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (!drag(event)) QWidget::mouseReleaseEvent(event);
  }
  void moveEvent(QMoveEvent* event) override {
    QWidget::moveEvent(event);
    if (on_moved) on_moved(pos());
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (event->key() != Qt::Key_Escape) return QWidget::keyPressEvent(event);
    request_destroy();
  }
  // A close from elsewhere (the window manager, the application quitting) is let through and
  // ends the window the same way as Esc.
  void closeEvent(QCloseEvent* event) override {
    QWidget::closeEvent(event);
    request_destroy();
  }

private:
  // Not from inside our own event handler: the host deletes the window a moment later.
  void request_destroy() {
    QTimer::singleShot(0, host_, [host = host_, self = QPointer<QWidget>(this)] {
      if (self && host->window() == self) host->destroy();
    });
  }

  // True when the event belonged to a drag.
  bool drag(QMouseEvent* event) {
    const QPoint global = event->globalPosition().toPoint();
    switch (event->type()) {
      case QEvent::MouseButtonPress:
        if (event->button() != Qt::LeftButton) return false;
        dragging_ = true;
        grab_offset_ = global - pos();
        return true;
      case QEvent::MouseMove:
        if (!dragging_ || !(event->buttons() & Qt::LeftButton)) return false;
        move(global - grab_offset_);
        return true;
      case QEvent::MouseButtonRelease:
        if (event->button() != Qt::LeftButton || !dragging_) return false;
        dragging_ = false;
        return true;
      default:
        return false;
    }
  }

  float_window_host* host_;
  std::array<QLabel*, 2> labels_{};
  bool dragging_ = false;
  QPoint grab_offset_;
};

}  // namespace

const level_colours* colours_of_level(int latency_level) {
  if (latency_level >= static_cast<int>(colours_by_level.size())) return nullptr;
  return &colours_by_level[std::max(latency_level, 0)];
}

class float_window_host::impl {
public:
  QPointer<float_widget> window;
  // Where the user left the window; kept across openings for as long as the program runs.
  std::int32_t float_left = 0;
  std::int32_t float_top = 0;
  bool float_placed = false;

  void place(QWidget* widget) {
    if ((double(float_left) + double(float_top)) - 2.0 > 1e-7) {
      widget->move(float_left, float_top);
      return;
    }
    const QScreen* screen = QGuiApplication::primaryScreen();
    const double screen_width = screen ? screen->geometry().width() : 0;
    const auto left = static_cast<int>(truncate_to_int(screen_width - margin_right - widget->width()));
    widget->move(left, 1);
    float_left = widget->x();
    float_top = 1;
  }
};

float_window_host::float_window_host(QObject* parent) : QObject(parent), impl_(new impl) {}

float_window_host::~float_window_host() {
  destroy();
  delete impl_;
}

bool float_window_host::exists() const { return !impl_->window.isNull(); }

QWidget* float_window_host::window() const { return impl_->window.data(); }

void float_window_host::toggle() {
  if (exists()) {
    destroy();
    return;
  }
  auto* widget = new float_widget(this);
  impl_->window = widget;
  widget->on_moved = [this](QPoint place) {
    if (!impl_->float_placed) return;
    impl_->float_left = place.x();
    impl_->float_top = place.y();
  };
  impl_->place(widget);
  keep_out_of_taskbar(widget);
  widget->show();
  impl_->float_placed = true;
}

void float_window_host::destroy() {
  if (!exists()) return;
  impl_->float_placed = false;
  delete impl_->window.data();
}

void float_window_host::show_result(std::size_t channel, std::int32_t result, int latency_level) {
  if (!exists() || channel >= label_forms.size()) return;
  QLabel* label = impl_->window->label(channel);
  if (latency_level < static_cast<int>(colours_by_level.size())) {
    set_label_colours(label, colours_by_level[std::max(latency_level, 0)]);
  }
  const std::string figure = result == -1 ? "超时" : int_to_text(result) + "ms";
  label->setText(QString::fromUtf8(label_forms[channel].prefix) + QString::fromStdString(figure));
}

}  // namespace quorvel
