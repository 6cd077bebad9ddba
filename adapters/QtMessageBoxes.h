#pragma once

#include "interfaces/MessageBoxes.h"

#include <QPointer>
#include <QWidget>

namespace quavera {

// Modal Qt message boxes, centred on the owner window when one is set.
class QtMessageBoxes final : public MessageBoxes {
public:
    explicit QtMessageBoxes(QWidget* owner = nullptr) : owner_(owner) {}

    void setOwner(QWidget* owner) { owner_ = owner; }

    // OK is the default button. Closing a box that offers Cancel answers Cancel.
    MessageAnswer show(const std::string& text, const std::string& title, MessageIcon icon,
                       MessageButtons buttons) override;

private:
    QPointer<QWidget> owner_;
};

} // namespace quavera
