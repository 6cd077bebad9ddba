#pragma once

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QUrl>
#include <QWidget>
#include <memory>
#include <vector>

namespace quavera::testing {

// Drags `urls` over `target`'s centre and drops them there if the drag is accepted, the way the
// window system delivers a drop to the widget under the pointer. Tells whether both the drag
// and the drop were accepted.
inline bool DropUrls(QWidget& target, const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint centre = target.rect().center();
    QDragEnterEvent enter(centre, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                          Qt::NoModifier);
    QApplication::sendEvent(&target, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(centre), enter.dropAction(), &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&target, &drop);
    return drop.isAccepted();
}

// Presses every command of the main window, as a cut that yields to the event loop would see
// them: each button by mouse, the access keys (waiting until each click has reached its button),
// then Enter; and drops a file on it.
inline void PressEveryCommand(QWidget& window) {
    DropUrls(window, {QUrl::fromLocalFile(QStringLiteral("/elsewhere/dropped.mp3"))});
    auto button = [&window](const char* name) {
        return window.findChild<QPushButton*>(QLatin1String(name));
    };
    for (const char* name : {"cmdBrowseS", "cmdBrowseD", "cmdO", "cmdQ", "Command1", "Command2",
                             "Command3", "Command4"}) {
        QTest::mouseClick(button(name), Qt::LeftButton);
    }
    std::vector<std::unique_ptr<QSignalSpy>> clicks;
    for (const char* name : {"cmdQ", "Command1", "Command2", "Command3"}) {
        clicks.push_back(std::make_unique<QSignalSpy>(button(name), &QPushButton::clicked));
    }
    for (Qt::Key key : {Qt::Key_S, Qt::Key_P, Qt::Key_T, Qt::Key_A}) {
        QTest::keyClick(window.windowHandle(), key, Qt::AltModifier);
    }
    for (const auto& spy : clicks) {
        QTRY_COMPARE(spy->count(), 1);
    }
    QTest::keyClick(window.windowHandle(), Qt::Key_Return);
}

} // namespace quavera::testing
