#pragma once

#include <QAccessible>

class QString;
class QWidget;

namespace quavera {

// Name of the child that carries a window's announcements.
inline constexpr char kAnnouncerName[] = "announcer";

// The role a screen reader is told for `widget`. Qt tells a plain QWidget window the role of a
// client area, which AT-SPI readers call "filler"; the program's windows are frames and dialogs.
void SetAccessibleRole(QWidget& widget, QAccessible::Role role);

// Has a screen reader say `text` without moving the focus (a Start taken, a finished cut).
// Qt 6.4 has no announcement event, and its AT-SPI bridge drops Alert events; what Orca does
// speak, wherever the focus is, is a notification that shows. So the window keeps a child of
// that role, named with the text, and shows it anew for every announcement. It is one pixel,
// draws nothing and takes neither the focus nor the mouse.
void Announce(QWidget& window, const QString& text);

} // namespace quavera
