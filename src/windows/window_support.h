// What the program's windows share: the built-in images and where a new window opens.
#pragma once

#include <QIcon>

class QWidget;

namespace quorvel {

// Registers the images built into the windows library; safe to call more than once.
void init_window_resources();

// The program's icon, for QApplication::setWindowIcon.
QIcon program_icon();

// Moves a window so that it lies centred on the primary screen.
void centre_on_primary_screen(QWidget* window);

}  // namespace quorvel
