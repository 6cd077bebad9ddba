#include "ui/EnterKey.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPushButton>

namespace quavera {

bool HandleEnterKey(QWidget& window, QKeyEvent& event, QPushButton* defaultButton) {
    if (event.key() != Qt::Key_Return && event.key() != Qt::Key_Enter) {
        return false;
    }
    // Only Enter itself: Alt+Enter and friends are left to whatever else wants them.
    const Qt::KeyboardModifiers modifiers = event.modifiers() & ~Qt::KeypadModifier;
    if (modifiers != Qt::NoModifier) {
        return false;
    }
    auto* focused = qobject_cast<QPushButton*>(QApplication::focusWidget());
    QPushButton* target =
        (focused != nullptr && window.isAncestorOf(focused)) ? focused : defaultButton;
    if (target == nullptr || !target->isEnabled() || !target->isVisible()) {
        return false;
    }
    target->click();
    event.accept();
    return true;
}

} // namespace quavera
