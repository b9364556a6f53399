#include "app/integer_edit.h"

#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace quorvel {
namespace {

bool is_c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool is_allowed_typed_char(QChar c) { return (c >= u'0' && c <= u'9') || c == u'-'; }

QString without_refused_chars(const QString& text) {
  QString kept;
  for (QChar c : text)
    if (is_allowed_typed_char(c)) kept += c;
  return kept;
}

// Printable text typed without a shortcut modifier is what the box would insert.
bool inserts_text(const QKeyEvent& event) {
  const QString text = event.text();
  if (text.isEmpty()) return false;
  if (event.modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) return false;
  for (QChar c : text)
    if (!c.isPrint()) return false;
  return true;
}

}  // namespace

std::string canonical_integer_text(std::string_view text) {
  constexpr std::int64_t high = std::numeric_limits<std::int32_t>::max();
  constexpr std::int64_t low = std::numeric_limits<std::int32_t>::min();
  std::size_t at = 0;
  while (at < text.size() && is_c_space(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  std::int64_t magnitude = 0;  // saturates just past the 32-bit range, which is all that matters
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
    magnitude = std::min<std::int64_t>(magnitude * 10 + (text[at] - '0'), high + 2);
  const std::int64_t value = std::clamp(negative ? -magnitude : magnitude, low, high);
  return value == 0 ? std::string() : std::to_string(value);
}

integer_edit::integer_edit(QWidget* parent) : QLineEdit(parent) {}

void integer_edit::keyPressEvent(QKeyEvent* event) {
  if (inserts_text(*event) && without_refused_chars(event->text()) != event->text()) {
    event->accept();  // refused, and not passed on to the window either
    return;
  }
  QLineEdit::keyPressEvent(event);
}

void integer_edit::inputMethodEvent(QInputMethodEvent* event) {
  const QString kept = without_refused_chars(event->commitString());
  if (kept == event->commitString()) {
    QLineEdit::inputMethodEvent(event);
    return;
  }
  QInputMethodEvent filtered(event->preeditString(), event->attributes());
  filtered.setCommitString(kept, event->replacementStart(), event->replacementLength());
  QLineEdit::inputMethodEvent(&filtered);
}

void integer_edit::focusOutEvent(QFocusEvent* event) {
  // A context menu opening over the box is not a focus loss; the paste it offers comes first.
  const bool lost = event->reason() != Qt::PopupFocusReason;
  if (lost) setText(QString::fromStdString(canonical_integer_text(text().toStdString())));
  QLineEdit::focusOutEvent(event);
  if (lost) emit focus_lost();
}

}  // namespace quorvel
