#include "adapters/QtMessageBoxes.h"

#include <QMessageBox>
#include <QPushButton>

namespace quavera {

namespace {

QMessageBox::Icon toQtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::None:
        return QMessageBox::NoIcon;
    case MessageIcon::Critical:
        return QMessageBox::Critical;
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

} // namespace

MessageAnswer QtMessageBoxes::show(const std::string& text, const std::string& title,
                                   MessageIcon icon, MessageButtons buttons) {
    QMessageBox box(owner_.data());
    box.setWindowTitle(QString::fromStdString(title));
    box.setText(QString::fromStdString(text));
    // Our texts are plain; a "<" in a path must not turn the box into rich text.
    box.setTextFormat(Qt::PlainText);
    box.setIcon(toQtIcon(icon));

    QPushButton* okButton = box.addButton(QMessageBox::Ok);
    box.setDefaultButton(okButton);
    if (buttons == MessageButtons::OkCancel) {
        box.setEscapeButton(box.addButton(QMessageBox::Cancel));
    } else {
        box.setEscapeButton(okButton);
    }

    box.exec();
    // An OK-only box has one answer; leaving a box with Cancel any other way than OK cancels.
    if (buttons == MessageButtons::Ok || box.clickedButton() == okButton) {
        return MessageAnswer::Ok;
    }
    return MessageAnswer::Cancel;
}

} // namespace quavera
