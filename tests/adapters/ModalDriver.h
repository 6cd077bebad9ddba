#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace quavera::testing {

// Runs `action` on the first visible modal window of type Dialog, from inside that window's own
// event loop. The action must close the window; it records what it saw for the test to check
// afterwards, since a failed check inside it could not end the modal loop. A window the action
// left open is rejected after a while, so a broken test fails instead of hanging.
template <typename Dialog> void whenModalAppears(std::function<void(Dialog*)> action) {
    auto* poll = new QTimer(qApp);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action = std::move(action)] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        if (dialog == nullptr || !dialog->isVisible()) {
            return;
        }
        poll->stop();
        poll->deleteLater();
        const QPointer<Dialog> shown(dialog);
        action(dialog);
        QTimer::singleShot(5000, qApp, [shown] {
            if (shown != nullptr && shown->isVisible()) {
                shown->reject();
            }
        });
    });
    poll->start();
}

// Puts the path into a file dialog's name box and presses Enter, as a user would. Pasted rather
// than typed: the test keyboard knows only ASCII keys.
inline void confirmPathIn(QFileDialog* dialog, const QString& path) {
    auto* nameBox = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    nameBox->setText(path);
    QTest::keyClick(nameBox, Qt::Key_Return);
}

} // namespace quavera::testing
