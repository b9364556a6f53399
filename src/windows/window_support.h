// What the program's windows share: the built-in images, the Chinese font, fitting texts to their
// controls, where a new window opens, and keeping a window out of the taskbar.
#pragma once

#include <QFont>
#include <QIcon>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStringList>

class QScreen;
class QWidget;

namespace quorvel {

// Registers the images built into the windows library; safe to call more than once.
void init_window_resources();

// The program's icon, for QApplication::setWindowIcon.
QIcon program_icon();

// The faces asked for every text, Simplified Chinese ones first: a locale other than Chinese
// would otherwise let fontconfig pick the Japanese variant of a pan-CJK face.
QStringList chinese_font_families();

// A normal-weight font of those faces at `pixel_size`.
QFont chinese_font(int pixel_size);

// Where a save dialog starts: the user's documents folder, else the home folder.
QString documents_folder();

// `font`, narrowed and if need be shrunk just enough that the ink of each text fits `width`.
QFont font_fitting_width(const QFont& font, const QStringList& texts, qreal width);

// Gives each label, check box and button of `window` whose text would not show whole a narrower
// or smaller font. A text's room ends at its control's edge or at the first control to its right
// that covers it (drawn above it, or with a text of its own); trailing blanks may run under it.
void fit_texts(QWidget* window);

// Where a frame of `frame` size lies centred on `area`; one that is larger keeps its top-left
// corner (title bar and all) on the area.
QPoint centred_frame_origin(QSize frame, const QRect& area);

// Centres the window's frame on the available geometry of `screen` (the primary one when null);
// the frame is measured again once the window manager has reported it.
void centre_on_screen(QWidget* window, QScreen* screen);

// Under X11, keeps a window out of the taskbar and the pager; call before every show.
void keep_out_of_taskbar(QWidget* window);

}  // namespace quorvel
