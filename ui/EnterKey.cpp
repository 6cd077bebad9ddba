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

void FrameTheEnterTarget(QWidget& window, QPushButton* defaultButton) {
    auto frame = [&window, defaultButton](QWidget* focused) {
        auto* focusedButton = qobject_cast<QPushButton*>(focused);
        QPushButton* target = (focusedButton != nullptr && window.isAncestorOf(focusedButton))
                                  ? focusedButton
                                  : defaultButton;
        for (QPushButton* button : window.findChildren<QPushButton*>()) {
            button->setDefault(button == target);
        }
    };
    frame(window.focusWidget());
    QObject::connect(qApp, &QApplication::focusChanged, &window,
                     [&window, frame](QWidget* previous, QWidget* now) {
                         if ((previous != nullptr && window.isAncestorOf(previous)) ||
                             (now != nullptr && window.isAncestorOf(now))) {
                             frame(now);
                         }
                     });
}

} // namespace quavera
