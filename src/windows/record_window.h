// The record list window: a snapshot of the four episode lists.
#pragma once

#include "probe/episode_recorder.h"
#include "probe/export_formats.h"

#include <array>
#include <functional>
#include <vector>

class QWidget;

namespace quorvel {

// Gateway high ping, gateway timeout, external high ping, external timeout.
using record_lists = std::array<const std::vector<episode_record>*, 4>;

// "导出全部记录…" in the lists' context menu: given the window and copies of what it shows.
using record_export_handler = std::function<void(QWidget* window, record_list_copies shown)>;

// Opens `win_records` owned by `owner`, not modal; when one is open already it is only raised
// (and un-minimised), not filled again. Returns the window. Without a handler the lists have no
// context menu.
QWidget* show_record_window(QWidget* owner, const record_lists& lists,
                            record_export_handler export_all = {});

}  // namespace quorvel
