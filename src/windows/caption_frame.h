// A group box drawn with its caption on the frame's top line, so that controls placed 16 pixels
// below its top edge clear both the caption and the line.
#pragma once

#include <QGroupBox>

namespace quorvel {

class caption_frame : public QGroupBox {
  Q_OBJECT
public:
  using QGroupBox::QGroupBox;

protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace quorvel
