#include "ui/SecondaryWindow.h"

#include "ui/DesktopActions.h"

#include <QGuiApplication>
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

} // namespace quavera
