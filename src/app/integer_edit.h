// A single-line box for a whole number: typing is limited to digits and "-", and on focus loss
// the text is first rewritten to the number's canonical form.
#pragma once

#include <QLineEdit>

#include <string>
#include <string_view>

namespace quorvel {

// Reads the text as strtoll would (leading white space, one sign, digits up to the first other
// character), clamps to 32 bits and writes it back in decimal; a value of 0 gives the empty text.
std::string canonical_integer_text(std::string_view text);

class integer_edit : public QLineEdit {
  Q_OBJECT
public:
  explicit integer_edit(QWidget* parent = nullptr);

signals:
  // After the text was made canonical.
  void focus_lost();

protected:
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
};

}  // namespace quorvel
