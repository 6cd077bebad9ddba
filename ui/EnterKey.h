#pragma once

class QKeyEvent;
class QPushButton;
class QWidget;

namespace quavera {

// Qt gives default buttons to dialogs only; the program's windows are plain widgets, so they
// route Enter themselves: Enter clicks the button that has the focus, and otherwise the
// window's default button, if it has one (nullptr: none).
// Call from the window's keyPressEvent; returns true when the key was used.
bool HandleEnterKey(QWidget& window, QKeyEvent& event, QPushButton* defaultButton);

// Keeps the default frame on the button that Enter clicks, as a dialog does: the focused push
// button takes it over, and the default button has it back when no push button has the focus.
void FrameTheEnterTarget(QWidget& window, QPushButton* defaultButton);

} // namespace quavera
