// The small always-on-top window with each channel's last result, and its remembered place.
#pragma once

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <cstddef>
#include <cstdint>

namespace quorvel {

// The colours a result is shown in, by its latency level; levels below 1 are no answer.
struct level_colours {
  QColor text;
  QColor background;
};
// nullptr for level 5 and above, which leave the colours as they are.
const level_colours* colours_of_level(int latency_level);

// Channel 0 is the gateway (`lable_wg`, "网关:"), channel 1 the external host (`lable_ww`, "外网:").
class float_window_host : public QObject {
  Q_OBJECT
public:
  explicit float_window_host(QObject* parent = nullptr);
  ~float_window_host() override;  // destroys the window if open

  bool exists() const;
  QWidget* window() const;  // `win_float`, or nullptr
  void toggle();            // `btn_window`: open when closed, else destroy
  void destroy();           // no-op when closed
  void show_result(std::size_t channel, std::int32_t result, int latency_level);  // no-op if closed

private:
  class impl;
  impl* impl_;
};

}  // namespace quorvel
