#pragma once

class QWidget;

namespace quavera {

// The windows are laid out in fixed places measured for a small font; the desktop's font (11 pt
// on GNOME, CJK faces with tall lines) can need more room. Gives each label and button of the
// window's own children the room its text needs at the font it has, and only where the text
// does not fit already: a label takes the lines it needs (a one-line label first widens into
// the free room on its right, up to the window's margin), a button widens to its caption.
// Controls a grown one now reaches into move down or right, just clear of it, and the window
// grows by what its controls need beyond its edges. Call once the controls are placed.
void GiveTextsRoom(QWidget& window);

} // namespace quavera
