#pragma once

#include <QPushButton>

namespace quavera {

// A push button whose caption wraps onto further lines when it is wider than the button, as
// the fixed layouts of the program's windows expect ("剪切其他格式？" takes two lines).
class WrappingButton : public QPushButton {
    Q_OBJECT
public:
    using QPushButton::QPushButton;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace quavera
