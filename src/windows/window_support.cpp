#include "windows/window_support.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHash>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

// The resource initialiser lives in the static library, so nothing would pull it into the
// program unless it is called; it must be called outside any namespace.
static void init_resources_once() {
  static const bool done = [] {
    Q_INIT_RESOURCE(windows);
    return true;
  }();
  (void)done;
}

namespace quorvel {

void init_window_resources() { init_resources_once(); }

QIcon program_icon() {
  init_window_resources();
  return QIcon(QStringLiteral(":/images/quorvel.png"));
}

// ---- the Chinese font ----

namespace {

// The faces of Debian's Chinese font packages, Simplified Chinese variants only.
const char* const known_chinese_families[] = {
    "WenQuanYi Micro Hei", "Noto Sans CJK SC", "Source Han Sans SC", "Source Han Sans CN",
    "WenQuanYi Zen Hei",   "AR PL UMing CN",   "AR PL UKai CN",      "Droid Sans Fallback",
};

bool names_simplified_chinese(const QString& family) {
  return family.endsWith(QLatin1String(" SC")) || family.endsWith(QLatin1String(" CN")) ||
         family.contains(QLatin1String("GB"));
}

}  // namespace

QStringList chinese_font_families() {
  QStringList families;
  for (const char* family : known_chinese_families) families << QString::fromLatin1(family);
  // Any other face that covers Simplified Chinese, those that name it first, as a last resort.
  QStringList others = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
  std::stable_partition(others.begin(), others.end(), names_simplified_chinese);
  for (const QString& family : others)
    if (!families.contains(family)) families << family;
  return families;
}

QString documents_folder() {
  const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
  return folder.isEmpty() ? QDir::homePath() : folder;
}

QFont chinese_font(int pixel_size) {
  QFont font;
  font.setFamilies(chinese_font_families());
  font.setPixelSize(pixel_size);
  font.setWeight(QFont::Normal);
  return font;
}

// ---- fitting texts ----

namespace {

constexpr int min_stretch = 80;  // narrower than this a Chinese face gets hard to read
constexpr int stretch_step = 5;
constexpr int min_pixel_size = 8;
// Glyphs drawn at a scale factor other than 1 may reach a fraction of a pixel further.
constexpr qreal ink_allowance = 1;

QString without_trailing_blanks(QString text) {
  while (!text.isEmpty() && text.back().isSpace()) text.chop(1);
  return text;
}

// How far the ink of `text` reaches from where its drawing starts. Trailing blanks may run under
// a neighbour; they are left out, as some faces give a blank a box of its own.
qreal ink_right(const QFontMetricsF& metrics, const QString& text) {
  const QString inked = without_trailing_blanks(text);
  return inked.isEmpty() ? 0 : metrics.tightBoundingRect(inked).right();
}

// A centred text must fit with its whole advance, or it would no longer be centred.
enum class measure { ink, advance };

bool texts_fit(const QFont& font, const QStringList& texts, qreal width, measure by) {
  const QFontMetricsF metrics(font);
  return std::all_of(texts.begin(), texts.end(), [&](const QString& text) {
    const qreal extent =
        by == measure::ink ? ink_right(metrics, text) : metrics.horizontalAdvance(text.trimmed());
    return extent <= width;
  });
}

int pixel_size_of(const QFont& font) {
  return font.pixelSize() > 0 ? font.pixelSize() : QFontInfo(font).pixelSize();
}

QFont fit_font(const QFont& font, const QStringList& texts, qreal width, measure by) {
  if (texts_fit(font, texts, width, by)) return font;
  QFont fitted = font;
  for (int stretch = 100 - stretch_step; stretch >= min_stretch; stretch -= stretch_step) {
    fitted.setStretch(stretch);
    if (texts_fit(fitted, texts, width, by)) return fitted;
  }
  for (int size = pixel_size_of(font) - 1; size >= min_pixel_size; --size) {
    fitted.setPixelSize(size);
    if (texts_fit(fitted, texts, width, by)) return fitted;
  }
  return fitted;
}

}  // namespace

QFont font_fitting_width(const QFont& font, const QStringList& texts, qreal width) {
  return fit_font(font, texts, width, measure::ink);
}

namespace {

// Where a control draws its text, in the control's own coordinates.
struct text_place {
  QRect area;
  QString text;
  bool centred = false;
};

QStyleOptionButton button_option(const QAbstractButton* button) {
  QStyleOptionButton option;
  option.initFrom(button);
  option.text = button->text();
  option.icon = button->icon();
  option.iconSize = button->iconSize();
  if (const auto* push = qobject_cast<const QPushButton*>(button)) {
    if (push->autoDefault()) option.features |= QStyleOptionButton::AutoDefaultButton;
    if (push->isDefault()) option.features |= QStyleOptionButton::DefaultButton;
    if (push->isFlat()) option.features |= QStyleOptionButton::Flat;
  }
  return option;
}

std::optional<text_place> text_place_of(const QWidget* control) {
  if (const auto* label = qobject_cast<const QLabel*>(control)) {
    if (label->text().isEmpty() || label->wordWrap()) return std::nullopt;
    const int margin = label->margin() + std::max(label->indent(), 0);
    return text_place{label->contentsRect().adjusted(margin, 0, -margin, 0), label->text(),
                      bool(label->alignment() & Qt::AlignHCenter)};
  }
  if (const auto* box = qobject_cast<const QCheckBox*>(control)) {
    if (box->text().isEmpty()) return std::nullopt;
    const QStyleOptionButton option = button_option(box);
    return text_place{box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box),
                      box->text(), false};
  }
  if (const auto* button = qobject_cast<const QPushButton*>(control)) {
    if (button->text().isEmpty()) return std::nullopt;
    const QStyleOptionButton option = button_option(button);
    return text_place{
        button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button),
        button->text(), true};
  }
  return std::nullopt;
}

bool has_text(const QWidget* widget) {
  if (const auto* label = qobject_cast<const QLabel*>(widget)) return !label->text().isEmpty();
  if (const auto* button = qobject_cast<const QAbstractButton*>(widget))
    return !button->text().isEmpty();
  return false;
}

// The controls of a window: its children and the children of its group boxes.
std::vector<QWidget*> controls_of(QWidget* window) {
  std::vector<QWidget*> controls;
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    QWidget* parent = widget->parentWidget();
    if (qobject_cast<QGroupBox*>(widget) || !widget->isVisibleTo(window)) continue;
    if (parent == window || (qobject_cast<QGroupBox*>(parent) && parent->parentWidget() == window))
      controls.push_back(widget);
  }
  return controls;
}

// Painting order: a widget is painted after its parent and over every widget met before it.
void number_in_paint_order(const QWidget* widget, QHash<const QWidget*, int>& order) {
  order.insert(widget, int(order.size()));
  for (const QObject* child : widget->children())
    if (const auto* child_widget = qobject_cast<const QWidget*>(child))
      number_in_paint_order(child_widget, order);
}

QRect rect_in(const QWidget* window, const QWidget* widget, const QRect& rect) {
  return rect.translated(widget->mapTo(window, QPoint(0, 0)));
}

// The room the text of `control` has, in pixels from where it starts.
qreal text_room(QWidget* window, const QWidget* control, const QRect& area,
                const std::vector<QWidget*>& controls, const QHash<const QWidget*, int>& order) {
  const QRect text_area = rect_in(window, control, area);
  int right = text_area.left() + text_area.width();
  for (const QWidget* other : controls) {
    if (other == control) continue;
    const QRect other_rect = rect_in(window, other, other->rect());
    if (!other_rect.intersects(text_area) || other_rect.left() <= text_area.left()) continue;
    if (order.value(other) > order.value(control) || has_text(other))
      right = std::min(right, other_rect.left());
  }
  return right - text_area.left();
}

}  // namespace

void fit_texts(QWidget* window) {
  window->ensurePolished();
  const std::vector<QWidget*> controls = controls_of(window);
  QHash<const QWidget*, int> order;
  number_in_paint_order(window, order);
  for (QWidget* control : controls) {
    control->ensurePolished();
    const std::optional<text_place> place = text_place_of(control);
    if (!place) continue;
    const qreal room = text_room(window, control, place->area, controls, order) - ink_allowance;
    const QFont fitted = fit_font(control->font(), {place->text}, room,
                                  place->centred ? measure::advance : measure::ink);
    if (fitted != control->font()) control->setFont(fitted);
  }
}

// ---- placement ----

QPoint centred_frame_origin(QSize frame, const QRect& area) {
  const QPoint centred(area.left() + (area.width() - frame.width()) / 2,
                       area.top() + (area.height() - frame.height()) / 2);
  return {std::max(centred.x(), area.left()), std::max(centred.y(), area.top())};
}

namespace {

constexpr int frame_poll_ms = 20;
constexpr int frame_poll_limit = 150;  // three seconds after the window is shown

// Centres a window's frame again once its window manager has told how large the frame is.
class frame_centring : public QObject {
public:
  frame_centring(QWidget* window, const QRect& area) : QObject(window), window_(window), area_(area) {
    window->installEventFilter(this);
    timer_.setInterval(frame_poll_ms);
    connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
  }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (watched == window_ && event->type() == QEvent::Show && !timer_.isActive()) timer_.start();
    return QObject::eventFilter(watched, event);
  }

private:
  void poll() {
    const QWindow* handle = window_->windowHandle();
    const QMargins margins = handle ? handle->frameMargins() : QMargins();
    if (!margins.isNull()) {
      const QSize frame = window_->size().grownBy(margins);
      window_->move(centred_frame_origin(frame, area_));
    }
    if (!margins.isNull() || ++polls_ >= frame_poll_limit) {
      window_->removeEventFilter(this);
      timer_.stop();
      deleteLater();
    }
  }

  QWidget* window_;
  QRect area_;
  QTimer timer_;
  int polls_ = 0;
};

}  // namespace

void centre_on_screen(QWidget* window, QScreen* screen) {
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  window->move(centred_frame_origin(window->frameGeometry().size(), area));
  new frame_centring(window, area);
}

// ---- taskbar ----

namespace {

xcb_atom_t intern_atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
  xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(connection, cookie, nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
  std::free(reply);
  return atom;
}

std::vector<xcb_atom_t> atoms_of(xcb_connection_t* connection, xcb_window_t window,
                                 xcb_atom_t property) {
  const xcb_get_property_cookie_t cookie =
      xcb_get_property(connection, 0, window, property, XCB_ATOM_ATOM, 0, 1024);
  xcb_get_property_reply_t* reply = xcb_get_property_reply(connection, cookie, nullptr);
  std::vector<xcb_atom_t> atoms;
  if (reply && reply->format == 32 && reply->type == XCB_ATOM_ATOM) {
    const auto* values = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply));
    atoms.assign(values, values + xcb_get_property_value_length(reply) / 4);
  }
  std::free(reply);
  return atoms;
}

}  // namespace

// Qt has no flag for these states. Qt merges the states it finds on an unmapped window into its
// own when it maps it, and a window manager drops the property when the window is withdrawn, so
// they are set anew before each show.
void keep_out_of_taskbar(QWidget* window) {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) return;
  const auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>();
  xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
  if (!connection) return;
  const auto id = static_cast<xcb_window_t>(window->winId());
  const xcb_atom_t state = intern_atom(connection, "_NET_WM_STATE");
  std::vector<xcb_atom_t> atoms = atoms_of(connection, id, state);
  for (const char* name : {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"}) {
    const xcb_atom_t atom = intern_atom(connection, name);
    if (std::find(atoms.begin(), atoms.end(), atom) == atoms.end()) atoms.push_back(atom);
  }
  xcb_change_property(connection, XCB_PROP_MODE_REPLACE, id, state, XCB_ATOM_ATOM, 32,
                      static_cast<uint32_t>(atoms.size()), atoms.data());
  xcb_flush(connection);
}

}  // namespace quorvel
