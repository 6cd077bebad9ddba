#pragma once

#include <Qt>

class QPushButton;
class QRect;
class QWidget;

namespace quavera {

// Gives a window without owner the traits the preview and About windows share: the given
// tool-window flags, the program icon, deletion when closed, and a part in keeping the program
// alive (Qt drops that for tool windows, which would end the program with the main window).
void SetUpSecondaryWindow(QWidget& window, Qt::WindowFlags flags);

// Places a window without owner in the middle of the screen it is on.
void CentreOnScreen(QWidget& window);

// A push button of the window, named and placed; `text` is UTF-8.
QPushButton* AddButton(QWidget* window, const char* name, const char* text, const QRect& place);

} // namespace quavera
