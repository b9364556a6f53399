// The record list window: a snapshot of the four episode lists.
#pragma once

#include "probe/episode_recorder.h"

#include <array>
#include <vector>

class QWidget;

namespace quorvel {

// Gateway high ping, gateway timeout, external high ping, external timeout.
using record_lists = std::array<const std::vector<episode_record>*, 4>;

// Opens `win_records` owned by `owner`, not modal; when one is open already it is only raised
// (and un-minimised), not filled again. Returns the window.
QWidget* show_record_window(QWidget* owner, const record_lists& lists);

}  // namespace quorvel
