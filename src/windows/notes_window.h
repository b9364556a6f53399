// The program notes window.
#pragma once

class QWidget;

namespace quorvel {

// Opens `win_readme` modal over `owner` and returns when it is closed.
void show_notes_window(QWidget* owner);

}  // namespace quorvel
