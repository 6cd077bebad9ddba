#include "ui/SecondaryWindow.h"

#include "ui/DesktopActions.h"

#include <QGuiApplication>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

namespace quavera {

void SetUpSecondaryWindow(QWidget& window, Qt::WindowFlags flags) {
    window.setWindowFlags(flags);
    window.setWindowIcon(ProgramIcon());
    window.setAttribute(Qt::WA_DeleteOnClose);
    window.setAttribute(Qt::WA_QuitOnClose, true);
}

void CentreOnScreen(QWidget& window) {
    const QScreen* screen = window.screen();
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return;
    }
    QRect frame(QPoint(0, 0), window.size());
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

QPushButton* AddButton(QWidget* window, const char* name, const char* text, const QRect& place) {
    auto* button = new QPushButton(QString::fromUtf8(text), window);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(place);
    return button;
}

} // namespace quavera
