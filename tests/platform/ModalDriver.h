#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace quavera::testing {

// Runs `action` on the first visible modal window of type Dialog, from inside that window's own
// event loop. The action must close the window; it records what it saw for the test to check
// afterwards, since a failed check inside it could not end the modal loop.
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
        action(dialog);
    });
    poll->start();
}

} // namespace quavera::testing
